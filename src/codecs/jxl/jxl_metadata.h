// The metadata of a JPEG XL file: its Exif and XMP boxes (Brotli-compressed
// "brob" boxes included, which libjxl unpacks) and an ICC profile it embeds,
// as items. The exporter writes the boxes itself, so the generic metadata
// writer leaves JPEG XL files alone.
#pragma once

#include "platform/codec.h"

OSErr ReadJxlMetaData(ByteSpan file, UserData ud);
