#include "base/pixel_view.h"

#include <algorithm>

int16_t PixelSizeOfFormat(OSType pixelFormat) {
  switch (pixelFormat) {
    case k32ARGBPixelFormat:
      return 32;
    case k48RGBCodecType:
      return 48;
    case k64ARGBPixelFormat:
      return 64;
    case k8IndexedPixelFormat:
    case k8IndexedGrayPixelFormat:
      return 8;
    default:
      return 0;
  }
}

PixelRect UnionRect(const PixelRect& a, const PixelRect& b) {
  if (a.Empty()) return b;
  if (b.Empty()) return a;
  return {std::min(a.left, b.left), std::min(a.top, b.top), std::max(a.right, b.right),
          std::max(a.bottom, b.bottom)};
}

PixelRect WholeRect(int32_t width, int32_t height) {
  return {0, 0, width, height};
}

PixelView SubView(const PixelView& view, const PixelRect& rect) {
  PixelView sub = view;
  sub.base = view.base + rect.top * view.rowBytes + int64_t(rect.left) * (view.pixelSize / 8);
  sub.width = rect.Width();
  sub.height = rect.Height();
  return sub;
}
