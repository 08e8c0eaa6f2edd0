#include "codecs/jpeg/jfif_density.h"

#include <algorithm>
#include <cstring>

#include "base/big_endian.h"
#include "base/item_types.h"
#include "metadata_blocks/item_access.h"

namespace {

// SOI, then APP0: marker, length, "JFIF\0", version (2 bytes), the unit,
// and the two densities.
constexpr size_t kUnitAt = 13;
constexpr size_t kDensityBytes = 5;
constexpr uint16_t kIfd0XResolution = 0x011A;

bool HasJfifHeader(ByteSpan file) {
  static constexpr uint8_t kStart[] = {0xFF, 0xD8, 0xFF, 0xE0};
  return file.size() >= kUnitAt + kDensityBytes && std::memcmp(file.data(), kStart, 4) == 0 &&
         ReadBigEndian16(file.data() + 4) >= 16 && std::memcmp(file.data() + 6, "JFIF", 5) == 0;
}

bool IsDefaultOrBad(ByteSpan density) {
  static constexpr uint8_t kDefault[kDensityBytes] = {0, 0, 1, 0, 1};
  const bool zero = (density[1] == 0 && density[2] == 0) || (density[3] == 0 && density[4] == 0);
  return zero || density[0] > 2 || std::equal(density.begin(), density.end(), kDefault);
}

}  // namespace

void AddJfifDensityItem(ByteSpan file, UserData ud) {
  if (!HasJfifHeader(file)) return;
  const ByteSpan density = file.subspan(kUnitAt, kDensityBytes);
  if (!IsDefaultOrBad(density)) AppendItem(ud, kJfifDensityItem, density, 0);
}

void PutJfifDensityItem(UserData ud, std::vector<uint8_t>* jpeg) {
  if (!HasJfifHeader(*jpeg) || CountUserDataType(ud, kTiffItemBase + kIfd0XResolution) != 0) {
    return;
  }
  std::optional<ItemBytes> density = ReadItem(ud, kJfifDensityItem, 1);
  if (!density || density->size() != kDensityBytes || IsDefaultOrBad(*density)) return;
  std::copy(density->begin(), density->end(), jpeg->begin() + kUnitAt);
}
