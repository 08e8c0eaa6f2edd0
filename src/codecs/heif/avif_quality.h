// libheif's AV1 encoder codes a quality percent q (1 ... 100) as the
// quantiser level ((100 - q) * 63 + 50) / 100 of 0 ... 63, and nothing else
// of the file depends on q: of the 100 percents only 64 make different
// files.
#pragma once

#include <cstdint>

inline int32_t AvifQuantiserOfPercent(int32_t percent) {
  return ((100 - percent) * 63 + 50) / 100;
}

// The highest percent whose file is the one percent makes.
inline int32_t AvifLastPercentOfSameFile(int32_t percent) {
  const int32_t level = AvifQuantiserOfPercent(percent);
  while (percent < 100 && AvifQuantiserOfPercent(percent + 1) == level) ++percent;
  return percent;
}
