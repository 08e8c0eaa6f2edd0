// The metadata chunks of a WebP file, set with libwebpmux. (exiv2 0.27.6
// writes a WebP ICC profile under the wrong chunk name, so WebP files are
// not written through it.)
#pragma once

#include <cstdint>
#include <vector>

#include "platform/codec.h"

bool IsWebpFile(ByteSpan file);

struct WebpChunks {
  std::vector<uint8_t> exif;  // each: empty for none
  std::vector<uint8_t> xmp;
  std::vector<uint8_t> icc;
};

// Replaces the file with one holding the chunks as well; a chunk that
// libwebpmux refuses is left out. False, and the file unchanged, when it
// refuses the file itself.
bool PutWebpChunks(const WebpChunks& chunks, std::vector<uint8_t>* webp);
