// Transparency flattened onto a colour, for outputs that cannot keep it:
// each pixel's colour is laid over the background by its alpha, and the
// alpha becomes opaque. With straight (not premultiplied) samples c, alpha
// a and background b, all at the row's depth (b8 * 257 for 16 bits):
//   8 bits:  (c * a + b * (255 - a) + 127) / 255
//   16 bits: (c * a + b * (65535 - a) + 32767) / 65535
// in exact integers, the quotient rounded down: the nearest value, since
// no sum falls half-way.
#pragma once

#include <cstdint>

#include "base/mac_types.h"

// Whether rows of the buffer format carry an alpha that can be flattened.
bool FlattensFormat(OSType pixelFormat);
// Flattens pixels of a row of 32-bit ARGB (a native word, alpha in its top
// byte) or 64-bit ARGB (native 16-bit words, alpha first) onto rgb
// (0xRRGGBB). Rows of other formats are left alone.
void FlattenRow(OSType pixelFormat, uint32_t rgb, uint8_t* row, int64_t pixels);
