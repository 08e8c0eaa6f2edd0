// Quarter and half turns on raw pixel memory, clockwise. Sizes are the
// destination's; pixels are opaque units of 1, 2, 3, 4, 6 or 8 bytes.
#pragma once

#include <cstdint>

void Rotate90(const void* src, int32_t srcRowBytes, void* dst, int32_t dstRowBytes, int32_t width,
              int32_t height, int32_t bytesPerPixel);
void Rotate180(const void* src, int32_t srcRowBytes, void* dst, int32_t dstRowBytes, int32_t width,
               int32_t height, int32_t bytesPerPixel);
void Rotate270(const void* src, int32_t srcRowBytes, void* dst, int32_t dstRowBytes, int32_t width,
               int32_t height, int32_t bytesPerPixel);
