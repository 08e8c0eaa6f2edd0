// Test seam of the heavy encoders' turns (base/encoder_turns.h): the
// turns allowed at once, and the most held at once since the last reset,
// so that a test counts the encoders that ran side by side instead of
// timing them.
#pragma once

#include <cstdint>

// 0 restores the usable cores.
void SetHeavyEncodersAtOnce(int32_t turns);
int32_t MostHeavyEncodersAtOnce();
void ResetMostHeavyEncodersAtOnce();
