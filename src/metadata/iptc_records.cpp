#include "metadata/iptc_records.h"

namespace {

constexpr uint8_t kTagMarker = 0x1C;

// The length of the dataset that begins at `at` (marker, record, dataset,
// size, data), or 0 when it runs past the end or is no dataset. A size with
// its top bit set is an extended one: its low bits count the bytes of the
// length that follow.
size_t DatasetLength(std::span<const uint8_t> s, size_t at) {
  if (s.size() - at < 5 || s[at] != kTagMarker) return 0;
  const uint16_t size = uint16_t(s[at + 3] << 8 | s[at + 4]);
  size_t header = 5;
  uint64_t length = size;
  if ((size & 0x8000) != 0) {
    const size_t count = size & 0x7FFF;
    if (count == 0 || count > 4 || s.size() - at - header < count) return 0;
    length = 0;
    for (size_t i = 0; i < count; ++i) length = length << 8 | s[at + header + i];
    header += count;
  }
  if (length > s.size() - at - header) return 0;
  return header + size_t(length);
}

}  // namespace

std::vector<uint8_t> IptcRecordsWhere(std::span<const uint8_t> records,
                                      const std::function<bool(uint8_t, uint8_t)>& keep) {
  std::vector<uint8_t> kept;
  size_t at = 0;
  while (at < records.size()) {
    const size_t length = DatasetLength(records, at);
    if (length == 0) break;
    if (keep(records[at + 1], records[at + 2])) {
      kept.insert(kept.end(), records.begin() + at, records.begin() + at + length);
    }
    at += length;
  }
  return kept;
}

bool IsIptcCopyright(uint8_t record, uint8_t dataset) {
  return record == 2 && (dataset == 80 || dataset == 116);
}
