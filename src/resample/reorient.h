// Putting a picture upright as its EXIF orientation (1 to 8) says: a
// lossless reordering of whole pixels, of any size.
#pragma once

#include <cstdint>

#include "base/output_geometry.h"
#include "base/pixel_view.h"

// For 1 to 4, which keep the sides: the picture put upright where it is.
void ReorientInPlace(uint8_t* pixels, int64_t rowBytes, int32_t width, int32_t height,
                     int32_t pixelBytes, int32_t orientation);

// Fills the upright picture (storedHeight x storedWidth for 5 to 8, else
// storedWidth x storedHeight) from the stored one. Values outside 1 to 8
// copy the pixels as they are.
void Reorient(const uint8_t* stored, int64_t storedRowBytes, int32_t storedWidth,
              int32_t storedHeight, uint8_t* upright, int64_t uprightRowBytes, int32_t pixelBytes,
              int32_t orientation);

// Where a rectangle of the stored picture lies once the picture is upright;
// reorienting the rectangle's pixels alone gives the upright picture's
// pixels there.
PixelRect UprightRect(const PixelRect& stored, int32_t storedWidth, int32_t storedHeight,
                      int32_t orientation);
