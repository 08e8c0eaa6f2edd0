#pragma once

#include <cstdint>

#include "base/mac_types.h"

struct ExportSettings {
  OSType codec = FourCC("jpeg");
  uint32_t reserved = 0;
  int16_t depth = 24;
  int32_t quality = 768;  // 1023 is 100 percent
};
