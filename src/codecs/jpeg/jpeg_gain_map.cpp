#include "codecs/jpeg/jpeg_gain_map.h"

#include <algorithm>
#include <cstring>
#include <string_view>

#include "base/big_endian.h"
#include "codecs/jpeg/jpeg_segments.h"

namespace {

constexpr uint8_t kApp1 = 0xE1;
constexpr uint8_t kApp2 = 0xE2;
constexpr uint8_t kMpfName[] = {'M', 'P', 'F', 0};
constexpr char kIsoName[] = "urn:iso:std:iso:ts:21496:-1";  // with its zero
constexpr char kXmpName[] = "http://ns.adobe.com/xap/1.0/";
constexpr uint8_t kExifName[] = {'E', 'x', 'i', 'f', 0, 0};

const ByteSpan kIso{reinterpret_cast<const uint8_t*>(kIsoName), sizeof kIsoName};
const ByteSpan kXmp{reinterpret_cast<const uint8_t*>(kXmpName), sizeof kXmpName};

// MPF tags: the index's version, its number of images, its entries.
constexpr uint16_t kMpfVersionTag = 0xB000;
constexpr uint16_t kImageCountTag = 0xB001;
constexpr uint16_t kEntriesTag = 0xB002;
constexpr size_t kEntryBytes = 16;  // attribute, size, offset, two dependent images
// A head-only reader tells a gain map by this much of an image's start,
// and reads no larger one.
constexpr uint64_t kGainMapHeadBytes = 64 << 10;
constexpr uint64_t kMostGainMapBytes = uint64_t(64) << 20;
// Baseline MP primary image, flagged as the representative image.
constexpr uint32_t kPrimaryAttribute = 0x20030000;

// The MPF index: where its TIFF header is in the file (offsets count from
// there), and where each entry is.
struct MpfIndex {
  size_t base = 0;
  bool little = false;
  std::vector<size_t> entries;  // file positions of the 16-byte entries
};

bool ReadMpfIndex(ByteSpan file, MpfIndex* index) {
  for (const JpegSegment& segment : JpegHeaderSegments(file)) {
    if (!JpegSegmentIs(segment, kApp2, kMpfName)) continue;
    const ByteSpan tiff = segment.body.subspan(sizeof kMpfName);
    if (tiff.size() < 8) return false;
    const bool little = tiff[0] == 'I';
    if ((tiff[0] != 'M' && !little) || tiff[1] != tiff[0] ||
        ReadOrdered16(&tiff[2], little) != 42) {
      return false;
    }
    const uint64_t ifd = ReadOrdered32(&tiff[4], little);
    if (ifd > tiff.size() - 2) return false;
    const size_t fields = ReadOrdered16(&tiff[ifd], little);
    if ((tiff.size() - ifd - 2) / 12 < fields) return false;
    for (size_t i = 0; i < fields; ++i) {
      const uint8_t* field = &tiff[ifd + 2 + 12 * i];
      if (ReadOrdered16(field, little) != kEntriesTag) continue;
      const uint64_t count = ReadOrdered32(field + 4, little) / kEntryBytes;
      const uint64_t at = ReadOrdered32(field + 8, little);
      // As many entries as the segment holds.
      if (count < 1 || at > tiff.size() || (tiff.size() - at) / kEntryBytes < count) {
        return false;
      }
      index->base = size_t(tiff.data() - file.data());
      index->little = little;
      for (uint64_t e = 0; e < count; ++e) index->entries.push_back(index->base + at + e * 16);
      return true;
    }
    return false;
  }
  return false;
}

bool Contains(ByteSpan bytes, std::string_view text) {
  const std::string_view view(reinterpret_cast<const char*>(bytes.data()), bytes.size());
  return view.find(text) != std::string_view::npos;
}

bool IsGainMapFile(ByteSpan jpeg) {
  for (const JpegSegment& segment : JpegHeaderSegments(jpeg)) {
    if (JpegSegmentIs(segment, kApp2, kIso)) return true;
    if (JpegSegmentIs(segment, kApp1, kXmp) &&
        (Contains(segment.body, "http://ns.adobe.com/hdr-gain-map/1.0/") ||
         Contains(segment.body, "urn:com:apple:photo:2020:aux:hdrgainmap"))) {
      return true;
    }
  }
  return false;
}

bool IsMpfOrIso(const JpegSegment& segment) {
  return JpegSegmentIs(segment, kApp2, kMpfName) || JpegSegmentIs(segment, kApp2, kIso);
}

// Where segments go after the file's application segments (APP0 to APP15
// at its head).
size_t AfterApplicationSegments(ByteSpan file, uint8_t lastMarker = 0xEF) {
  size_t at = 2;
  for (const JpegSegment& segment : JpegHeaderSegments(file)) {
    if (segment.marker < 0xE0 || segment.marker > lastMarker) break;
    at = segment.at + 4 + segment.body.size();
  }
  return at;
}

// The MPF segment for a primary of primaryBytes bytes followed by a gain
// map of gainMapBytes, the segment's TIFF header being at base in the file.
std::vector<uint8_t> MakeMpfSegment(uint64_t primaryBytes, uint64_t gainMapBytes, uint64_t base) {
  constexpr uint32_t kEntriesAt = 8 + 2 + 3 * 12 + 4;
  std::vector<uint8_t> tiff(kEntriesAt + 2 * kEntryBytes, 0);
  std::memcpy(tiff.data(), "MM\0\x2A", 4);
  WriteBigEndian32(8, &tiff[4]);
  WriteBigEndian16(3, &tiff[8]);
  const auto field = [&](int i, uint16_t tag, uint16_t type, uint32_t count, uint32_t value) {
    uint8_t* f = &tiff[10 + 12 * i];
    WriteBigEndian16(tag, f);
    WriteBigEndian16(type, f + 2);
    WriteBigEndian32(count, f + 4);
    WriteBigEndian32(value, f + 8);
  };
  field(0, kMpfVersionTag, 7, 4, 0x30313030);  // "0100"
  field(1, kImageCountTag, 4, 1, 2);
  field(2, kEntriesTag, 7, 2 * kEntryBytes, kEntriesAt);
  uint8_t* entries = &tiff[kEntriesAt];
  WriteBigEndian32(kPrimaryAttribute, entries);
  WriteBigEndian32(uint32_t(primaryBytes), entries + 4);
  WriteBigEndian32(uint32_t(gainMapBytes), entries + kEntryBytes + 4);
  WriteBigEndian32(uint32_t(primaryBytes - base), entries + kEntryBytes + 8);
  return MakeJpegSegment(kApp2, kMpfName, tiff);
}

}  // namespace

