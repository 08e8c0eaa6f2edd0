#include "metadata/photoshop_resources.h"

#include <algorithm>
#include <cstring>
#include <functional>
#include <iterator>

#include "base/big_endian.h"
#include "base/item_types.h"
#include "platform/owned.h"

namespace {

constexpr uint16_t kThumbnailIds[] = {1033, 1036};  // Photoshop 4, and 5 and later
constexpr uint16_t kXmpId = 1060;
constexpr OSType kImageResourcesItem = kTiffItemBase + 0x8649;

// The bytes the resource at `at` takes (signature, ID, name, size, data,
// each padded to an even length), or 0 when it does not hold together.
size_t ResourceBytes(std::span<const uint8_t> block, size_t at) {
  const size_t left = block.size() - at;
  if (left < 7) return 0;
  const size_t name = 1 + block[at + 6];
  const size_t sizeAt = 6 + name + name % 2;
  if (left < sizeAt + 4) return 0;
  const uint64_t data = ReadBigEndian32(block.data() + at + sizeAt);
  const uint64_t bytes = sizeAt + 4 + data + data % 2;
  // The last resource's padding may be missing.
  if (bytes > left + data % 2) return 0;
  return size_t(std::min<uint64_t>(bytes, left));
}

// The ID of the resource at `at`, or 0 for a signature other than Photoshop's.
uint16_t IdAt(std::span<const uint8_t> block, size_t at) {
  return std::memcmp(block.data() + at, "8BIM", 4) == 0 ? ReadBigEndian16(block.data() + at + 4)
                                                        : 0;
}

// The block with each resource replaced by what change makes of it (the
// resource's bytes and its ID; nothing leaves it out).
std::vector<uint8_t> EachResource(
    std::span<const uint8_t> block,
    const std::function<std::vector<uint8_t>(std::span<const uint8_t>, uint16_t)>& change) {
  std::vector<uint8_t> kept;
  size_t at = 0;
  for (size_t bytes; at < block.size() && (bytes = ResourceBytes(block, at)) != 0; at += bytes) {
    const std::vector<uint8_t> resource = change(block.subspan(at, bytes), IdAt(block, at));
    kept.insert(kept.end(), resource.begin(), resource.end());
  }
  kept.insert(kept.end(), block.begin() + long(at), block.end());
  return kept;
}

}  // namespace

std::vector<uint8_t> WithoutPhotoshopThumbnails(std::span<const uint8_t> block) {
  return EachResource(block, [](std::span<const uint8_t> resource, uint16_t id) {
    const bool thumbnail = std::find(std::begin(kThumbnailIds), std::end(kThumbnailIds), id) !=
                           std::end(kThumbnailIds);
    return thumbnail ? std::vector<uint8_t>{}
                     : std::vector<uint8_t>(resource.begin(), resource.end());
  });
}

std::vector<uint8_t> WithPhotoshopXmpChanged(
    std::span<const uint8_t> block, const std::function<std::string(std::string_view)>& change) {
  return EachResource(block, [&change](std::span<const uint8_t> resource, uint16_t id) {
    std::vector<uint8_t> changed(resource.begin(), resource.end());
    if (id != kXmpId) return changed;
    const size_t name = 1 + resource[6];
    const size_t dataAt = 6 + name + name % 2 + 4;
    const size_t size =
        std::min<size_t>(ReadBigEndian32(&resource[dataAt - 4]), resource.size() - dataAt);
    const std::string packet =
        change({reinterpret_cast<const char*>(resource.data() + dataAt), size});
    if (packet.size() == size && std::equal(packet.begin(), packet.end(), &resource[dataAt])) {
      return changed;
    }
    changed.resize(dataAt);
    WriteBigEndian32(uint32_t(packet.size()), &changed[dataAt - 4]);
    changed.insert(changed.end(), packet.begin(), packet.end());
    if (packet.size() % 2 != 0) changed.push_back(0);
    return changed;
  });
}

void ChangePhotoshopBlocks(
    UserData ud, const std::function<std::vector<uint8_t>(std::span<const uint8_t>)>& change) {
  const std::span<const uint8_t> source = GetUserDataSourcePhotoshop(ud);
  if (!source.empty()) {
    const std::vector<uint8_t> changed = change(source);
    if (!std::equal(source.begin(), source.end(), changed.begin(), changed.end())) {
      SetUserDataSourcePhotoshop(ud, changed);
    }
  }
  UniqueHandle item(NewHandle(0));
  if (!item || GetUserData(ud, item.get(), kImageResourcesItem, 1) != noErr) return;
  const std::span<const uint8_t> was(reinterpret_cast<const uint8_t*>(*item.get()),
                                     size_t(GetHandleSize(item.get())));
  const std::vector<uint8_t> changed = change(was);
  if (std::equal(was.begin(), was.end(), changed.begin(), changed.end())) return;
  const uint16_t type = GetUserDataItemTiffType(ud, kImageResourcesItem, 1);
  SetUserDataItem(ud, changed.data(), int32_t(changed.size()), kImageResourcesItem, 1);
  if (type != 0) SetUserDataItemTiffType(ud, kImageResourcesItem, 1, type);
}
