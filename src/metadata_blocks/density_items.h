// A pixel density as IFD0 states it, made from the other places a source
// may state one (a JPEG's JFIF density, a PNG's pHYs chunk).
#pragma once

#include <cstdint>

#include "base/item_types.h"
#include "platform/user_data.h"

constexpr OSType kXResolution = kTiffItemBase + 0x011A;
constexpr OSType kYResolution = kTiffItemBase + 0x011B;
constexpr OSType kResolutionUnit = kTiffItemBase + 0x0128;

bool HasIfd0Resolution(UserData ud);

// A density as IFD0 states it: per unit (2 inch, 3 centimetre), each axis a
// rational (numerator, denominator).
struct Ifd0Density {
  uint32_t x[2];
  uint32_t y[2];
  uint16_t unit;
};
// The density for IFD0, when the items have no IFD0 resolution but a JFIF
// density or pHYs item.
bool Ifd0DensityFromOthers(UserData ud, Ifd0Density* out);

// Adds that density as IFD0 resolution items: for a format whose only place
// for a density is its Exif block (WebP, HEIF, JPEG XL).
void AddIfd0DensityFromOthers(UserData ud);
