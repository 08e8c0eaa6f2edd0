#include "metadata_blocks/density_items.h"

#include <numeric>
#include <optional>

#include "base/big_endian.h"
#include "metadata_blocks/item_access.h"

namespace {

constexpr uint16_t kTiffShort = 3;
constexpr uint16_t kTiffRational = 5;

void AppendRational(UserData ud, OSType type, const uint32_t (&value)[2]) {
  uint8_t bytes[8];
  WriteBigEndian32(value[0], bytes);
  WriteBigEndian32(value[1], bytes + 4);
  AppendItem(ud, type, bytes, kTiffRational);
}

}  // namespace

bool HasIfd0Resolution(UserData ud) {
  return CountUserDataType(ud, kXResolution) != 0 || CountUserDataType(ud, kYResolution) != 0;
}

bool Ifd0DensityFromOthers(UserData ud, Ifd0Density* out) {
  if (HasIfd0Resolution(ud)) return false;
  if (std::optional<ItemBytes> d = ReadItem(ud, kJfifDensityItem, 1)) {
    if (d->size() == 5 && ((*d)[0] == 1 || (*d)[0] == 2) && ReadBigEndian16(d->data() + 1) != 0 &&
        ReadBigEndian16(d->data() + 3) != 0) {
      *out = {{ReadBigEndian16(d->data() + 1), 1},
              {ReadBigEndian16(d->data() + 3), 1},
              uint16_t((*d)[0] + 1)};
      return true;
    }
  }
  std::optional<ItemBytes> d = ReadItem(ud, kPngPhysItem, 1);
  if (!d || d->size() != 9 || (*d)[8] != 1) return false;
  // Dots per metre as dots per inch, exactly: 254/10000 of them.
  const uint64_t x = uint64_t(ReadBigEndian32(d->data())) * 254;
  const uint64_t y = uint64_t(ReadBigEndian32(d->data() + 4)) * 254;
  const uint64_t gx = std::gcd(x, uint64_t(10000)), gy = std::gcd(y, uint64_t(10000));
  if (x == 0 || y == 0 || x / gx > UINT32_MAX || y / gy > UINT32_MAX) return false;
  *out = {{uint32_t(x / gx), uint32_t(10000 / gx)}, {uint32_t(y / gy), uint32_t(10000 / gy)}, 2};
  return true;
}

void AddIfd0DensityFromOthers(UserData ud) {
  Ifd0Density density;
  if (!Ifd0DensityFromOthers(ud, &density)) return;
  AppendRational(ud, kXResolution, density.x);
  AppendRational(ud, kYResolution, density.y);
  uint8_t unit[2];
  WriteBigEndian16(density.unit, unit);
  AppendItem(ud, kResolutionUnit, unit, kTiffShort);
}
