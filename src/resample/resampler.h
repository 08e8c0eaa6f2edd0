// The separable streaming resampler: horizontal filtering of each needed
// source row into a ring of intermediate rows, vertical filtering out of it.
#pragma once

#include <cstdint>

#include "resample/resample_context.h"
#include "resample/sample_positions.h"

// With either row procedure null, stores the working block's size at
// *static_cast<int64_t*>(block). Otherwise resizes, using block as the
// working memory. paramErr for a scale that is not a positive number,
// memFullErr for a direction that needs more taps than an entry can hold.
OSErr Resample(ResampleContext* context, const AxisPositions& horizontal,
               const AxisPositions& vertical, void* block);

// The row loop over the destination, top to bottom.
void ResampleRows(const ResampleContext* context);

// The context of a prepared resize, its tables built.
const ResampleContext* PreparedContext(const PreparedResample* prepared);

// Remakes region (in the prepared window's coordinates) of the prepared
// resize, exactly as the whole run gives it, from a source held whole,
// into a destination of the region's size; the same tables and block.
void RunPreparedResampleRegion(PreparedResample* prepared, const OutputWindow& region,
                               RowBand* source, RowBand* destination);
