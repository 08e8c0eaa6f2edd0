// The separable streaming resampler: horizontal filtering of each needed
// source row into a ring of intermediate rows, vertical filtering out of it.
#pragma once

#include <cstdint>

#include "resample/resample_context.h"

// With either row procedure null, stores the working block's size at
// *static_cast<int64_t*>(block). Otherwise resizes, using block as the
// working memory. paramErr for a scale that is not a positive number,
// memFullErr for a direction that needs more taps than an entry can hold.
OSErr Resample(ResampleContext* context, double horizontalScale, double horizontalOrigin,
               double verticalScale, double verticalOrigin, void* block);

// The row loop over the destination, top to bottom.
void ResampleRows(const ResampleContext* context);

// (output length - 1) / (input length - 1), with the degenerate sizes: an
// output of 1 is taken at scale 1, an input of 1 (to more) at +infinity.
double CornerAlignedScale(int32_t sourceLength, int32_t destinationLength);
