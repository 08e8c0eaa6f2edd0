// Where one direction's output samples fall on the source, for either
// alignment of the two grids (base/output_geometry.h).
#pragma once

#include <cstdint>

#include "base/output_geometry.h"

// Output sample i lies at origin + i·step source samples (the step added
// once per sample, not multiplied), and the kernel is widened by
// 1/min(scale, 1).
struct AxisPositions {
  double scale = 1.0;
  double origin = 0.0;
  double step = 1.0;
};

// (output length - 1) / (input length - 1), with the degenerate sizes: an
// output of 1 is taken at scale 1, an input of 1 (to more) at +infinity.
double CornerAlignedScale(int32_t sourceLength, int32_t destinationLength);

// Corners: scale from CornerAlignedScale, origin 0, step 1/scale.
// Centres: scale output/input, step input/output, origin step/2 - 1/2, so
// that output sample `destinationLength` would land on source sample
// `sourceLength`: along a wrapped direction the samples are periodic.
AxisPositions AxisPositionsFor(SampleAlignment alignment, int32_t sourceLength,
                               int32_t destinationLength);
