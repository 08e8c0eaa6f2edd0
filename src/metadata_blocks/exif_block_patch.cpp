#include "metadata_blocks/exif_block_patch.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <map>
#include <optional>
#include <span>
#include <string_view>
#include <utility>
#include <vector>

#include "base/big_endian.h"
#include "base/item_types.h"

namespace {

constexpr uint16_t kExifPointer = 0x8769;
constexpr uint16_t kGpsPointer = 0x8825;
constexpr uint16_t kInteropPointer = 0xA005;
constexpr uint16_t kShort = 3;
constexpr uint16_t kLong = 4;
constexpr size_t kEntryBytes = 12;

// Bytes of one element of a field type; 0 for no field type.
size_t ElementBytes(uint16_t type) {
  static constexpr std::array<uint8_t, 13> kBytes = {0, 1, 1, 2, 4, 8, 1, 1, 2, 4, 8, 4, 8};
  return type < kBytes.size() ? kBytes[type] : 0;
}

// Bytes of the numbers an element is made of (a rational is two).
size_t UnitBytes(uint16_t type) {
  return (type == 5 || type == 10) ? 4 : ElementBytes(type);
}

struct Entry {
  uint16_t tag = 0;
  uint16_t type = 0;
  uint32_t count = 0;
  std::array<uint8_t, 4> value{};  // as stored: the value itself or its offset
};

struct Ifd {
  bool exists = false;
  size_t at = 0;
  std::vector<Entry> entries;
  uint32_t next = 0;
};

using Wants = std::map<uint16_t, ExifItemField>;

class Tiff {
 public:
  Tiff(std::span<const uint8_t> block, bool little)
      : b_(block.begin(), block.end()), little_(little) {}

  std::vector<uint8_t>& bytes() { return b_; }
  size_t size() const { return b_.size(); }

  uint16_t U16(const uint8_t* p) const { return ReadOrdered16(p, little_); }
  uint32_t U32(const uint8_t* p) const { return ReadOrdered32(p, little_); }
  void Put16(uint8_t* p, uint16_t v) const { WriteOrdered16(v, p, little_); }
  void Put32(uint8_t* p, uint32_t v) const { WriteOrdered32(v, p, little_); }

  // Big-endian numbers into the block's order.
  std::vector<uint8_t> InOrder(std::vector<uint8_t> bytes, uint16_t type) const {
    const size_t unit = UnitBytes(type);
    if (little_ && unit > 1) {
      for (size_t i = 0; i + unit <= bytes.size(); i += unit) {
        std::reverse(bytes.begin() + long(i), bytes.begin() + long(i + unit));
      }
    }
    return bytes;
  }

  bool ReadIfd(size_t at, Ifd* ifd) const {
    if (at < 8 || at > b_.size() || b_.size() - at < 2) return false;
    const size_t n = U16(&b_[at]);
    if ((b_.size() - at - 2) / kEntryBytes < n || b_.size() - at - 2 - n * kEntryBytes < 4) {
      return false;
    }
    ifd->exists = true;
    ifd->at = at;
    for (size_t i = 0; i < n; ++i) {
      const uint8_t* p = &b_[at + 2 + i * kEntryBytes];
      Entry e{U16(p), U16(p + 2), U32(p + 4), {}};
      std::copy(p + 8, p + 12, e.value.begin());
      ifd->entries.push_back(e);
    }
    ifd->next = U32(&b_[at + 2 + n * kEntryBytes]);
    return true;
  }

  // The entry's value as stored, or nothing when it lies outside the block.
  std::optional<std::vector<uint8_t>> Value(const Entry& e) const {
    const uint64_t size = uint64_t(ElementBytes(e.type)) * e.count;
    if (ElementBytes(e.type) == 0) return std::nullopt;
    if (size <= 4) return std::vector<uint8_t>(e.value.begin(), e.value.begin() + long(size));
    const uint32_t offset = U32(e.value.data());
    if (offset > b_.size() || b_.size() - offset < size) return std::nullopt;
    return std::vector<uint8_t>(b_.begin() + offset, b_.begin() + long(offset + size));
  }

