// The instruction sets the row procedures and the quarter turns may use. The
// level is chosen once per resize; tests and benchmarks lower it to compare
// the fast procedures with the plain ones, which stay the reference.
#pragma once

#include <cstdint>
#include <optional>

enum SimdLevel : int32_t {
  kSimdNone = 0,  // the plain procedures only
  kSimdSse2 = 1,
  kSimdAvx2 = 2,
};

// The environment variable that caps the level for a run: "plain", "sse2" or
// "avx2". It is read once, at the first query of the level; any other value
// is ignored.
inline constexpr char kSimdEnvironmentVariable[] = "TAVREL_SIMD";

// The level that a value of the variable names, or none for an unknown value
// (and for a null pointer, the variable unset).
std::optional<SimdLevel> SimdLevelNamed(const char* value);

// The best level this processor supports.
SimdLevel DetectedSimdLevel();

// Caps the level for the whole process (thread-safe) and returns the level
// now in force: the smaller of the request and the processor's best. The
// request replaces the environment's.
SimdLevel SetResampleSimdLevel(SimdLevel level);

// The level in force: the processor's best unless the environment or a
// request lowered it.
SimdLevel ResampleSimdLevel();
