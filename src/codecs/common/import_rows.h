// Writing decoded rows into a pixel buffer of any format an importer draws
// into: 32-bit ARGB, "b48r" or "b64a". The twin of row_packer.h for the
// importers that decode into a packed intermediate row.
#pragma once

#include <cstdint>

#include "base/mac_types.h"
#include "codecs/common/sample_depth.h"
#include "stream/row_band.h"

// 32-bit ARGB, "b48r" or "b64a".
bool IsDrawableFormat(OSType pixelFormat);

// Stores row y of dst from width pixels of packed R, G, B, A: 8-bit samples
// (rgba8) or native 16-bit samples (rgba16). 16-bit samples reach 32-bit
// ARGB through Reduce16To8, 8-bit samples reach the 16-bit formats widened;
// "b48r" drops alpha.
void StoreRgba8Row(const uint8_t* rgba8, RowBand* dst, int64_t y);
void StoreRgba16Row(const uint16_t* rgba16, RowBand* dst, int64_t y);

// Premultiplied colour back to straight, in place: c * 65535 / a, rounded;
// colour under zero alpha becomes zero.
void UnpremultiplyRgba16Row(uint16_t* rgba16, int64_t width);

// Tells a reader of dst, perhaps on another thread, that rows [0, rows) are
// final. Drawers call it as they go, at least every RowBand::kRowsInFlight
// rows; false once the band is stopped, when the drawing ends with
// dst->StopError().
inline bool PublishDrawnRows(RowBand* dst, int64_t rows) {
  return dst->Publish(rows) == noErr;
}

// Row y's storage for the drawing, waiting for room in a ring.
inline uint8_t* BufferRow(RowBand& band, int64_t y) {
  return band.RowToWrite(y);
}
