// PNG text chunks as text items, read with libpng, written as tEXt or iTXt
// chunks; and the Exif block as an eXIf chunk. Chunks are placed right after
// the header chunk.
#pragma once

#include <cstdint>
#include <vector>

#include "codecs/png/png_chunk_write.h"  // IsPngFile
#include "platform/codec.h"

// Adds a text item for each text chunk before the image data whose keyword
// has a text item type.
void AddPngTextItems(ByteSpan file, UserData ud);
// Adds a text chunk for each text item with a PNG keyword and no IFD0 field
// of its own (those go into the EXIF block). A file that is not PNG is left
// as it is.
void PutPngTextItems(UserData ud, std::vector<uint8_t>* png);
// Adds an eXIf chunk holding the TIFF structure tiff (nothing when empty).
void PutPngExifChunk(const std::vector<uint8_t>& tiff, std::vector<uint8_t>* png);
