// A JPEG file's Photoshop image resources block (APP13 "Photoshop 3.0"),
// taken and put back whole: IPTC records, resolution, slices, paths and
// whatever else Photoshop keeps there.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/codec.h"

// The block, its segments joined; empty when the file has none.
std::vector<uint8_t> FindJpegPhotoshopBlock(ByteSpan file);
// Inserts the block, in as many APP13 segments as it needs, before the
// first segment after the APP0 to APP12 segments. False, and the file
// unchanged, when it does not begin as a JPEG file.
bool PutJpegPhotoshopBlock(ByteSpan block, std::vector<uint8_t>* jpeg);
