// Every frame of an animation back in the file that libwebp's animation
// encoder assembled. The encoder merges a frame that repeats its
// predecessor into it, adding the delays (exact repeats are never given to
// it; a lossy frame within its tolerance of the last is merged all the
// same), so that the file would have fewer frames than it was given. Each
// merged frame comes back with its own delay as one transparent pixel
// blended over the canvas, which changes nothing on it.
#pragma once

#include <cstdint>
#include <vector>

#include <webp/mux.h>

#include "base/mac_types.h"

// delays: every frame's, as given; repeats: whether each repeated its
// predecessor exactly (and so was not encoded). The file is rebuilt only
// when it has fewer frames; one whose frames cannot be matched with the
// delays (which it plays as they say anyway) is left as it is.
OSErr KeepEveryFrame(const std::vector<int32_t>& delays, const std::vector<bool>& repeats,
                     int32_t width, int32_t height, const WebPMuxAnimParams& params,
                     std::vector<uint8_t>* file);
