#include "base/output_geometry.h"

#include <algorithm>
#include <initializer_list>

namespace {

// What the scale of a direction divides: pixel intervals or pixels.
uint32_t ScaleTerm(const OutputGeometry& g, int32_t extent) {
  return g.alignment == SampleAlignment::kCentres ? uint32_t(extent)
                                                  : uint32_t(int64_t(extent) - 1);
}

}  // namespace

bool OrientationSwapsSides(int32_t orientation) {
  return orientation >= 5 && orientation <= 8;
}

int32_t QuarterTurns(int32_t rotation) {
  int32_t r = rotation % 360;
  if (r < 0) r += 360;
  return r / 90;
}

OutputGeometry StoredGeometry(int32_t storedWidth, int32_t storedHeight, int32_t orientation) {
  OutputGeometry g;
  g.storedWidth = storedWidth;
  g.storedHeight = storedHeight;
  g.orientation = orientation;
  const bool swaps = OrientationSwapsSides(orientation);
  g.sourceWidth = swaps ? storedHeight : storedWidth;
  g.sourceHeight = swaps ? storedWidth : storedHeight;
  return g;
}

void SetWholeResize(OutputGeometry* g, int32_t width, int32_t height) {
  SetCentredWindow(g, width, height, width, height);
}

void SetCentredWindow(OutputGeometry* g, int32_t fullWidth, int32_t fullHeight, int32_t width,
                      int32_t height) {
  g->fullWidth = fullWidth;
  g->fullHeight = fullHeight;
  g->windowWidth = width;
  g->windowHeight = height;
  g->windowLeft = int32_t((int64_t(fullWidth) - width) / 2);
  g->windowTop = int32_t((int64_t(fullHeight) - height) / 2);
}

void MoveWindow(OutputGeometry* g, int32_t left, int32_t top) {
  g->windowLeft = std::clamp(left, 0, std::max(0, g->fullWidth - g->windowWidth));
  g->windowTop = std::clamp(top, 0, std::max(0, g->fullHeight - g->windowHeight));
}

bool Turned(const OutputGeometry& g) {
  return g.quarterTurns % 2 != 0;
}

bool Windowed(const OutputGeometry& g) {
  return g.windowWidth != g.fullWidth || g.windowHeight != g.fullHeight;
}

int32_t WrittenWidth(const OutputGeometry& g) {
  return Turned(g) ? g.windowHeight : g.windowWidth;
}

int32_t WrittenHeight(const OutputGeometry& g) {
  return Turned(g) ? g.windowWidth : g.windowHeight;
}

AxisScale HorizontalScale(const OutputGeometry& g) {
  return {ScaleTerm(g, g.fullWidth), ScaleTerm(g, g.sourceWidth)};
}

AxisScale VerticalScale(const OutputGeometry& g) {
  return {ScaleTerm(g, g.fullHeight), ScaleTerm(g, g.sourceHeight)};
}

int32_t DecodedSide(int32_t side, int32_t scale) {
  return int32_t((int64_t(side) + scale - 1) / scale);
}

int32_t LargestDecodeScale(const OutputGeometry& g) {
  for (int32_t scale : {8, 4, 2}) {
    if (int64_t(DecodedSide(g.sourceWidth, scale)) >= 2 * int64_t(g.fullWidth) &&
        int64_t(DecodedSide(g.sourceHeight, scale)) >= 2 * int64_t(g.fullHeight)) {
      return scale;
    }
  }
  return 1;
}