JpegGainMap FindJpegGainMap(ByteSpan file) {
  MpfIndex index;
  if (!ReadMpfIndex(file, &index)) return {};
  JpegGainMap found;
  for (size_t e = 1; e < index.entries.size() && found.jpeg.empty(); ++e) {
    const uint8_t* entry = file.data() + index.entries[e];
    const uint64_t size = ReadOrdered32(entry + 4, index.little);
    const uint64_t at = index.base + uint64_t(ReadOrdered32(entry + 8, index.little));
    if (size == 0 || at >= file.size() || size > file.size() - at) continue;
    if (IsGainMapFile(file.subspan(size_t(at), size_t(size)))) {
      found.jpeg = file.subspan(size_t(at), size_t(size));
    }
  }
  if (found.jpeg.empty()) return {};
  for (const JpegSegment& segment : JpegHeaderSegments(file)) {
    if (JpegSegmentIs(segment, kApp2, kIso)) found.isoVersion = segment.body.subspan(kIso.size());
  }
  return found;
}

void AppendMpfGainMap(uint64_t fileSize, const ReadBytesAt& readAt, std::vector<uint8_t>* head) {
  MpfIndex index;
  if (!ReadMpfIndex(*head, &index)) return;
  bool found = false;
  for (size_t e = 1; e < index.entries.size(); ++e) {
    const uint8_t* entry = head->data() + index.entries[e];
    const uint64_t size = ReadOrdered32(entry + 4, index.little);
    const uint64_t at = index.base + uint64_t(ReadOrdered32(entry + 8, index.little));
    const uint64_t now = head->size();
    // Its head first: other images (previews, depth) are not read whole.
    bool taken = !found && size > 0 && size <= kMostGainMapBytes && at < fileSize &&
                 size <= fileSize - at && now - index.base <= UINT32_MAX &&
                 readAt(at, size_t(std::min(size, kGainMapHeadBytes)), head) &&
                 IsGainMapFile(ByteSpan(*head).subspan(size_t(now)));
    if (taken && size > kGainMapHeadBytes) {
      taken = readAt(at + kGainMapHeadBytes, size_t(size - kGainMapHeadBytes), head);
    }
    uint8_t* changed = head->data() + index.entries[e];  // the head may have moved
    if (taken) {
      found = true;
      WriteOrdered32(uint32_t(now - index.base), changed + 8, index.little);
    } else {
      head->resize(size_t(now));
      WriteOrdered32(0, changed + 4, index.little);
      WriteOrdered32(0, changed + 8, index.little);
    }
  }
}

