// Where every written pixel comes from, worked out once by the checks and
// read by every stage that needs to know: the pipeline, the metadata refit
// and the gain map.
//   stored --(orientation undone)--> source --(resize)--> full
//   full --(window cut out)--> window --(quarter turns)--> written
// Without "//upright" the source is the stored picture; without "//fill"
// the window is the whole of the full resize.
#pragma once

#include <cstdint>

// Where the resize puts its samples along each direction. Corners: the
// first and last output samples lie on the first and last source samples
// (output sample i at i·(in − 1)/(out − 1)). Centres: the outer edges of
// the two pictures coincide, each output pixel standing for an equal share
// of the source (output sample i at (i + 0.5)·in/out − 0.5), as most other
// resizers place them.
enum class SampleAlignment : uint8_t { kCorners, kCentres };

struct OutputGeometry {
  int32_t storedWidth = 0;  // the picture as the file stores it
  int32_t storedHeight = 0;
  int32_t orientation = 1;  // the stored orientation undone before the resize (1: none)
  int32_t sourceWidth = 0;  // what the resize reads: the stored picture put upright
  int32_t sourceHeight = 0;
  int32_t fullWidth = 0;  // the whole source resized
  int32_t fullHeight = 0;
  int32_t windowLeft = 0;  // the part of the full resize that is written
  int32_t windowTop = 0;
  int32_t windowWidth = 0;
  int32_t windowHeight = 0;
  int32_t quarterTurns = 0;                               // 0 to 3, clockwise, after the resize
  SampleAlignment alignment = SampleAlignment::kCorners;  // of the full resize, both directions
  // "//shrink-on-load": the stored picture is decoded at 1/decodeScale of
  // its size (1, 2, 4 or 8), each side rounded up, and the resize reads
  // that; the sides above stay the file's, which the metadata refits use.
  int32_t decodeScale = 1;
};

// The scale of one direction of the resize as a ratio of unsigned terms:
// with corners aligned, pixel intervals, one less than the pixel counts,
// since the first and last samples of the full resize lie on the source's
// first and last; with centres aligned, the pixel counts.
struct AxisScale {
  uint32_t output = 0;
  uint32_t source = 0;
};

// Whether the orientation stores the picture on its side (5 to 8), so that
// the upright picture's width is the stored height.
bool OrientationSwapsSides(int32_t orientation);
// Clockwise quarter turns (0 to 3) for a rotation in degrees, any sign.
int32_t QuarterTurns(int32_t rotation);

// The stored bounds and orientation give the source; no resize yet.
OutputGeometry StoredGeometry(int32_t storedWidth, int32_t storedHeight, int32_t orientation);
// The whole source resized to width x height and all of it written.
void SetWholeResize(OutputGeometry* g, int32_t width, int32_t height);
// The source resized to fullWidth x fullHeight and the width x height
// window at its centre written (the odd pixel falls on the right and below).
void SetCentredWindow(OutputGeometry* g, int32_t fullWidth, int32_t fullHeight, int32_t width,
                      int32_t height);
// The window moved to start at left, top of the full resize, kept inside it.
void MoveWindow(OutputGeometry* g, int32_t left, int32_t top);

bool Turned(const OutputGeometry& g);    // an odd number of quarter turns
bool Windowed(const OutputGeometry& g);  // less than the full resize is written
int32_t WrittenWidth(const OutputGeometry& g);
int32_t WrittenHeight(const OutputGeometry& g);
AxisScale HorizontalScale(const OutputGeometry& g);
// A side of the picture decoded at 1/scale: rounded up, as libjpeg does.
int32_t DecodedSide(int32_t side, int32_t scale);
// The largest decode scale, 8, 4, 2 or else 1, whose decoded source keeps
// at least twice the full resize's size on each side.
int32_t LargestDecodeScale(const OutputGeometry& g);
AxisScale VerticalScale(const OutputGeometry& g);
