// The instruction sets the row procedures may use. The level is chosen once
// per resize; tests and benchmarks lower it to compare the fast procedures
// with the plain ones, which stay the reference.
#pragma once

#include <cstdint>

enum SimdLevel : int32_t {
  kSimdNone = 0,  // the plain procedures only
  kSimdSse2 = 1,
  kSimdAvx2 = 2,
};

// The best level this processor supports.
SimdLevel DetectedSimdLevel();

// Caps the level for the whole process (thread-safe) and returns the level
// now in force: the smaller of the request and the processor's best.
SimdLevel SetResampleSimdLevel(SimdLevel level);

// The level in force; the processor's best unless lowered.
SimdLevel ResampleSimdLevel();
