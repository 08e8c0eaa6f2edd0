// Pixel buffers for the resampler tests: owned GWorlds, random fills and
// plain pixel access.
#pragma once

#include <cstdint>
#include <cstring>
#include <memory>
#include <random>
#include <vector>

#include "platform/gworld.h"
#include "platform/owned.h"

namespace test {

using World = UniqueGWorld;

inline World MakeWorld(OSType format, int32_t width, int32_t height) {
  GWorldPtr gw = nullptr;
  Rect bounds;
  MacSetRect(&bounds, 0, 0, width, height);
  if (QTNewGWorld(&gw, format, &bounds, nullptr, nullptr, 0) != noErr) return nullptr;
  return World(gw);
}

inline int32_t BytesPerPixel(const GWorld& gw) {
  return gw.pixMap.pixelSize / 8;
}
inline int32_t Width(const GWorld& gw) {
  return gw.portRect.right - gw.portRect.left;
}
inline int32_t Height(const GWorld& gw) {
  return gw.portRect.bottom - gw.portRect.top;
}
inline size_t TotalBytes(const GWorld& gw) {
  return size_t(gw.pixMap.rowBytes) * size_t(gw.pixMap.bounds.bottom - gw.pixMap.bounds.top);
}
inline uint8_t* PixelAddress(GWorld& gw, int32_t x, int32_t y) {
  return static_cast<uint8_t*>(gw.pixMap.baseAddr) + int64_t(y) * gw.pixMap.rowBytes +
         int64_t(x) * BytesPerPixel(gw);
}
inline const uint8_t* PixelAddress(const GWorld& gw, int32_t x, int32_t y) {
  return PixelAddress(const_cast<GWorld&>(gw), x, y);
}

// Every byte, padding included.
inline void FillRandom(GWorld& gw, std::mt19937& rng) {
  uint8_t* p = static_cast<uint8_t*>(gw.pixMap.baseAddr);
  for (size_t i = 0; i < TotalBytes(gw); ++i) p[i] = uint8_t(rng());
}

inline std::vector<uint8_t> Snapshot(const GWorld& gw) {
  const uint8_t* p = static_cast<const uint8_t*>(gw.pixMap.baseAddr);
  return std::vector<uint8_t>(p, p + TotalBytes(gw));
}

inline uint32_t Get32(const GWorld& gw, int32_t x, int32_t y) {
  uint32_t v;
  std::memcpy(&v, PixelAddress(gw, x, y), 4);
  return v;
}
inline void Set32(GWorld& gw, int32_t x, int32_t y, uint32_t v) {
  std::memcpy(PixelAddress(gw, x, y), &v, 4);
}
inline uint16_t Get16(const GWorld& gw, int32_t x, int32_t y, int32_t channel) {
  uint16_t v;
  std::memcpy(&v, PixelAddress(gw, x, y) + 2 * channel, 2);
  return v;
}
inline void Set16(GWorld& gw, int32_t x, int32_t y, int32_t channel, uint16_t v) {
  std::memcpy(PixelAddress(gw, x, y) + 2 * channel, &v, 2);
}

}  // namespace test
