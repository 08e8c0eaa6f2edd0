// Resizing one pixel buffer into another with a separable fixed-point filter.
#pragma once

#include <cstdint>
#include <memory>

#include "platform/gworld.h"

enum EdgeMode : int32_t {
  kEdgeDefault = 0,  // border samples repeat
  kEdgeWrap = 3,     // the source repeats
  kEdgePinch = 4,    // vertical: continued mirrored and turned by half its width
  kEdgeVertical = 8,
};

enum KernelKind : int32_t {
  kKernelSinc = 0,
  kKernelGaussian = 1,
  kKernelWideGaussian = 2,
};

constexpr int32_t kWeightOne = 16384;

// A resize whose working block and tables are ready: everything that can
// fail has been done, only the rows are left.
struct PreparedResample;
struct PreparedResampleDeleter {
  void operator()(PreparedResample* prepared) const;
};
using PreparedResamplePtr = std::unique_ptr<PreparedResample, PreparedResampleDeleter>;

// What ResampleGWorld does up to the first row, with the same results.
OSErr PrepareResampleGWorld(GWorldPtr source, GWorldPtr destination, int32_t horizontalEdge,
                            int32_t verticalEdge, int32_t kernel, PreparedResamplePtr* prepared);
// Fills the destination, on any one thread. rowsDone(cookie, rows), when
// given, hears that rows [0, rows) are final as the rows go by, from the
// top, and at the end with the destination's height. A source being drawn
// on another thread (its drawGate set) is followed row by row.
void RunPreparedResample(PreparedResample* prepared, void (*rowsDone)(void* cookie, int32_t rows),
                         void* cookie);

// 0, cDepthErr for a buffer of a format without a class, memFullErr when the
// working block cannot be had. 16-bit samples must be in native byte order.
OSErr ResampleGWorld(GWorldPtr source, GWorldPtr destination, int32_t horizontalEdge,
                     int32_t verticalEdge, int32_t kernel);
