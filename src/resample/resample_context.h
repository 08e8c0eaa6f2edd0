// The record shared by the resampler, its edge fetchers and its row
// procedures, and the pixel classes that choose the row procedures.
#pragma once

#include <cstdint>

#include "base/mac_types.h"
#include "resample/resample.h"

enum PixelClass : uint8_t {
  kClassARGB32 = 0,  // one native 32-bit word: A in bits 24-31, R, G, B below
  kClassGray8 = 1,   // one byte of grey
  kClassRGB48 = 2,   // three native 16-bit words: R, G, B
  kClassARGB64 = 3,  // four native 16-bit words: A, R, G, B
  kClassNone = 0xFF,
};
constexpr int32_t kPixelClassCount = 4;

// kClassNone for a format the resampler cannot handle.
PixelClass ClassifyPixelFormat(OSType pixelFormat);
int32_t ChannelsOfClass(PixelClass cls);
int32_t BytesPerPixelOfClass(PixelClass cls);
// Channels of the intermediate rows: 1 with grey on either side, else 3 with
// "b48r" on either side, else 4.
int32_t IntermediateChannels(PixelClass source, PixelClass destination);

struct ResampleContext;
class RowBand;

// Where the rows come from and go to, and when source rows may be let go:
// keepFrom[j] is the first source row that the j-th fetch or any later one
// needs (null when the source holds every row and nothing need be let go).
struct RowStreams {
  RowBand* source = nullptr;
  RowBand* destination = nullptr;
  const int32_t* keepFrom = nullptr;
  int64_t fetches = 0;
  int32_t released = 0;  // rows let go so far
  int32_t reader = 0;    // which of the source's readers this resize is
  // Rows made go here first, when they are sharpened, and reach the
  // destination a row later.
  class SharpenRing* sharpen = nullptr;
};

// Address of the first pixel of a source or destination row.
using SourceRowProc = const uint8_t* (*)(const ResampleContext* context, int32_t row);
using DestRowProc = uint8_t* (*)(const ResampleContext* context, int32_t row);
// Filters one source row into one intermediate row of destination width.
using HorizontalProc = void (*)(const ResampleContext* context, const uint8_t* sourceRow,
                                int16_t* intermediateRow);
// Filters the entry's count intermediate rows, the first at firstRow and the
// others one ring row size apart, into one destination row.
using VerticalProc = void (*)(const ResampleContext* context, const uint8_t* firstRow,
                              const int16_t* entry, uint8_t* destinationRow);
// The entry's vertical sums (Σ weight · intermediate sample, unconverted) of
// samples [first, first + n) of a destination row.
using SumsProc = void (*)(const ResampleContext* context, const uint8_t* firstRow,
                          const int16_t* entry, int64_t first, int64_t n, int32_t* sums);

struct SpaceRows;  // filter_space.h

struct ResampleContext {
  int32_t sourceWidth = 0;
  int32_t sourceHeight = 0;
  int32_t destinationWidth = 0;  // what is made: a window of the full resize
  int32_t destinationHeight = 0;
  // The full resize the filter tables are built for, and where the window
  // lies in it; 0 sizes: the window is the whole.
  int32_t fullWidth = 0;
  int32_t fullHeight = 0;
  int32_t windowLeft = 0;
  int32_t windowTop = 0;
  SourceRowProc sourceRow = nullptr;  // null in the sizing call
  DestRowProc destinationRow = nullptr;
  HorizontalProc horizontal = nullptr;
  VerticalProc vertical = nullptr;
  const int16_t* horizontalTable = nullptr;  // destination width entries
  int32_t horizontalTaps = 0;
  int64_t horizontalStride = 0;            // bytes between entries: 2·taps + 6
  const int16_t* verticalTable = nullptr;  // destination height entries
  int32_t verticalTaps = 0;                // also the ring's capacity in rows
  int64_t verticalStride = 0;
  uint8_t* ring = nullptr;  // first intermediate row
  int64_t ringRowSize = 0;  // destination width · channels · 2
  PixelClass sourceClass = kClassNone;
  PixelClass destinationClass = kClassNone;
  EdgeMode horizontalEdge = kEdgeDefault;  // the treatment in force: default, wrap or pinch
  EdgeMode verticalEdge = kEdgeDefault;
  KernelKind kernel = kKernelSinc;
  // The filter tables are in the working block already (a prepared resize
  // builds them once, to plan its source rows, and runs on them).
  bool tablesBuilt = false;
  RowStreams* streams = nullptr;
  FilterSpace space;  // as asked for
  SourceSamples sourceSamples = SourceSamples::kStored;
  const SpaceRows* spaceRows = nullptr;  // while rows run in a space other than the default
};

inline int32_t FullWidth(const ResampleContext* c) {
  return c->fullWidth != 0 ? c->fullWidth : c->destinationWidth;
}
inline int32_t FullHeight(const ResampleContext* c) {
  return c->fullHeight != 0 ? c->fullHeight : c->destinationHeight;
}

inline const int16_t* HorizontalEntry(const ResampleContext* c, int32_t i) {
  return reinterpret_cast<const int16_t*>(reinterpret_cast<const uint8_t*>(c->horizontalTable) +
                                          i * c->horizontalStride);
}
inline const int16_t* VerticalEntry(const ResampleContext* c, int32_t i) {
  return reinterpret_cast<const int16_t*>(reinterpret_cast<const uint8_t*>(c->verticalTable) +
                                          i * c->verticalStride);
}
