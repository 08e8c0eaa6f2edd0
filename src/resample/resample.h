// Resizing one pixel buffer into another with a separable fixed-point filter.
#pragma once

#include <cstdint>

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

// 0, cDepthErr for a buffer of a format without a class, memFullErr when the
// working block cannot be had. 16-bit samples must be in native byte order.
OSErr ResampleGWorld(GWorldPtr source, GWorldPtr destination, int32_t horizontalEdge,
                     int32_t verticalEdge, int32_t kernel);
