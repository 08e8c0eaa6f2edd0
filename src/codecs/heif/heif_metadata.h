// The metadata blocks of a HEIF or AVIF file, taken with libheif (exiv2
// 0.27's own reading of these files misses Exif blocks that other tools
// write) and decoded with exiv2.
#pragma once

#include "platform/codec.h"

// The importers' metadata reader: adds the primary image's Exif fields, XMP
// packet and ICC profile. Never fails on damaged metadata.
OSErr ReadHeifMetaData(ByteSpan file, UserData ud);