std::vector<uint8_t> WithGainMapSegments(ByteSpan source, ByteSpan encoded) {
  const size_t at = AfterApplicationSegments(encoded, 0xE0);
  std::vector<uint8_t> out(encoded.begin(), encoded.begin() + long(at));
  for (const JpegSegment& segment : JpegHeaderSegments(source)) {
    const bool describes = segment.marker >= kApp1 && segment.marker <= 0xEF &&
                           !JpegSegmentIs(segment, kApp2, kMpfName) &&
                           !JpegSegmentIs(segment, kApp1, kExifName);
    if (!describes) continue;
    const uint8_t* from = source.data() + segment.at;
    out.insert(out.end(), from, from + 4 + segment.body.size());
  }
  out.insert(out.end(), encoded.begin() + long(at), encoded.end());
  return out;
}

bool PutJpegGainMap(ByteSpan gainMap, ByteSpan isoVersion, std::vector<uint8_t>* file) {
  if (gainMap.empty() || JpegHeaderSegments(*file).empty()) return false;
  std::vector<uint8_t> primary;
  size_t copied = 0;
  for (const JpegSegment& segment : JpegHeaderSegments(*file)) {
    if (!IsMpfOrIso(segment)) continue;
    primary.insert(primary.end(), file->begin() + long(copied), file->begin() + long(segment.at));
    copied = segment.at + 4 + segment.body.size();
  }
  primary.insert(primary.end(), file->begin() + long(copied), file->end());

  std::vector<uint8_t> segments;
  if (!isoVersion.empty()) segments = MakeJpegSegment(kApp2, kIso, isoVersion);
  const size_t at = AfterApplicationSegments(primary);
  const uint64_t base = at + segments.size() + 4 + sizeof kMpfName;
  const uint64_t mpfBytes = MakeMpfSegment(0, 0, 0).size();
  const uint64_t primaryBytes = primary.size() + segments.size() + mpfBytes;
  if (primaryBytes > UINT32_MAX || gainMap.size() > UINT32_MAX) return false;
  const std::vector<uint8_t> mpf = MakeMpfSegment(primaryBytes, gainMap.size(), base);
  segments.insert(segments.end(), mpf.begin(), mpf.end());
  primary.insert(primary.begin() + long(at), segments.begin(), segments.end());
  primary.insert(primary.end(), gainMap.begin(), gainMap.end());
  *file = std::move(primary);
  return true;
}
