// The item types of the metadata list and the places of the text items.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

#include "base/mac_types.h"

constexpr OSType kExifItemBase = 0x65780000;     // "ex" + EXIF IFD tag
constexpr OSType kGpsItemBase = 0x67700000;      // "gp" + GPS IFD tag
constexpr OSType kTiffItemBase = 0x74690000;     // "ti" + IFD0 tag
constexpr OSType kInteropItemBase = 0x696F0000;  // "io" + interoperability IFD tag
constexpr OSType kXmpItem = FourCC("xmp ");
constexpr OSType kIccItem = FourCC("iccp");
constexpr OSType kIptcItem = FourCC("iptc");  // the IPTC records (datasets) as stored
// A JPEG source's JFIF density: unit (0 aspect only, 1 per inch, 2 per
// centimetre), then the horizontal and vertical density, 2 bytes each.
constexpr OSType kJfifDensityItem = FourCC("jfif");
// PNG chunks that describe the image's pixels, each holding the chunk's data.
constexpr OSType kPngPhysItem = FourCC("pHYs");
constexpr OSType kPngGammaItem = FourCC("gAMA");
constexpr OSType kPngChromaItem = FourCC("cHRM");
constexpr OSType kPngSrgbItem = FourCC("sRGB");
constexpr OSType kPngSignificantBitsItem = FourCC("sBIT");
constexpr uint8_t kTextTypeByte = 0xA9;
constexpr uint16_t kTiffAscii = 2;

// The byte 0xA9 followed by three letters.
constexpr OSType TextItemType(const char (&s)[4]) {
  return (OSType(kTextTypeByte) << 24) | (OSType(uint8_t(s[0])) << 16) |
         (OSType(uint8_t(s[1])) << 8) | OSType(uint8_t(s[2]));
}

constexpr bool IsTextItemType(OSType type) {
  return (type >> 24) == kTextTypeByte;
}

constexpr OSType kCommentItem = TextItemType("cmt");

// The IFD0 ASCII tag of a text item, or 0; the text item of an IFD0 tag, or 0.
uint16_t Ifd0TagOfTextItem(OSType type);
OSType TextItemOfIfd0Tag(uint16_t tag);
// The PNG text keyword of a text item, or empty; the text item of a keyword,
// or 0.
std::string_view PngKeywordOfTextItem(OSType type);
OSType TextItemOfPngKeyword(std::string_view keyword);

// The first number of an integer item (numbers big-endian) whatever its
// field type: BYTE, SHORT or LONG, signed or not; an item without a field
// type by its size (1, 2 or 4 bytes). Nothing for another type, or for an
// item too short to hold one number.
std::optional<int64_t> FirstIntegerOfItem(std::span<const uint8_t> item, uint16_t tiffType);
