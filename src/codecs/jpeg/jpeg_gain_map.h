// A gain map stored with a JPEG file: a second JPEG file after the first
// one's end, found through the Multi-Picture Format index (APP2 "MPF") of
// the first, and told apart from other second images (large previews,
// depth maps) by its own metadata: the hdrgm XMP namespace (Ultra HDR), an
// ISO 21496-1 segment (APP2 "urn:iso:std:iso:ts:21496:-1") or Apple's
// gain-map XMP. The primary image of the ISO form carries a version segment
// of its own, which goes with the gain map.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "platform/codec.h"

struct JpegGainMap {
  ByteSpan jpeg;        // the gain map's whole file; empty when there is none
  ByteSpan isoVersion;  // the primary's ISO 21496-1 segment after its name
};

JpegGainMap FindJpegGainMap(ByteSpan file);

// For a reader that holds only the head of the file: reads the gain map
// among the images the MPF index lists (through readAt, only the start of
// the others) and appends it to head, changing the index to where it now
// is, so that head is again a file whose gain map FindJpegGainMap finds.
// The other images are listed with size and offset 0.
using ReadBytesAt = std::function<bool(uint64_t offset, size_t count, std::vector<uint8_t>* out)>;
void AppendMpfGainMap(uint64_t fileSize, const ReadBytesAt& readAt, std::vector<uint8_t>* head);

// The gain map's segments that describe it (its XMP, its ISO 21496-1
// metadata, others but JFIF, Exif and MPF) carried into a new encoding of
// it, after that encoding's JFIF segment.
std::vector<uint8_t> WithGainMapSegments(ByteSpan source, ByteSpan encoded);

// Appends the gain map to the file and lists both in a new MPF index (any
// index and ISO 21496-1 segment already there go), put after the file's
// application segments with the ISO version segment before it when
// isoVersion is not empty. False, and the file unchanged, when the file
// does not begin as a JPEG file or the gain map is empty.
bool PutJpegGainMap(ByteSpan gainMap, ByteSpan isoVersion, std::vector<uint8_t>* file);
