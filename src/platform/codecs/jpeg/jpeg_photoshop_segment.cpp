#include "platform/codecs/jpeg/jpeg_photoshop_segment.h"

#include <algorithm>
#include <cstring>

#include "base/big_endian.h"

namespace {

constexpr char kHeader[] = "Photoshop 3.0";  // with its terminating zero
constexpr size_t kHeaderBytes = sizeof kHeader;
constexpr size_t kMostPerSegment = 65533 - kHeaderBytes;

}  // namespace

std::vector<uint8_t> FindJpegPhotoshopBlock(ByteSpan file) {
  std::vector<uint8_t> block;
  if (file.size() < 4 || file[0] != 0xFF || file[1] != 0xD8) return block;
  for (size_t at = 2; at + 4 <= file.size() && file[at] == 0xFF;) {
    const uint8_t marker = file[at + 1];
    if (marker == 0xDA || marker == 0xD9) break;
    const size_t length = ReadBigEndian16(file.data() + at + 2);
    if (length < 2 || file.size() - at - 2 < length) break;
    const ByteSpan body = file.subspan(at + 4, length - 2);
    if (marker == 0xED && body.size() >= kHeaderBytes &&
        std::memcmp(body.data(), kHeader, kHeaderBytes) == 0) {
      block.insert(block.end(), body.begin() + kHeaderBytes, body.end());
    }
    at += 2 + length;
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
