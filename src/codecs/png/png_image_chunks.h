// The PNG chunks that describe a PNG file's pixels (pHYs, gAMA, cHRM, sRGB,
// sBIT) as items holding each chunk's data, copied from a PNG source into
// PNG output.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/codec.h"

// Adds an item for each such chunk before the image data whose length is
// right for its kind.
void AddPngImageChunkItems(ByteSpan file, UserData ud);
// Adds a chunk for each item after the header chunk, the significant bits
// refitted to the file's colour type and bit depth. A file that is not PNG,
// or that has the chunk already, is left as it is.
void PutPngImageChunkItems(UserData ud, std::vector<uint8_t>* png);
// Adds the ICC profile item as an iCCP chunk after the header chunk. exiv2
// writes it with an empty profile name, which readers reject.
void PutPngIccChunk(UserData ud, std::vector<uint8_t>* png);
