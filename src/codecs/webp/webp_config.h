// The encoder settings both WebP writers use, the still one and the
// animated one, so that a quality gives the same pictures in either.
#pragma once

#include <cstdint>

#include <webp/encode.h>

// Lossy at the quality's percent, or lossless (exact, colour under
// transparency kept) from codecLosslessQuality up; false when libwebp
// refuses the settings.
bool WebpConfigForQuality(int32_t quality, WebPConfig* config);
