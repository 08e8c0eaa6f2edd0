// The exporters' quality scale: 0 ... 1023 lossy, codecLosslessQuality and
// above lossless where the codec has it.
#pragma once

#include <algorithm>
#include <cstdint>

constexpr int32_t codecLosslessQuality = 1024;

// round(quality * 100 / 1023), within 1 ... 100.
inline int QualityPercent(int32_t quality) {
  const int64_t q = std::clamp<int64_t>(quality, 0, 1023);
  return int(std::clamp<int64_t>((q * 200 + 1023) / 2046, 1, 100));
}

// The quality "/q percent" gives for a whole percent: percent x 10.23,
// truncated; QualityPercent gives the percent back.
inline int32_t QualityOfWholePercent(int percent) {
  return int32_t(double(percent) * 10.23);
}
