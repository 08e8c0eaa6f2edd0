#include "codecs/metadata/density_bridge.h"

#include <algorithm>
#include <cmath>
#include <numeric>
#include <optional>
#include <string_view>

#include "base/big_endian.h"
#include "base/item_types.h"
#include "codecs/png/png_chunk_write.h"
#include "metadata_blocks/density_items.h"
#include "metadata_blocks/item_access.h"

namespace {

constexpr double kMetresPerInch = 0.0254;

struct Dpi {
  double x, y;
};

std::optional<double> RationalOf(UserData ud, OSType type) {
  std::optional<ItemBytes> bytes = ReadItem(ud, type, 1);
  if (!bytes || bytes->size() != 8) return std::nullopt;
  const uint32_t n = ReadBigEndian32(bytes->data()), d = ReadBigEndian32(bytes->data() + 4);
  if (n == 0 || d == 0) return std::nullopt;
  return double(n) / d;
}

std::optional<Dpi> FromIfd0(UserData ud) {
  std::optional<double> x = RationalOf(ud, kXResolution), y = RationalOf(ud, kYResolution);
  if (!x || !y) return std::nullopt;
  uint16_t unit = 2;  // inches, when the unit is not stated
  if (std::optional<ItemBytes> u = ReadItem(ud, kResolutionUnit, 1)) {
    if (u->size() == 2) unit = ReadBigEndian16(u->data());
  }
  if (unit == 3) return Dpi{*x * 2.54, *y * 2.54};
  if (unit == 2) return Dpi{*x, *y};
  return std::nullopt;
}

std::optional<Dpi> FromJfif(UserData ud) {
  std::optional<ItemBytes> d = ReadItem(ud, kJfifDensityItem, 1);
  if (!d || d->size() != 5 || (*d)[0] < 1 || (*d)[0] > 2) return std::nullopt;
  const double x = ReadBigEndian16(d->data() + 1), y = ReadBigEndian16(d->data() + 3);
  if (x == 0 || y == 0) return std::nullopt;
  return (*d)[0] == 1 ? Dpi{x, y} : Dpi{x * 2.54, y * 2.54};
}

std::optional<Dpi> FromPhys(UserData ud) {
  std::optional<ItemBytes> d = ReadItem(ud, kPngPhysItem, 1);
  if (!d || d->size() != 9 || (*d)[8] != 1) return std::nullopt;
  const double x = ReadBigEndian32(d->data()), y = ReadBigEndian32(d->data() + 4);
  if (x == 0 || y == 0) return std::nullopt;
  return Dpi{x * kMetresPerInch, y * kMetresPerInch};
}

uint32_t Rounded(double v, double most) {
  return uint32_t(std::clamp(std::lround(v), 1L, long(most)));
}

}  // namespace

void PutPngDensityFromOthers(UserData ud, std::vector<uint8_t>* png) {
  if (CountUserDataType(ud, kPngPhysItem) != 0 || !HasPngHeaderChunk(*png)) return;
  std::optional<Dpi> dpi = FromIfd0(ud);
  if (!dpi && !HasIfd0Resolution(ud)) dpi = FromJfif(ud);
  if (!dpi) return;
  uint8_t data[9];
  WriteBigEndian32(Rounded(dpi->x / kMetresPerInch, 2147483647.0), data);
  WriteBigEndian32(Rounded(dpi->y / kMetresPerInch, 2147483647.0), data + 4);
  data[8] = 1;  // per metre
  std::vector<uint8_t> chunk;
  AppendPngChunk(&chunk, "pHYs", data, sizeof data);
  png->insert(png->begin() + std::ptrdiff_t(kPngHeaderChunkEnd), chunk.begin(), chunk.end());
}

void PutJfifDensityFromOthers(UserData ud, std::vector<uint8_t>* jpeg) {
  constexpr size_t kUnitAt = 13;
  // The EXIF resolution travels: the JFIF header says the same.
  std::optional<Dpi> dpi;
  if (HasIfd0Resolution(ud)) {
    dpi = FromIfd0(ud);
  } else if (CountUserDataType(ud, kJfifDensityItem) == 0) {
    dpi = FromPhys(ud);
  }
  if (!dpi || jpeg->size() < kUnitAt + 5 || (*jpeg)[3] != 0xE0 ||
      std::string_view(reinterpret_cast<const char*>(jpeg->data() + 6), 5) !=
          std::string_view("JFIF", 5)) {
    return;
  }
  (*jpeg)[kUnitAt] = 1;  // per inch
  WriteBigEndian16(uint16_t(Rounded(dpi->x, 65535)), jpeg->data() + kUnitAt + 1);
  WriteBigEndian16(uint16_t(Rounded(dpi->y, 65535)), jpeg->data() + kUnitAt + 3);
}
