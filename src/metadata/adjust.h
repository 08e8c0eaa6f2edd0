// Fitting copied metadata to the output image.
#pragma once

#include <cstdint>

#include "base/output_geometry.h"
#include "platform/user_data.h"

// The sizes, the focal-plane resolution (scaled as the full resize is: a
// crop does not change the pixel density), a panorama's fields and the
// software text, for the picture the geometry writes.
void AdjustMetaData(UserData ud, const OutputGeometry& geometry);
// What the copy becomes for an output, a still's or an animation's alike:
// fitted to the geometry (AdjustMetaData), said to be upright when its
// pixels were put upright (here or by the importer), and without the items
// "//drop" and "//keep" leave out.
void FitCopiedMetaData(UserData ud, const OutputGeometry& geometry, bool upright,
                       uint32_t dropItems, uint32_t keptItems);
// The same for a plain resize of sourceWidth x sourceHeight to what is
// written as outputWidth x outputHeight after quarterTurns.
void AdjustMetaData(UserData ud, int32_t sourceWidth, int32_t sourceHeight, int32_t outputWidth,
                    int32_t outputHeight, int32_t quarterTurns);
