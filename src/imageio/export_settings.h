#pragma once

#include <cstdint>

#include "base/mac_types.h"

struct ExportSettings {
  OSType codec = FourCC("jpeg");
  uint32_t reserved = 0;
  int16_t depth = 24;
  int32_t quality = 768;  // 1023 is 100 percent
  // JPEG alone, other exporters ignore them: a progressive file, and the
  // chroma subsampling (444, 422 or 420; 0 lets the quality choose).
  bool progressive = false;
  int32_t subsampling = 0;
  // "//effort": 0 (fastest) ... 9 (smallest files), or -1 for each
  // encoder's own default; the mapping onto each encoder is in codec.h.
  int32_t effort = -1;
};
