// The row procedures: a horizontal one per source class and a vertical one
// per destination class, for each intermediate channel count (1, 3, 4).
#pragma once

#include <cstdint>

#include "resample/resample_context.h"
#include "resample/simd_level.h"

// Conversions between 32-bit accumulators and samples (shifts round toward
// minus infinity). Intermediate samples have full scale 16384.
constexpr int32_t Fetch8(int32_t acc) {
  return (acc + (acc >> 8)) >> 8;
}
constexpr int32_t FetchY8(int32_t acc) {
  return (acc + (acc >> 8)) >> 16;
}
constexpr int32_t Fetch16(int32_t acc) {
  return acc >> 16;
}
constexpr int32_t Store8(int32_t acc) {
  const int32_t v = (acc + 524288) >> 20;
  return v < 0 ? 0 : (v > 255 ? 255 : v);
}
constexpr int32_t Store16(int32_t acc) {
  const int32_t v = (acc + (acc >> 14)) >> 12;
  return v < 0 ? 0 : (v > 65535 ? 65535 : v);
}

// Grey from colour: 8-bit channels give 256 times the grey level, 16-bit
// channels a 16-bit grey. The coefficients sum to 4096.
constexpr int32_t GreyFrom8(int32_t r, int32_t g, int32_t b) {
  return (870 * r + 2931 * g + 295 * b + 8) >> 4;
}
constexpr int32_t GreyFrom16(int32_t r, int32_t g, int32_t b) {
  return (870 * r + 2931 * g + 295 * b + 2048) >> 12;
}

// The plain procedures, the reference for the vectorised ones. Null for a
// channel count that the class cannot take part in.
HorizontalProc HorizontalProcFor(int32_t channels, PixelClass sourceClass);
VerticalProc VerticalProcFor(int32_t channels, PixelClass destinationClass);

// The fastest procedure that the level allows, the plain one where no
// vectorised procedure exists. The same bytes at every level.
HorizontalProc HorizontalProcFor(int32_t channels, PixelClass sourceClass, SimdLevel level);
VerticalProc VerticalProcFor(int32_t channels, PixelClass destinationClass, SimdLevel level);

// Vertical sums without conversion, for destinations finished elsewhere.
SumsProc SumsProcFor(SimdLevel level);
