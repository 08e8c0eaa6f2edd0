// Test seam of the pixel memory limit: the physical memory size that the
// limit compares with, so that tests need no machine of a given size.
#pragma once

#include <cstdint>

// 0 restores the machine's own size.
void OverridePhysicalMemoryBytes(uint64_t bytes);