  // Appends bytes at the next word boundary, answering their offset.
  uint32_t Append(std::span<const uint8_t> bytes) {
    if (b_.size() % 2 != 0) b_.push_back(0);
    const auto at = uint32_t(b_.size());
    b_.insert(b_.end(), bytes.begin(), bytes.end());
    return at;
  }

  // Sets the entry to the wanted value, changing the block only where the
  // value differs.
  void Set(Entry* e, const ExifItemField& want) {
    const uint16_t type = want.type;
    const size_t element = ElementBytes(type);
    if (element == 0 || want.bytes.size() % element != 0) return;
    const std::vector<uint8_t> bytes = InOrder(want.bytes, type);
    const std::optional<std::vector<uint8_t>> old = Value(*e);
    if (old && e->type == type && *old == bytes) return;
    const auto count = uint32_t(bytes.size() / element);
    if (bytes.size() <= 4) {
      e->value.fill(0);
      std::copy(bytes.begin(), bytes.end(), e->value.begin());
    } else if (old && old->size() > 4 && bytes.size() <= old->size()) {
      const uint32_t offset = U32(e->value.data());
      std::fill(b_.begin() + offset, b_.begin() + long(offset + old->size()), 0);
      std::copy(bytes.begin(), bytes.end(), b_.begin() + offset);
    } else {
      Put32(e->value.data(), Append(bytes));
    }
    e->type = type;
    e->count = count;
  }

  // Writes the IFD's entries, in place when their number is unchanged, else
  // anew at the end; answers where the IFD now is.
  uint32_t Write(const Ifd& ifd, std::vector<Entry> entries, uint32_t next, bool moved) {
    std::sort(entries.begin(), entries.end(),
              [](const Entry& a, const Entry& c) { return a.tag < c.tag; });
    std::vector<uint8_t> out(2 + entries.size() * kEntryBytes + 4);
    Put16(out.data(), uint16_t(entries.size()));
    for (size_t i = 0; i < entries.size(); ++i) {
      uint8_t* p = &out[2 + i * kEntryBytes];
      Put16(p, entries[i].tag);
      Put16(p + 2, entries[i].type);
      Put32(p + 4, entries[i].count);
      std::copy(entries[i].value.begin(), entries[i].value.end(), p + 8);
    }
    Put32(&out[out.size() - 4], next);
    if (!moved && ifd.exists) {
      std::copy(out.begin(), out.end(), b_.begin() + long(ifd.at));
      return uint32_t(ifd.at);
    }
    return Append(out);
  }

  // The IFD with the wanted values and pointers; 0 when there is none and
  // nothing to put in one.
  uint32_t Finish(const Ifd& ifd, const Wants& wants, const std::vector<Entry>& pointers,
                  bool dropEncoding, bool unlinkNext) {
    if (!ifd.exists && wants.empty() && pointers.empty()) return 0;
    std::vector<Entry> entries = ifd.entries;
    bool moved = false;
    if (dropEncoding) {
      moved = std::erase_if(entries, [](const Entry& e) {
                return !IsExifItemField(kTiffItemBase, e.tag) && e.tag != kExifPointer &&
                       e.tag != kGpsPointer;
              }) != 0;
    }
    auto find = [&entries](uint16_t tag) {
      return std::find_if(entries.begin(), entries.end(),
                          [tag](const Entry& e) { return e.tag == tag; });
    };
    for (const Entry& pointer : pointers) {
      auto it = find(pointer.tag);
      if (it == entries.end()) {
        entries.push_back(pointer);
        moved = true;
      } else {
        it->value = pointer.value;
      }
    }
    for (const auto& [tag, want] : wants) {
      auto it = find(tag);
      if (it == entries.end()) {
        Entry e{tag, 0, 0, {}};
        Set(&e, want);
        if (e.type == 0) continue;
        entries.push_back(e);
        moved = true;
      } else {
        Set(&*it, want);
      }
    }
    return Write(ifd, std::move(entries), unlinkNext ? 0 : ifd.next, moved);
  }

  Entry Pointer(uint16_t tag, uint32_t at) const {
    Entry e{tag, kLong, 1, {}};
    Put32(e.value.data(), at);
    return e;
  }

