#include "resample/simd_level.h"

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <string_view>

namespace {

SimdLevel ProbeProcessor() {
#if defined(__x86_64__)
  // SSE2 is part of x86-64; AVX2 depends on the processor and the system.
  __builtin_cpu_init();
  return __builtin_cpu_supports("avx2") ? kSimdAvx2 : kSimdSse2;
#else
  return kSimdNone;
#endif
}

// The first request is the environment's, when it names a level.
std::atomic<int32_t>& RequestedLevel() {
  static std::atomic<int32_t> level{
      SimdLevelNamed(std::getenv(kSimdEnvironmentVariable)).value_or(kSimdAvx2)};
  return level;
}

}  // namespace

std::optional<SimdLevel> SimdLevelNamed(const char* value) {
  if (value == nullptr) return std::nullopt;
  const std::string_view name(value);
  if (name == "plain") return kSimdNone;
  if (name == "sse2") return kSimdSse2;
  if (name == "avx2") return kSimdAvx2;
  return std::nullopt;
}

SimdLevel DetectedSimdLevel() {
  static const SimdLevel detected = ProbeProcessor();
  return detected;
}

SimdLevel SetResampleSimdLevel(SimdLevel level) {
  RequestedLevel().store(level, std::memory_order_relaxed);
  return ResampleSimdLevel();
}

SimdLevel ResampleSimdLevel() {
  const int32_t requested = RequestedLevel().load(std::memory_order_relaxed);
  return SimdLevel(std::clamp<int32_t>(requested, kSimdNone, DetectedSimdLevel()));
}
