#include "resample/sample_positions.h"

#include <limits>

double CornerAlignedScale(int32_t sourceLength, int32_t destinationLength) {
  if (destinationLength <= 1) return 1.0;
  if (sourceLength <= 1) return std::numeric_limits<double>::infinity();
  return double(destinationLength - 1) / double(sourceLength - 1);
}

AxisPositions AxisPositionsFor(SampleAlignment alignment, int32_t sourceLength,
                               int32_t destinationLength) {
  AxisPositions p;
  if (alignment == SampleAlignment::kCentres) {
    p.scale = double(destinationLength) / double(sourceLength);
    p.step = double(sourceLength) / double(destinationLength);
    p.origin = 0.5 * p.step - 0.5;
  } else {
    p.scale = CornerAlignedScale(sourceLength, destinationLength);
    p.step = 1.0 / p.scale;
  }
  return p;
}
