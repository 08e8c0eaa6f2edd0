// Between the most-significant-byte-first samples the codecs use and the
// native order the resampler works in.
#pragma once

#include <cstdint>

#include "platform/gworld.h"
#include "stream/row_band.h"

// Swaps the two bytes of every 16-bit sample within the buffer's bounds.
void SwapSampleBytes(GWorldPtr gw);
// The same over rows [firstRow, endRow) of a band, so that the pass can
// follow rows as they are finished.
void SwapSampleBytesRows(const RowBand& rows, int64_t firstRow, int64_t endRow);
