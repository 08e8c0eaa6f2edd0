// Test seam of the pixel memory limit: the physical memory size that the
// limit compares with, so that tests need no machine of a given size.
#pragma once

#include <cstdint>

// 0 restores the machine's own size.
void OverridePhysicalMemoryBytes(uint64_t bytes);

// How many times pixel memory has been asked for (ReservePixelBytes,
// WorkingBytesFit), granted or not: every pixel buffer, ring and codec
// canvas asks first, so a count that stays put proves nothing was sized
// from a header.
uint64_t PixelMemoryAsks();
