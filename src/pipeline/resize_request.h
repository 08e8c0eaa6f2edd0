// What one output asks of the stages a picture passes through: the
// geometry worked out by the checks and the filter's options.
#pragma once

#include <cstdint>

#include "base/mac_types.h"
#include "base/output_geometry.h"
#include "pipeline/smart_crop.h"
#include "resample/resample.h"

struct ResizeRequest {
  // The orientation undone, the resize, the window made and the turns.
  OutputGeometry geometry;
  EdgeMode horizontalEdge = kEdgeDefault;
  EdgeMode verticalEdge = kEdgeDefault;
  KernelKind kernel = kKernelSinc;
  OSType destinationFormat = k32ARGBPixelFormat;
  FilterSpace space;
  // Drawn as sRGB even when the metadata is copied (its profile is not).
  bool matchColour = false;
  // The colour (0xRRGGBB) the resized picture's transparency is flattened
  // onto before it is encoded (pipeline/flatten_rows.h); -1 for none.
  int32_t flattenOnto = -1;
  // The resized picture sharpened by this amount in 1/256 before it is
  // finished (resample/sharpen.h); 0 for none.
  int32_t sharpen = 0;
  // Whether the output's placeholder is worked out (pipeline/placeholder.h).
  bool placeholder = false;
  // The depth the output is written at: at a grey one its placeholder is
  // grey too.
  int16_t writtenDepth = 0;
  // The finished rows are held whole, never a ring: a quality search
  // (pipeline/goal_export.h) encodes them many times.
  bool keepRows = false;
  // Not kCentre: the whole full resize is made first, and the window is
  // placed on it by this rule and cut from it (Pipeline::CutWindow).
  CropRule windowRule = CropRule::kCentre;
};
