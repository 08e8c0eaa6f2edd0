// Quarter turns of 4- and 8-byte pixels by vector block transposes, one set
// per instruction set. Each writes the same bytes as the plain turns in
// rotate.cpp, which stay the reference; null where this build or pixel size
// has no vectorised turn.
#pragma once

#include <cstdint>

// Destination (y, x) = source (width - 1 - x, y) when clockwise, else source
// (x, height - 1 - y). Width and height are the destination's.
using QuarterTurnProc = void (*)(const uint8_t* src, int64_t srcRowBytes, uint8_t* dst,
                                 int64_t dstRowBytes, int64_t width, int64_t height);

QuarterTurnProc Sse2QuarterTurn(bool clockwise, int32_t bytesPerPixel);
QuarterTurnProc Avx2QuarterTurn(bool clockwise, int32_t bytesPerPixel);
