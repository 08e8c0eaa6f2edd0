// Walking the marker segments at the head of a JPEG file, and making new
// ones: what the metadata readers and writers of JPEG files share.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/codec.h"

struct JpegSegment {
  uint8_t marker = 0;
  size_t at = 0;  // where its 0xFF is
  ByteSpan body;  // after the length field
};

// The segments between the start-of-image marker and the first scan (or
// the end marker), up to the first one that is damaged or runs past the
// file; none when the file does not begin as a JPEG file.
std::vector<JpegSegment> JpegHeaderSegments(ByteSpan file);

// Whether the segment's body starts with the bytes of name (its zero
// included where name holds one).
bool JpegSegmentIs(const JpegSegment& segment, uint8_t marker, ByteSpan name);

// A segment with the marker whose body is name then payload; empty when it
// would not fit the 16-bit length.
std::vector<uint8_t> MakeJpegSegment(uint8_t marker, ByteSpan name, ByteSpan payload);
