#include "resample/reorient.h"

#include <algorithm>
#include <cstring>

namespace {

// Where upright pixel (x, y) lies in the stored picture, as
// (x0 + xx·x + xy·y, y0 + yx·x + yy·y).
struct Mapping {
  int32_t x0, xx, xy;
  int32_t y0, yx, yy;
};

Mapping MappingFor(int32_t orientation, int32_t w, int32_t h) {
  switch (orientation) {
    case 2:  // mirrored left to right
      return {w - 1, -1, 0, 0, 0, 1};
    case 3:  // half turn
      return {w - 1, -1, 0, h - 1, 0, -1};
    case 4:  // mirrored top to bottom
      return {0, 1, 0, h - 1, 0, -1};
    case 5:  // mirrored about the main diagonal
      return {0, 0, 1, 0, 1, 0};
    case 6:  // stored a quarter turn anticlockwise
      return {0, 0, 1, h - 1, -1, 0};
    case 7:  // mirrored about the other diagonal
      return {w - 1, 0, -1, h - 1, -1, 0};
    case 8:  // stored a quarter turn clockwise
      return {w - 1, 0, -1, 0, 1, 0};
    default:
      return {0, 1, 0, 0, 0, 1};
  }
}

template <int kBytes>
void CopyPixels(const uint8_t* from, int64_t stepX, int64_t stepY, uint8_t* to, int64_t toRowBytes,
                int32_t width, int32_t height, int32_t bytes) {
  for (int32_t y = 0; y < height; ++y) {
    const uint8_t* in = from + y * stepY;
    uint8_t* out = to + y * toRowBytes;
    for (int32_t x = 0; x < width; ++x, in += stepX, out += (kBytes ? kBytes : bytes)) {
      std::memcpy(out, in, size_t(kBytes ? kBytes : bytes));
    }
  }
}

}  // namespace

void Reorient(const uint8_t* stored, int64_t storedRowBytes, int32_t storedWidth,
              int32_t storedHeight, uint8_t* upright, int64_t uprightRowBytes, int32_t pixelBytes,
              int32_t orientation) {
  const Mapping m = MappingFor(orientation, storedWidth, storedHeight);
  const bool sideways = OrientationSwapsSides(orientation);
  const int32_t width = sideways ? storedHeight : storedWidth;
  const int32_t height = sideways ? storedWidth : storedHeight;
  const uint8_t* origin = stored + int64_t(m.y0) * storedRowBytes + int64_t(m.x0) * pixelBytes;
  const int64_t stepX = int64_t(m.xx) * pixelBytes + int64_t(m.yx) * storedRowBytes;
  const int64_t stepY = int64_t(m.xy) * pixelBytes + int64_t(m.yy) * storedRowBytes;
  switch (pixelBytes) {
    case 4:
      CopyPixels<4>(origin, stepX, stepY, upright, uprightRowBytes, width, height, 4);
      break;
    case 8:
      CopyPixels<8>(origin, stepX, stepY, upright, uprightRowBytes, width, height, 8);
      break;
    default:
      CopyPixels<0>(origin, stepX, stepY, upright, uprightRowBytes, width, height, pixelBytes);
  }
}

void ReorientInPlace(uint8_t* pixels, int64_t rowBytes, int32_t width, int32_t height,
                     int32_t pixelBytes, int32_t orientation) {
  const bool mirror = orientation == 2 || orientation == 3;
  const bool flip = orientation == 3 || orientation == 4;
  const size_t bytes = size_t(pixelBytes);
  uint8_t spare[8];
  if (mirror) {
    for (int32_t y = 0; y < height; ++y) {
      uint8_t* row = pixels + y * rowBytes;
      for (int32_t x = 0, z = width - 1; x < z; ++x, --z) {
        std::memcpy(spare, row + x * bytes, bytes);
        std::memcpy(row + x * bytes, row + z * bytes, bytes);
        std::memcpy(row + z * bytes, spare, bytes);
      }
    }
  }
  if (flip) {
    const size_t used = size_t(width) * bytes;
    for (int32_t y = 0, z = height - 1; y < z; ++y, --z) {
      std::swap_ranges(pixels + y * rowBytes, pixels + y * rowBytes + used, pixels + z * rowBytes);
    }
  }
}

PixelRect UprightRect(const PixelRect& stored, int32_t storedWidth, int32_t storedHeight,
                      int32_t orientation) {
  if (stored.Empty()) return {};
  // The mappings are orthogonal: upright = transpose · (stored − origin).
  const Mapping m = MappingFor(orientation, storedWidth, storedHeight);
  auto upright = [&m](int32_t sx, int32_t sy, int32_t* x, int32_t* y) {
    *x = m.xx * (sx - m.x0) + m.yx * (sy - m.y0);
    *y = m.xy * (sx - m.x0) + m.yy * (sy - m.y0);
  };
  int32_t x0, y0, x1, y1;
  upright(stored.left, stored.top, &x0, &y0);
  upright(stored.right - 1, stored.bottom - 1, &x1, &y1);
  return {std::min(x0, x1), std::min(y0, y1), std::max(x0, x1) + 1, std::max(y0, y1) + 1};
}
