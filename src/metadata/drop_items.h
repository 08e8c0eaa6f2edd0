// "//drop": kinds of metadata left out of the copy.
#pragma once

#include <cstdint>
#include <string_view>

#include "platform/user_data.h"

enum DropItem : uint32_t {
  kDropGps = 1,   // the GPS fields, and the GPS properties of the XMP packets
  kDropExif = 2,  // the whole EXIF block: IFD0, EXIF, GPS, maker note, IFD0 texts
  kDropMakerNotes = 4,
  kDropXmp = 8,
  kDropIptc = 16,
  kDropComment = 32,
  kDropIcc = 64,  // with the PNG chunks that describe the same colours
  kDropGainMap = 128,
};

// The kind a "//drop" word names ("gps", "exif", "makernotes", "xmp",
// "iptc", "comment", "icc", "gainmap"); 0 for any other word.
uint32_t DropItemForWord(std::string_view word);

// Removes every item of the kinds in drop from ud.
void DropItems(UserData ud, uint32_t drop);

// Leaves the gain map out of the copy, and with it what the XMP packet says
// of one, whether a map was read or not (it may be cut off or unreadable).
void LeaveOutGainMap(UserData ud);
