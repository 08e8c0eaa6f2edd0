// The encoder settings both WebP writers use, the still one and the
// animated one, so that a quality gives the same pictures in either.
#pragma once

#include <cstdint>

#include <webp/encode.h>

// Lossy at the quality's percent, or lossless (exact, colour under
// transparency kept) from codecLosslessQuality up, at the method an effort
// 0 ... 9 maps onto (-1: method 4, what libwebp's own tools spend); false
// when libwebp refuses the settings.
bool WebpConfigForQuality(int32_t quality, int32_t effort, WebPConfig* config);
// WebP's method 0 ... 6 for an effort 0 ... 9, spread evenly.
int WebpMethodForEffort(int32_t effort);
