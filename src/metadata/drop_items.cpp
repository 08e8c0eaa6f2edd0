#include "metadata/drop_items.h"

#include <vector>

#include "base/item_types.h"
#include "metadata/iptc_records.h"
#include "metadata/photoshop_resources.h"
#include "metadata/xmp_packet.h"
#include "metadata/xmp_size.h"
#include "platform/owned.h"

namespace {

constexpr OSType kMakerNoteItem = kExifItemBase + 0x927C;

struct DropWord {
  std::string_view word;
  uint32_t item;
};
constexpr DropWord kDropWords[] = {
    {"gps", kDropGps}, {"exif", kDropExif},       {"makernotes", kDropMakerNotes},
    {"xmp", kDropXmp}, {"iptc", kDropIptc},       {"comment", kDropComment},
    {"icc", kDropIcc}, {"gainmap", kDropGainMap}, {"copyright", kDropCopyright},
};

constexpr uint16_t kArtistTag = 0x013B;
constexpr uint16_t kCopyrightTag = 0x8298;
constexpr OSType kPngAuthorItem = TextItemType("aut");

bool InIfd(OSType type, OSType base) {
  return (type & 0xFFFF0000u) == base;
}

// The kinds an item belongs to.
uint32_t KindsOf(OSType type) {
  if (type == kMakerNoteItem) return kDropMakerNotes | kDropExif;
  if (InIfd(type, kGpsItemBase)) return kDropGps | kDropExif;
  if (type == kTiffItemBase + kArtistTag || type == kTiffItemBase + kCopyrightTag) {
    return kDropExif | kDropCopyright;
  }
  if (InIfd(type, kExifItemBase) || InIfd(type, kTiffItemBase) || InIfd(type, kInteropItemBase)) {
    return kDropExif;
  }
  if (type == kCommentItem) return kDropComment;
  if (type == kPngAuthorItem) return kDropCopyright;
  if (IsTextItemType(type)) {
    const uint16_t tag = Ifd0TagOfTextItem(type);
    if (tag == kArtistTag || tag == kCopyrightTag) return kDropExif | kDropCopyright;
    return tag != 0 ? uint32_t(kDropExif) : 0u;
  }
  if (type == kXmpItem) return kDropXmp;
  if (type == kIptcItem) return kDropIptc;
  if (type == kIccItem || type == kPngGammaItem || type == kPngChromaItem || type == kPngSrgbItem) {
    return kDropIcc;
  }
  return 0;
}

}  // namespace

uint32_t DropItemForWord(std::string_view word) {
  for (const DropWord& entry : kDropWords) {
    if (entry.word == word) return entry.item;
  }
  return 0;
}

std::string_view WordForDropItem(uint32_t kind) {
  for (const DropWord& entry : kDropWords) {
    if (entry.item == kind) return entry.word;
  }
  return {};
}

uint32_t LeftOutKinds(uint32_t drop, uint32_t kept) {
  return kept != 0 ? kAllDropItems & ~kept : drop;
}

namespace {

// The IPTC records without those of the kinds left out: under "//keep
// copyright" without "iptc" only the copyright records stay; the item goes
// when none does.
void FitIptc(UserData ud, uint32_t leftOut, uint32_t kept) {
  UniqueHandle records(NewHandle(0));
  if (!records || GetUserData(ud, records.get(), kIptcItem, 1) != noErr) return;
  const std::span<const uint8_t> was(reinterpret_cast<const uint8_t*>(*records.get()),
                                     size_t(GetHandleSize(records.get())));
  std::vector<uint8_t> fitted;
  if ((leftOut & kDropIptc) == 0) {
    fitted = IptcRecordsWhere(was, [](uint8_t r, uint8_t d) { return !IsIptcCopyright(r, d); });
  } else if ((kept & kDropCopyright) != 0) {
    fitted = IptcRecordsWhere(was, IsIptcCopyright);
  }
  if (fitted.empty()) {
    RemoveUserData(ud, kIptcItem, 1);
  } else if (fitted.size() != was.size()) {
    SetUserDataItem(ud, fitted.data(), int32_t(fitted.size()), kIptcItem, 1);
  }
}

}  // namespace

void DropItems(UserData ud, uint32_t drop, uint32_t kept) {
  const uint32_t leftOut = LeftOutKinds(drop, kept);
  if (ud == nullptr || leftOut == 0) return;
  std::vector<OSType> doomed;
  for (OSType type = GetNextUserDataType(ud, 0); type != 0; type = GetNextUserDataType(ud, type)) {
    if (type == kIptcItem) continue;  // its records are sorted below
    const uint32_t kinds = KindsOf(type);
    if ((kinds & kept) != 0) continue;
    if ((kinds & leftOut) != 0 || (kept != 0 && kinds == 0 && IsTextItemType(type))) {
      doomed.push_back(type);
    }
  }
  for (OSType type : doomed) {
    while (CountUserDataType(ud, type) > 0) {
      if (RemoveUserData(ud, type, 1) != noErr) break;
    }
  }
  // The source's blocks are written back with the items' values patched in,
  // which cannot take fields out: without them the copy is laid out from the
  // items that are left (and a maker note that cannot move is left out).
  if ((leftOut & (kDropGps | kDropExif | kDropMakerNotes | kDropCopyright)) != 0) {
    SetUserDataSourceExif(ud, {});
  }
  if ((leftOut & (kDropIptc | kDropCopyright)) != 0) {
    FitIptc(ud, leftOut, kept);
    SetUserDataSourcePhotoshop(ud, {});
  }
  const auto changeXmp = [ud](std::string (*change)(std::string_view)) {
    ChangeXmpPacket(ud, change);
    ChangePhotoshopBlocks(ud, [change](std::span<const uint8_t> block) {
      return WithPhotoshopXmpChanged(block, change);
    });
  };
  if ((leftOut & kDropGps) != 0) changeXmp(WithoutXmpGps);
  if ((leftOut & kDropCopyright) != 0) changeXmp(WithoutXmpCopyright);
  if ((leftOut & kDropGainMap) != 0) LeaveOutGainMap(ud);
}

void LeaveOutGainMap(UserData ud) {
  if (!GetUserDataGainMap(ud).empty()) SetUserDataGainMap(ud, {}, {});
  ChangeXmpPacket(ud, UnlistXmpGainMap);
}
