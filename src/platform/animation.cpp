#include "platform/animation.h"

#include "codecs/common/row_packer.h"

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

void KeepCanvasChannels(const PixelView& canvas, int32_t depth) {
  const ExportChannels channels = ChannelsForDepth(depth);
  if (channels == ExportChannels::kColourAlpha) return;
  for (int32_t y = 0; y < canvas.height; ++y) {
    uint8_t* p = canvas.base + y * canvas.rowBytes;
    for (int32_t x = 0; x < canvas.width; ++x, p += 4) {
      p[0] = 255;
      if (channels == ExportChannels::kGrey) p[1] = p[2] = p[3] = Luma8(p[1], p[2], p[3]);
    }
  }
}
