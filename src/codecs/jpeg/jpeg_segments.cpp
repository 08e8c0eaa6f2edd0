#include "codecs/jpeg/jpeg_segments.h"

#include <cstring>

#include "base/big_endian.h"

std::vector<JpegSegment> JpegHeaderSegments(ByteSpan file) {
  std::vector<JpegSegment> segments;
  if (file.size() < 4 || file[0] != 0xFF || file[1] != 0xD8) return segments;
  size_t at = 2;
  while (at + 4 <= file.size() && file[at] == 0xFF) {
    const uint8_t marker = file[at + 1];
    if (marker == 0xFF) {  // fill byte
      ++at;
      continue;
    }
    if (marker == 0xDA || marker == 0xD9) break;  // image data or the end
    const size_t length = ReadBigEndian16(file.data() + at + 2);
    if (length < 2 || file.size() - at - 2 < length) break;
    segments.push_back({marker, at, file.subspan(at + 4, length - 2)});
    at += 2 + length;
  }
  return segments;
}

bool JpegSegmentIs(const JpegSegment& segment, uint8_t marker, ByteSpan name) {
  return segment.marker == marker && segment.body.size() >= name.size() &&
         std::memcmp(segment.body.data(), name.data(), name.size()) == 0;
}

std::vector<uint8_t> MakeJpegSegment(uint8_t marker, ByteSpan name, ByteSpan payload) {
  const size_t length = 2 + name.size() + payload.size();
  if (length > 65535) return {};
  std::vector<uint8_t> segment = {0xFF, marker, 0, 0};
  WriteBigEndian16(uint16_t(length), segment.data() + 2);
  segment.insert(segment.end(), name.begin(), name.end());
  segment.insert(segment.end(), payload.begin(), payload.end());
  return segment;
}
