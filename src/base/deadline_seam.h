// Test seam of the job deadlines: the clock they read, so that a test can
// make a deadline pass after a given number of looks instead of waiting.
#pragma once

#include <cstdint>

// Nanoseconds, never 0; nullptr restores the monotonic clock.
using DeadlineClock = int64_t (*)();
void OverrideDeadlineClock(DeadlineClock clock);
