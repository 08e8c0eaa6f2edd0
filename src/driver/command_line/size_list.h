// "//sizes LIST": comma-separated entries, each one output's size as a
// single run would give it: "W" (/w W), "xH" (/h H), "WxH" (/w W /h H,
// stretched), "WxH:fit" (//fit W H), "WxH:fill" (//fill W H), and "Ww" (a
// srcset's width: sized as "W", named by the width written).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "driver/job/job_settings.h"

struct SizeEntry {
  std::string text;    // as written
  int32_t width = 0;   // 0: from the source's aspect ratio
  int32_t height = 0;  // 0: from the source's aspect ratio
  BoxRule rule = BoxRule::kNone;
  bool srcsetWidth = false;  // "Ww": {size} names the width written
};

// False for anything else: an empty entry, a side that is 0, negative, not
// decimal digits or above 2^31 - 1, a box rule without both sides.
bool ParseSizeEntry(std::string_view text, SizeEntry* entry);

// The size fields of settings as the entry's single run sets them.
void ApplySizeEntry(const SizeEntry& entry, JobSettings* settings);
