// "//drop" and "//keep": kinds of metadata left out of the copy, or the
// only ones that travel.
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
  // who made the picture and who holds its rights: the EXIF Artist and
  // Copyright, XMP dc:creator and dc:rights, IPTC by-line and copyright
  kDropCopyright = 256,
};
constexpr uint32_t kAllDropItems = 511;

// The kind a "//drop" word names ("gps", "exif", "makernotes", "xmp",
// "iptc", "comment", "icc", "gainmap", "copyright"); 0 for any other word.
uint32_t DropItemForWord(std::string_view word);
// The word for one kind (a single bit); empty for anything else.
std::string_view WordForDropItem(uint32_t kind);

// The kinds left out: those "//drop" named, or, when "//keep" named some
// (kept is not 0), every other one.
uint32_t LeftOutKinds(uint32_t drop, uint32_t kept);

// Removes from ud every item of the kinds LeftOutKinds(drop, kept) leaves
// out. Under "//keep" an item that is of a kept kind too travels (the GPS
// fields under "//keep exif", the EXIF Artist under "//keep copyright"), an
// IPTC block not kept keeps its copyright records when they are, and text
// fields of no kind are left out with the rest.
void DropItems(UserData ud, uint32_t drop, uint32_t kept);

// Leaves the gain map out of the copy, and with it what the XMP packet says
// of one, whether a map was read or not (it may be cut off or unreadable).
void LeaveOutGainMap(UserData ud);
