// The stages every picture passes through, once each, over pixels in
// memory: put upright, resized (prepared once for an output), its
// transparency finished, turned. The still pipeline (pipeline/pipeline.h)
// runs them on a picture that streams through bands of rows, the frames of
// an animation (pipeline/animation_frames.h) on each composited canvas in
// turn, the gain map (pipeline/gain_map.h) on its own picture; so that an
// option reaches them all by construction.
#pragma once

#include <cstdint>

#include "base/pixel_view.h"
#include "pipeline/placeholder.h"
#include "pipeline/resize_request.h"
#include "resample/resample.h"
#include "stream/row_band.h"

// The filter the request asks for: edges, kernel, space and alignment.
ResampleFilter FilterOf(const ResizeRequest& request);
// The request's resize of a source of this shape, read as samples says,
// into its full size in its destination format, its window made.
ResampleRequest ResampleRequestFor(const ResizeRequest& request, const ImageShape& source,
                                   SourceSamples samples);

// Whether the orientation is undone where the picture lies (its sides
// stay); else PutUpright needs a buffer of the upright size.
bool UprightInPlace(int32_t orientation);
// The stored picture put upright: in place when UprightInPlace (upright is
// then ignored), else into upright, of the stored picture's sides swapped.
void PutUpright(const PixelView& stored, const PixelView& upright, int32_t orientation);

// The resampler works on 16-bit samples in the machine's order; the stored
// order is most significant byte first. A band of 16-bit samples swaps
// them as its rows are prepared: after they are published and before any
// reader sees them, by whichever side is idle.
void SwapWideRows(RowBand* rows);

// The destination's rows as an encoder reads them, prepared as they are
// published: transparency flattened onto flattenOnto (0xRRGGBB, -1 for
// none) on the machine's samples, added to the placeholder's sums (when
// given), then 16-bit samples put in the stored order.
void FinishDestinationRows(RowBand* rows, int32_t flattenOnto, PlaceholderSums* placeholder);

// One picture resized by a prepared resize, from a whole source (its
// samples in native order) into the whole window, and finished as
// FinishDestinationRows says. The resize of a frame happens here, and only
// here.
void ResizePicture(PreparedResample* resize, const PixelView& source, const PixelView& window,
                   int32_t flattenOnto);

// The picture turned clockwise by quarter turns into to, of the turned
// size; a half turn may be made where the picture lies (to is from).
void TurnPicture(const PixelView& from, const PixelView& to, int32_t quarterTurns);