  // The IFD a pointer entry of parent names; false for a pointer that
  // names no readable IFD.
  bool Child(const Ifd& parent, uint16_t tag, Ifd* child) const {
    for (const Entry& e : parent.entries) {
      if (e.tag == tag) return ReadIfd(U32(e.value.data()), child);
    }
    return true;
  }

 private:
  std::vector<uint8_t> b_;
  bool little_;
};

using Range = std::pair<size_t, size_t>;  // [first, second)

constexpr uint16_t kMakerNoteTag = 0x927C;

const Entry* Find(const Ifd& ifd, uint16_t tag) {
  auto it = std::find_if(ifd.entries.begin(), ifd.entries.end(),
                         [tag](const Entry& e) { return e.tag == tag; });
  return it == ifd.entries.end() ? nullptr : &*it;
}

// Where the entry's value lies when it is stored outside the entry, within
// the block.
std::optional<Range> OutOfLine(const Tiff& tiff, const Entry& e) {
  const uint64_t size = uint64_t(ElementBytes(e.type)) * e.count;
  if (size <= 4) return std::nullopt;
  const uint32_t offset = tiff.U32(e.value.data());
  if (offset > tiff.size() || tiff.size() - offset < size) return std::nullopt;
  return Range{offset, offset + size};
}

// The numbers a SHORT or LONG entry holds.
std::vector<uint32_t> Numbers(const Tiff& tiff, const Entry* e) {
  std::vector<uint32_t> numbers;
  const std::optional<std::vector<uint8_t>> bytes = e == nullptr ? std::nullopt : tiff.Value(*e);
  if (!bytes || (e->type != kShort && e->type != kLong)) return numbers;
  const size_t step = ElementBytes(e->type);
  for (size_t i = 0; i + step <= bytes->size(); i += step) {
    numbers.push_back(step == 2 ? tiff.U16(&(*bytes)[i]) : tiff.U32(&(*bytes)[i]));
  }
  return numbers;
}

Range Directory(const Ifd& ifd) {
  return {ifd.at, ifd.at + 2 + ifd.entries.size() * kEntryBytes + 4};
}

// IFD1, its values and the thumbnail it points to (a JPEG one, or strips).
std::vector<Range> ThumbnailRanges(const Tiff& tiff, const Ifd& ifd1) {
  std::vector<Range> ranges{Directory(ifd1)};
  for (const Entry& e : ifd1.entries) {
    if (std::optional<Range> r = OutOfLine(tiff, e)) ranges.push_back(*r);
  }
  for (auto [offsetsTag, lengthsTag] : {std::pair{0x0201, 0x0202}, std::pair{0x0111, 0x0117}}) {
    const std::vector<uint32_t> offsets = Numbers(tiff, Find(ifd1, uint16_t(offsetsTag)));
    const std::vector<uint32_t> lengths = Numbers(tiff, Find(ifd1, uint16_t(lengthsTag)));
    for (size_t i = 0; i < std::min(offsets.size(), lengths.size()); ++i) {
      if (offsets[i] >= tiff.size()) continue;
      ranges.push_back(
          {offsets[i], offsets[i] + std::min<size_t>(lengths[i], tiff.size() - offsets[i])});
    }
  }
  return ranges;
}

// The header, and the IFDs that stay with their values.
std::vector<Range> KeptRanges(const Tiff& tiff, std::span<const Ifd* const> ifds) {
  std::vector<Range> ranges{{0, 8}};
  for (const Ifd* ifd : ifds) {
    if (!ifd->exists) continue;
    ranges.push_back(Directory(*ifd));
    for (const Entry& e : ifd->entries) {
      if (std::optional<Range> r = OutOfLine(tiff, e)) ranges.push_back(*r);
    }
  }
  return ranges;
}

// The ranges in order, joined where they meet or overlap.
std::vector<Range> Joined(std::vector<Range> ranges) {
  std::sort(ranges.begin(), ranges.end());
  std::vector<Range> joined;
  for (const Range& r : ranges) {
    if (!joined.empty() && r.first <= joined.back().second) {
      joined.back().second = std::max(joined.back().second, r.second);
    } else {
      joined.push_back(r);
    }
  }
  return joined;
}

// The parts of ranges that no kept range overlaps, in order.
std::vector<Range> Outside(std::vector<Range> ranges, std::vector<Range> kept) {
  ranges = Joined(std::move(ranges));
  kept = Joined(std::move(kept));
  std::vector<Range> left;
  size_t k = 0;
  for (Range r : ranges) {
    while (k < kept.size() && kept[k].second <= r.first) ++k;
    for (size_t j = k; j < kept.size() && kept[j].first < r.second; ++j) {
      if (r.first < kept[j].first) left.push_back({r.first, kept[j].first});
      r.first = std::max(r.first, kept[j].second);
    }
    if (r.first < r.second) left.push_back(r);
  }
  return left;
}

// Takes IFD1 and the thumbnail out of the block: the other IFDs and values
// close up behind them and their offsets follow. A maker note that counts
// offsets from the start of the block cannot move, nor can what it may
// point to: then only what ends the block is cut off, and the thumbnail's
// bytes elsewhere are zeroed in place.
void LeaveOutThumbnail(Tiff* tiff) {
  std::vector<uint8_t>& b = tiff->bytes();
  Ifd ifd0, ifd1, exif, gps, interop;
  if (!tiff->ReadIfd(tiff->U32(b.data() + 4), &ifd0) || ifd0.next == 0) return;
  const bool hasIfd1 = tiff->ReadIfd(ifd0.next, &ifd1);
  tiff->Put32(&b[Directory(ifd0).second - 4], 0);
  if (!hasIfd1 || !tiff->Child(ifd0, kExifPointer, &exif) ||
      !tiff->Child(ifd0, kGpsPointer, &gps) || !tiff->Child(exif, kInteropPointer, &interop)) {
    return;
  }
  const std::array<const Ifd*, 4> kept = {&ifd0, &exif, &gps, &interop};
  const std::vector<Range> keptRanges = KeptRanges(*tiff, kept);
  const std::vector<Range> dead = Outside(ThumbnailRanges(*tiff, ifd1), keptRanges);
  for (auto [first, last] : dead) std::fill(b.begin() + long(first), b.begin() + long(last), 0);

  const Entry* note = Find(exif, kMakerNoteTag);
  const std::optional<std::vector<uint8_t>> noteBytes =
      note == nullptr ? std::nullopt : tiff->Value(*note);
  const bool noteStays = note != nullptr && (!noteBytes || !IsSelfContainedMakerNote(*noteBytes));
  std::vector<Range> removed;
  for (auto [first, last] : dead) {
    // Cutting off the block's end moves nothing a note may point to.
    if (noteStays && last != b.size()) continue;
    // An even number of bytes, so that every value after stays on a word
    // boundary; the end of the block goes whole.
    removed.push_back({first, last == b.size() ? last : first + ((last - first) & ~size_t(1))});
  }
  // Each removed range's end, and the bytes removed up to it.
  std::vector<Range> removedBy;
  for (auto [first, last] : removed) {
    removedBy.push_back({last, (removedBy.empty() ? 0 : removedBy.back().second) + last - first});
  }
  auto moved = [&removedBy](uint32_t offset) {
    auto after = std::upper_bound(removedBy.begin(), removedBy.end(), Range{offset, SIZE_MAX});
    return after == removedBy.begin() ? offset : uint32_t(offset - std::prev(after)->second);
  };
  for (const Ifd* ifd : kept) {
    for (size_t i = 0; ifd->exists && i < ifd->entries.size(); ++i) {
      const Entry& e = ifd->entries[i];
      const bool pointer = (ifd == &ifd0 && (e.tag == kExifPointer || e.tag == kGpsPointer)) ||
                           (ifd == &exif && e.tag == kInteropPointer);
      if (pointer || OutOfLine(*tiff, e)) {
        uint8_t* at = &b[ifd->at + 2 + i * kEntryBytes + 8];
        tiff->Put32(at, moved(tiff->U32(at)));
      }
    }
  }
  tiff->Put32(b.data() + 4, moved(tiff->U32(b.data() + 4)));
  std::vector<uint8_t> closed;
  size_t from = 0;
  for (auto [first, last] : removed) {
    closed.insert(closed.end(), b.begin() + long(from), b.begin() + long(first));
    from = last;
  }
  closed.insert(closed.end(), b.begin() + long(from), b.end());
  b = std::move(closed);
}

}  // namespace

