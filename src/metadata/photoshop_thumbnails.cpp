#include "metadata/photoshop_thumbnails.h"

#include <algorithm>
#include <cstring>
#include <iterator>

#include "base/big_endian.h"
#include "base/item_types.h"
#include "platform/owned.h"

namespace {

constexpr uint16_t kThumbnailIds[] = {1033, 1036};  // Photoshop 4, and 5 and later
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

bool IsThumbnail(std::span<const uint8_t> block, size_t at) {
  const uint16_t id = ReadBigEndian16(block.data() + at + 4);
  return std::memcmp(block.data() + at, "8BIM", 4) == 0 &&
         std::find(std::begin(kThumbnailIds), std::end(kThumbnailIds), id) !=
             std::end(kThumbnailIds);
}

}  // namespace

std::vector<uint8_t> WithoutPhotoshopThumbnails(std::span<const uint8_t> block) {
  std::vector<uint8_t> kept;
  size_t at = 0;
  for (size_t bytes; at < block.size() && (bytes = ResourceBytes(block, at)) != 0; at += bytes) {
    if (!IsThumbnail(block, at)) kept.insert(kept.end(), &block[at], &block[at] + bytes);
  }
  kept.insert(kept.end(), block.begin() + long(at), block.end());
  return kept;
}

void LeaveOutPhotoshopThumbnails(UserData ud) {
  const std::span<const uint8_t> source = GetUserDataSourcePhotoshop(ud);
  if (!source.empty()) {
    const std::vector<uint8_t> kept = WithoutPhotoshopThumbnails(source);
    if (kept.size() != source.size()) SetUserDataSourcePhotoshop(ud, kept);
  }
  UniqueHandle item(NewHandle(0));
  if (!item || GetUserData(ud, item.get(), kImageResourcesItem, 1) != noErr) return;
  const std::span<const uint8_t> was(reinterpret_cast<const uint8_t*>(*item.get()),
                                     size_t(GetHandleSize(item.get())));
  const std::vector<uint8_t> kept = WithoutPhotoshopThumbnails(was);
  if (kept.size() == was.size()) return;
  const uint16_t type = GetUserDataItemTiffType(ud, kImageResourcesItem, 1);
  SetUserDataItem(ud, kept.data(), int32_t(kept.size()), kImageResourcesItem, 1);
  if (type != 0) SetUserDataItemTiffType(ud, kImageResourcesItem, 1, type);
}
