#include "driver/job/input_limits.h"

#include <initializer_list>

#include "base/mac_types.h"

namespace {

uint64_t SaturatingAdd(uint64_t a, uint64_t b) {
  return a > UINT64_MAX - b ? UINT64_MAX : a + b;
}

uint64_t SaturatingMultiply(uint64_t a, uint64_t b) {
  return b != 0 && a > UINT64_MAX / b ? UINT64_MAX : a * b;
}

bool Beyond(uint64_t limit, uint64_t value) {
  return limit != 0 && value > limit;
}

}  // namespace

InputLimits ServiceLimits() {
  InputLimits limits;
  limits.pixels = 50'000'000;
  limits.frames = 1'000;
  limits.work = 500'000'000;
  limits.bytes = 100'000'000;
  limits.timeoutSeconds = 10;
  return limits;
}

bool AnyInputLimit(const InputLimits& limits) {
  return limits.pixels != 0 || limits.frames != 0 || limits.work != 0 || limits.bytes != 0;
}

uint64_t WorkOf(const SourceCost& cost) {
  return SaturatingMultiply(cost.frames, SaturatingAdd(cost.canvasPixels, cost.outputPixels));
}

int32_t CheckInputLimits(const InputLimits& limits, const SourceCost& cost) {
  if (OverByteLimit(limits, cost.bytes)) return kByteLimitErr;
  if (Beyond(limits.pixels, cost.canvasPixels)) return kPixelLimitErr;
  if (Beyond(limits.frames, cost.frames)) return kFrameLimitErr;
  if (Beyond(limits.work, WorkOf(cost))) return kWorkLimitErr;
  return cost.emptyOutput ? kEmptyOutputErr : noErr;
}

bool OverByteLimit(const InputLimits& limits, uint64_t bytes) {
  return Beyond(limits.bytes, bytes);
}