std::optional<std::vector<uint8_t>> PatchExifBlock(std::span<const uint8_t> block, UserData ud,
                                                   LooseTextItems loose) {
  if (block.size() < 8) return std::nullopt;
  const bool little = std::memcmp(block.data(), "II\x2A\x00", 4) == 0;
  if (!little && std::memcmp(block.data(), "MM\x00\x2A", 4) != 0) return std::nullopt;
  Tiff tiff(block, little);
  LeaveOutThumbnail(&tiff);
  Ifd ifd0, exif, gps, interop;
  if (!tiff.ReadIfd(tiff.U32(tiff.bytes().data() + 4), &ifd0) ||
      !tiff.Child(ifd0, kExifPointer, &exif) || !tiff.Child(ifd0, kGpsPointer, &gps) ||
      !tiff.Child(exif, kInteropPointer, &interop)) {
    return std::nullopt;
  }
  std::map<OSType, Wants> wants;
  for (ExifItemField& field : ExifItemFields(ud, loose)) {
    wants[field.base].emplace(field.tag, std::move(field));
  }
  std::vector<Entry> exifPointers, ifd0Pointers;
  if (uint32_t at = tiff.Finish(interop, wants[kInteropItemBase], {}, false, false)) {
    exifPointers.push_back(tiff.Pointer(kInteropPointer, at));
  }
  if (uint32_t at = tiff.Finish(exif, wants[kExifItemBase], exifPointers, false, false)) {
    ifd0Pointers.push_back(tiff.Pointer(kExifPointer, at));
  }
  if (uint32_t at = tiff.Finish(gps, wants[kGpsItemBase], {}, false, false)) {
    ifd0Pointers.push_back(tiff.Pointer(kGpsPointer, at));
  }
  const uint32_t ifd0At = tiff.Finish(ifd0, wants[kTiffItemBase], ifd0Pointers, true, true);
  tiff.Put32(tiff.bytes().data() + 4, ifd0At);
  return std::move(tiff.bytes());
}

