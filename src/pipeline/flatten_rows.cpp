#include "pipeline/flatten_rows.h"

#include <cstring>

#include <cstdint>

namespace {

uint32_t Over8(uint32_t c, uint32_t a, uint32_t b) {
  return (c * a + b * (255 - a) + 127) / 255;
}

uint32_t Over16(uint32_t c, uint32_t a, uint32_t b) {
  return uint32_t((uint64_t(c) * a + uint64_t(b) * (65535 - a) + 32767) / 65535);
}

void Flatten32(uint32_t rgb, uint8_t* row, int64_t pixels) {
  const uint32_t r = (rgb >> 16) & 255, g = (rgb >> 8) & 255, b = rgb & 255;
  for (int64_t i = 0; i < pixels; ++i) {
    uint32_t w;
    std::memcpy(&w, row + 4 * i, 4);
    const uint32_t a = w >> 24;
    if (a == 255) continue;
    w = 0xFF000000u | Over8((w >> 16) & 255, a, r) << 16 | Over8((w >> 8) & 255, a, g) << 8 |
        Over8(w & 255, a, b);
    std::memcpy(row + 4 * i, &w, 4);
  }
}

void Flatten64(uint32_t rgb, uint8_t* row, int64_t pixels) {
  const uint32_t back[3] = {((rgb >> 16) & 255) * 257, ((rgb >> 8) & 255) * 257, (rgb & 255) * 257};
  for (int64_t i = 0; i < pixels; ++i) {
    uint16_t w[4];
    std::memcpy(w, row + 8 * i, 8);
    const uint32_t a = w[0];
    if (a == 65535) continue;
    for (int c = 0; c < 3; ++c) w[c + 1] = uint16_t(Over16(w[c + 1], a, back[c]));
    w[0] = 65535;
    std::memcpy(row + 8 * i, w, 8);
  }
}

}  // namespace

bool FlattensFormat(OSType pixelFormat) {
  return pixelFormat == k32ARGBPixelFormat || pixelFormat == k64ARGBPixelFormat;
}

void FlattenRow(OSType pixelFormat, uint32_t rgb, uint8_t* row, int64_t pixels) {
  if (pixelFormat == k32ARGBPixelFormat) Flatten32(rgb, row, pixels);
  if (pixelFormat == k64ARGBPixelFormat) Flatten64(rgb, row, pixels);
}
