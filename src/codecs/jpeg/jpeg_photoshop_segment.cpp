#include "codecs/jpeg/jpeg_photoshop_segment.h"

#include <algorithm>
#include <cstring>

#include "base/big_endian.h"
#include "codecs/jpeg/jpeg_segments.h"

namespace {

constexpr char kHeader[] = "Photoshop 3.0";  // with its terminating zero
constexpr size_t kHeaderBytes = sizeof kHeader;
constexpr size_t kMostPerSegment = 65533 - kHeaderBytes;

}  // namespace

std::vector<uint8_t> FindJpegPhotoshopBlock(ByteSpan file) {
  std::vector<uint8_t> block;
  const ByteSpan name{reinterpret_cast<const uint8_t*>(kHeader), kHeaderBytes};
  for (const JpegSegment& segment : JpegHeaderSegments(file)) {
    if (JpegSegmentIs(segment, 0xED, name)) {
      block.insert(block.end(), segment.body.begin() + kHeaderBytes, segment.body.end());
    }
  }
  return block;
}

bool PutJpegPhotoshopBlock(ByteSpan block, std::vector<uint8_t>* jpeg) {
  if (block.empty() || jpeg->size() < 4 || (*jpeg)[0] != 0xFF || (*jpeg)[1] != 0xD8) return false;
  size_t at = 2;
  while (at + 4 <= jpeg->size() && (*jpeg)[at] == 0xFF && (*jpeg)[at + 1] >= 0xE0 &&
         (*jpeg)[at + 1] < 0xED) {
    at += 2 + ReadBigEndian16(jpeg->data() + at + 2);
  }
  if (at > jpeg->size()) return false;
  std::vector<uint8_t> segments;
  for (size_t from = 0; from < block.size(); from += kMostPerSegment) {
    const size_t piece = std::min(kMostPerSegment, block.size() - from);
    const uint8_t head[4] = {0xFF, 0xED, 0, 0};
    segments.insert(segments.end(), head, head + 4);
    WriteBigEndian16(uint16_t(2 + kHeaderBytes + piece), segments.data() + segments.size() - 2);
    segments.insert(segments.end(), kHeader, kHeader + kHeaderBytes);
    segments.insert(segments.end(), block.begin() + long(from), block.begin() + long(from + piece));
  }
  jpeg->insert(jpeg->begin() + long(at), segments.begin(), segments.end());
  return true;
}
