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
