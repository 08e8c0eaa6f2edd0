// Edge fetchers: source row procedures that continue the source beyond its
// borders for the wrap and pinch edge modes, in the source's pixel format.
#pragma once

#include <cstdint>

#include "resample/resample_context.h"

// A fetcher stands in for the source row procedure of a copy of the context.
// The copy comes first, so that the context pointer the row loop passes is
// the fetcher's own address.
struct EdgeFetcher {
  ResampleContext context;       // handed to ResampleRows
  const ResampleContext* inner;  // supplies the source rows
  uint8_t* rowBuffer;            // first pixel of the row buffer, after the left margin
  int64_t rowLength;             // source width · bytes per pixel
  int32_t sourceHeight;
  int64_t margin;  // bytes on each side; 0 without horizontal wrap
};

// Edge flags: horizontal wrap 1, vertical wrap 2, vertical pinch 4.
constexpr int32_t kFetchPad = 1;
constexpr int32_t kFetchWrapRows = 2;
constexpr int32_t kFetchPinchRows = 4;

// The source row procedure for a non-zero combination of the flags (wrap and
// pinch exclude each other).
SourceRowProc EdgeFetcherForFlags(int32_t flags);
// The destination row procedure of a fetcher's context: that of the inner one.
uint8_t* ForwardDestinationRow(const ResampleContext* context, int32_t row);

// row modulo height, non-negative.
int32_t WrapRowIndex(int32_t row, int32_t height);
// row folded into [-height, height): non-negative rows are source rows, a
// negative ρ stands for source row -1 - ρ turned by half its width.
int32_t PinchRowIndex(int32_t row, int32_t height);
// Turns a row by half its width (and half a pixel more for odd widths, each
// channel sample the truncated mean of two neighbours). in and out differ.
void HalfTurnRow(const uint8_t* in, uint8_t* out, int32_t width, PixelClass cls);
// The row is in place at middle; fills marginPixels on each side so that
// pixel j, -marginPixels ≤ j < width + marginPixels, is pixel j modulo width.
void PadRowCircular(uint8_t* middle, int32_t width, int32_t marginPixels, int32_t bytesPerPixel);
