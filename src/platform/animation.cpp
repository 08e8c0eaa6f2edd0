#include "platform/animation.h"

PixelView CanvasView(uint8_t* pixels, const AnimationInfo& info) {
  return {pixels, int64_t(info.width) * 4, info.width, info.height, k32ARGBPixelFormat, 32};
}

void RgbaToCanvas(const uint8_t* from, uint8_t* to, size_t pixels) {
  for (size_t i = 0; i < pixels; ++i, from += 4, to += 4) {
    const uint8_t r = from[0], g = from[1], b = from[2], a = from[3];
    to[0] = a;
    to[1] = r;
    to[2] = g;
    to[3] = b;
  }
}
