// Fitting copied metadata to the output image.
#pragma once

#include <cstdint>

#include "base/output_geometry.h"
#include "platform/user_data.h"

// The sizes, the focal-plane resolution (scaled as the full resize is: a
// crop does not change the pixel density), a panorama's fields and the
// software text, for the picture the geometry writes.
void AdjustMetaData(UserData ud, const OutputGeometry& geometry);
// The same for a plain resize of sourceWidth x sourceHeight to what is
// written as outputWidth x outputHeight after quarterTurns.
void AdjustMetaData(UserData ud, int32_t sourceWidth, int32_t sourceHeight, int32_t outputWidth,
                    int32_t outputHeight, int32_t quarterTurns);
