#include "codecs/jpeg/jpeg_exif_segment.h"

#include "base/big_endian.h"

namespace {

constexpr uint8_t kExifHeader[] = {'E', 'x', 'i', 'f', 0, 0};
constexpr size_t kMaxSegmentLength = 65535;  // the length field counts itself

}  // namespace

bool PutJpegExifSegment(std::span<const uint8_t> tiff, std::vector<uint8_t>* jpeg) {
  const size_t length = 2 + sizeof kExifHeader + tiff.size();
  if (tiff.empty() || length > kMaxSegmentLength || jpeg->size() < 4 || (*jpeg)[0] != 0xFF ||
      (*jpeg)[1] != 0xD8) {
    return false;
  }
  size_t at = 2;
  while (at + 4 <= jpeg->size() && (*jpeg)[at] == 0xFF && (*jpeg)[at + 1] == 0xE0) {
    at += 2 + ReadBigEndian16(jpeg->data() + at + 2);
  }
  if (at > jpeg->size()) return false;
  std::vector<uint8_t> segment = {0xFF, 0xE1, 0, 0};
  WriteBigEndian16(uint16_t(length), segment.data() + 2);
  segment.insert(segment.end(), std::begin(kExifHeader), std::end(kExifHeader));
  segment.insert(segment.end(), tiff.begin(), tiff.end());
  jpeg->insert(jpeg->begin() + long(at), segment.begin(), segment.end());
  return true;
}
