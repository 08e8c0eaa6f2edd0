// Pixels in memory as rows: what a stage needs to read or fill an image
// without knowing who owns it.
#pragma once

#include <cstdint>

#include "base/mac_types.h"

struct PixelView {
  uint8_t* base = nullptr;  // the first pixel of the first row
  int64_t rowBytes = 0;
  int32_t width = 0;
  int32_t height = 0;
  OSType pixelFormat = 0;
  int16_t pixelSize = 0;  // bits per pixel
};

// Bits per pixel of a format this program can hold, or 0.
int16_t PixelSizeOfFormat(OSType pixelFormat);

// A rectangle of pixels: columns [left, right) and rows [top, bottom).
struct PixelRect {
  int32_t left = 0;
  int32_t top = 0;
  int32_t right = 0;
  int32_t bottom = 0;
  bool Empty() const { return right <= left || bottom <= top; }
  int32_t Width() const { return right - left; }
  int32_t Height() const { return bottom - top; }
};

// The smallest rectangle holding both (an empty one adds nothing).
PixelRect UnionRect(const PixelRect& a, const PixelRect& b);
// The whole of a width x height picture.
PixelRect WholeRect(int32_t width, int32_t height);
// The pixels of the rectangle, which lies within the view, as a view.
PixelView SubView(const PixelView& view, const PixelRect& rect);
