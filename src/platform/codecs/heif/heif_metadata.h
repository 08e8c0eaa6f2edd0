// The metadata blocks of a HEIF or AVIF file, taken with libheif (exiv2
// 0.27's own reading of these files misses Exif blocks that other tools
// write) and decoded with exiv2.
#pragma once

#include "platform/codecs/common/codec.h"

// Whether libheif takes the file.
bool IsHeifFile(ByteSpan file);
// Adds the primary image's Exif fields, XMP packet and ICC profile.
void AddHeifItems(ByteSpan file, UserData ud);
