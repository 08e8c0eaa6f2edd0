// A gain map carried with the copied metadata, fitted to the output: the
// picture's resize, crop, upright reordering and turn done to it by the same
// factors (its own size over the picture's), then encoded as JPEG at the
// output's quality with its own metadata segments, and the length the XMP
// container directory states for it changed to match.
#pragma once

#include <cstdint>

#include "imageio/export_settings.h"
#include "pipeline/resize_request.h"
#include "platform/user_data.h"

// The pipeline's last stage before the encoder. Where the output format
// holds a gain map, the map follows resize.geometry: its orientation undone,
// its resize and window scaled by the map's size over the picture's source,
// its turns, and it is never larger than the picture. Elsewhere, or when it
// cannot be fitted (damaged, beyond the memory limit) or could not be read,
// it is left out: the output is the plain picture, its XMP unlisting the map.
void FitGainMap(UserData ud, const ResizeRequest& resize, const ExportSettings& settings);
