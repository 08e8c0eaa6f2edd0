// Where a file keeps its Exif block (a TIFF structure), found by walking its
// segments or chunks: a JPEG's "Exif" APP1 segment, a PNG's eXIf chunk, a
// WebP's EXIF chunk.
#pragma once

#include <span>

#include "platform/codec.h"

// The block's bytes within file, empty when the file has none.
ByteSpan FindExifBlock(ByteSpan file);
