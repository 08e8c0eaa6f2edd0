// A gain map carried with the copied metadata, fitted to the output: the
// picture's resize, crop, upright reordering and turn done to it by the same
// factors (its own size over the picture's, at most 1: a map is never
// larger than the picture), then encoded as JPEG at the output's quality
// with its own metadata segments, and the length the XMP container
// directory states for it changed to match.
#pragma once

#include <cstdint>

#include "imageio/export_settings.h"
#include "pipeline/pipeline.h"
#include "platform/user_data.h"

// sourceBounds: what the picture's resize starts from (upright when it is
// put upright); orientation: the stored orientation that was undone first
// (1 for none). A gain map that cannot be fitted (damaged, beyond the
// memory limit) or could not be read is left out, and the output is the
// plain picture, its XMP unlisting the map.
void FitGainMap(UserData ud, const ResizeRequest& resize, Rect sourceBounds, int32_t orientation,
                const ExportSettings& settings);
