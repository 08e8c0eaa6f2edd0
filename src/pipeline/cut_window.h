// A fill's window placed by a rule on the output's own full resize, once
// made, and cut from it where it lies: the output's one decode serves both.
#pragma once

#include <cstdint>

#include "base/output_geometry.h"
#include "base/pixel_view.h"
#include "pipeline/smart_crop.h"

// Where the rule puts g's window on full, g's whole full resize as made
// (16-bit samples in the machine's order, not yet finished), in its pixels.
WindowPlace PlaceOnResize(const PixelView& full, const OutputGeometry& g, CropRule rule);

// g's window moved from full to the top of the same memory, packed as
// window describes it (the window's sides and row bytes, full's base), and
// sharpened by sharpen (1/256, 0 for none) as a resize of the window alone
// sharpens the rows it makes.
void CutInPlace(const PixelView& full, const OutputGeometry& g, int32_t sharpen,
                const PixelView& window);