namespace {

// A maker note format that counts offsets from within the note: its header,
// where offsets count from, where its IFD's place is stated (a TIFF header
// there when it equals base) or lies, and where its byte order is marked.
struct SelfRelativeFormat {
  std::string_view header;
  size_t base;     // offsets count from here
  size_t ifdAt;    // the IFD's place; 0: stated at base + 4, as in a TIFF header
  size_t orderAt;  // "II" or "MM" here; 0: little-endian always
};

constexpr SelfRelativeFormat kSelfRelative[] = {
    {{"Nikon\0\x02", 7}, 10, 0, 10},  {{"OLYMPUS\0", 8}, 0, 12, 8},
    {{"OM SYSTEM\0", 10}, 0, 16, 12}, {{"Apple iOS\0", 10}, 0, 14, 12},
    {{"FUJIFILM", 8}, 0, 0, 0},  // the IFD's place stated at 8
};

}  // namespace

bool IsSelfContainedMakerNote(std::span<const uint8_t> note) {
  const std::string_view text(reinterpret_cast<const char*>(note.data()), note.size());
  for (const SelfRelativeFormat& format : kSelfRelative) {
    if (!text.starts_with(format.header)) continue;
    // Where the IFD's place is stated, when the format states it.
    const size_t statedAt = format.base + (format.orderAt == 0 ? 8 : 4);
    const size_t least = format.ifdAt == 0 ? statedAt + 4 : format.base + 8;
    if (note.size() < std::max<size_t>(least, format.orderAt + 2)) return false;
    const bool little = format.orderAt == 0 || note[format.orderAt] == 'I';
    const Tiff tiff(note.subspan(format.base), little);
    size_t ifdAt = format.ifdAt;
    if (ifdAt == 0) ifdAt = tiff.U32(note.data() + statedAt);
    // Every value the IFD points to lies within the note.
    Ifd ifd;
    if (!tiff.ReadIfd(ifdAt, &ifd)) return false;
    return std::all_of(ifd.entries.begin(), ifd.entries.end(),
                       [&tiff](const Entry& e) { return tiff.Value(e).has_value(); });
  }
  return false;
}
