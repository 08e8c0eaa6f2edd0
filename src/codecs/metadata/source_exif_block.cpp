#include "codecs/metadata/source_exif_block.h"

#include <cstring>

#include "base/big_endian.h"
#include "codecs/jpeg/jpeg_segments.h"

namespace {

constexpr uint8_t kExifHeader[] = {'E', 'x', 'i', 'f', 0, 0};

ByteSpan FromJpeg(ByteSpan file) {
  for (const JpegSegment& segment : JpegHeaderSegments(file)) {
    if (JpegSegmentIs(segment, 0xE1, kExifHeader) && segment.body.size() > sizeof kExifHeader) {
      return segment.body.subspan(sizeof kExifHeader);
    }
  }
  return {};
}

ByteSpan FromPng(ByteSpan file) {
  size_t at = 8;
  while (at + 12 <= file.size()) {
    const size_t length = ReadBigEndian32(file.data() + at);
    if (length > file.size() - at - 12) break;
    if (std::memcmp(file.data() + at + 4, "eXIf", 4) == 0) return file.subspan(at + 8, length);
    if (std::memcmp(file.data() + at + 4, "IDAT", 4) == 0) break;
    at += 12 + length;
  }
  return {};
}

ByteSpan FromWebp(ByteSpan file) {
  size_t at = 12;
  while (at + 8 <= file.size()) {
    const size_t length = ReadLittleEndian32(file.data() + at + 4);
    if (length > file.size() - at - 8) break;
    if (std::memcmp(file.data() + at, "EXIF", 4) == 0) {
      ByteSpan body = file.subspan(at + 8, length);
      // Some writers keep the JPEG segment's header.
      if (body.size() > sizeof kExifHeader &&
          std::memcmp(body.data(), kExifHeader, sizeof kExifHeader) == 0) {
        body = body.subspan(sizeof kExifHeader);
      }
      return body;
    }
    at += 8 + length + (length & 1);
  }
  return {};
}

}  // namespace

ByteSpan FindExifBlock(ByteSpan file) {
  if (file.size() >= 4 && file[0] == 0xFF && file[1] == 0xD8) return FromJpeg(file);
  if (file.size() >= 8 && std::memcmp(file.data(), "\x89PNG\r\n\x1A\n", 8) == 0) {
    return FromPng(file);
  }
  if (file.size() >= 12 && std::memcmp(file.data(), "RIFF", 4) == 0 &&
      std::memcmp(file.data() + 8, "WEBP", 4) == 0) {
    return FromWebp(file);
  }
  return {};
}
