#include "metadata/drop_items.h"

#include <vector>

#include "base/item_types.h"
#include "metadata/photoshop_resources.h"
#include "metadata/xmp_packet.h"
#include "metadata/xmp_size.h"

namespace {

constexpr OSType kMakerNoteItem = kExifItemBase + 0x927C;

struct DropWord {
  std::string_view word;
  uint32_t item;
};
constexpr DropWord kDropWords[] = {
    {"gps", kDropGps}, {"exif", kDropExif},       {"makernotes", kDropMakerNotes},
    {"xmp", kDropXmp}, {"iptc", kDropIptc},       {"comment", kDropComment},
    {"icc", kDropIcc}, {"gainmap", kDropGainMap},
};

bool InIfd(OSType type, OSType base) {
  return (type & 0xFFFF0000u) == base;
}

// The kinds an item belongs to.
uint32_t KindsOf(OSType type) {
  if (type == kMakerNoteItem) return kDropMakerNotes | kDropExif;
  if (InIfd(type, kGpsItemBase)) return kDropGps | kDropExif;
  if (InIfd(type, kExifItemBase) || InIfd(type, kTiffItemBase) || InIfd(type, kInteropItemBase)) {
    return kDropExif;
  }
  if (type == kCommentItem) return kDropComment;
  if (IsTextItemType(type)) return Ifd0TagOfTextItem(type) != 0 ? uint32_t(kDropExif) : 0u;
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

void DropItems(UserData ud, uint32_t drop) {
  if (ud == nullptr || drop == 0) return;
  std::vector<OSType> doomed;
  for (OSType type = GetNextUserDataType(ud, 0); type != 0; type = GetNextUserDataType(ud, type)) {
    if ((KindsOf(type) & drop) != 0) doomed.push_back(type);
  }
  for (OSType type : doomed) {
    while (CountUserDataType(ud, type) > 0) {
      if (RemoveUserData(ud, type, 1) != noErr) break;
    }
  }
  // The source's blocks are written back with the items' values patched in,
  // which cannot take fields out: without them the copy is laid out from the
  // items that are left (and a maker note that cannot move is left out).
  if ((drop & (kDropGps | kDropExif | kDropMakerNotes)) != 0) SetUserDataSourceExif(ud, {});
  if ((drop & kDropIptc) != 0) SetUserDataSourcePhotoshop(ud, {});
  if ((drop & kDropGps) != 0) {
    ChangeXmpPacket(ud, WithoutXmpGps);
    ChangePhotoshopBlocks(ud, [](std::span<const uint8_t> block) {
      return WithPhotoshopXmpChanged(block, WithoutXmpGps);
    });
  }
  if ((drop & kDropGainMap) != 0) LeaveOutGainMap(ud);
}

void LeaveOutGainMap(UserData ud) {
  if (!GetUserDataGainMap(ud).empty()) SetUserDataGainMap(ud, {}, {});
  ChangeXmpPacket(ud, UnlistXmpGainMap);
}
