// exiv2's EXIF data and the EXIF, GPS, IFD0 and interoperability items of a
// metadata list.
#pragma once

#include <exiv2/exif.hpp>
#include <exiv2/types.hpp>

#include <cstdint>
#include <span>
#include <vector>

#include "platform/user_data.h"

// Adds an item for every field of IFD0, the EXIF IFD, the GPS IFD and the
// interoperability IFD that is an item (IFD0's text fields as text items). sourceOrder is the byte
// order the fields were stored in; single-byte fields keep their bytes as stored.
void AddExifItems(const Exiv2::ExifData& exif, Exiv2::ByteOrder sourceOrder, UserData ud);

// How the IFD0 text items without a field type of their own are placed.
enum class LooseTextItems {
  kToIfd0,    // into their IFD0 field
  kLeaveOut,  // elsewhere (a format with text chunks of its own)
};

// Whether an IFD0 field of this tag and type may go into the file.
using Ifd0FieldFilter = bool (*)(uint16_t tag, uint16_t tiffType);

// Replaces the fields of exif that ud has items for with the items' values,
// each with its recorded field type (or the tag's usual type when it has
// none). Fields that describe the file's own encoding are never touched;
// IFD0 fields that takesIfd0 (when given) refuses are left out.
void PutExifItems(UserData ud, LooseTextItems loose, Exiv2::ExifData* exif,
                  Ifd0FieldFilter takesIfd0 = nullptr);

// A maker note that cannot move whole (offsets that count from the start of
// the source's block, values past its end) is left out of a block laid out
// anew (PutExifItems, EncodeExifItems); exiv2 lays out anew the notes of the
// makes it knows, from the fields it reads in the source's block. This adds
// those fields to exif when the items carry such a note; nothing for a make
// exiv2 does not know, or when the source's block is not at hand.
void PutRelaidMakerNote(UserData ud, Exiv2::ExifData* exif);

// One field as the items give it: its IFD (the item type base), tag, field
// type and value (numbers big-endian).
struct ExifItemField {
  OSType base;
  uint16_t tag;
  uint16_t type;
  std::vector<uint8_t> bytes;
};

// The fields that PutExifItems would write, each once, IFD0 text items
// with their terminating zero.
std::vector<ExifItemField> ExifItemFields(UserData ud, LooseTextItems loose);

// Whether the field of this tag in the IFD of item type base is an item
// (false for the fields describing a file's own encoding and for pointers).
bool IsExifItemField(OSType base, uint16_t tag);

// The items as an Exif block (a TIFF structure, little-endian), empty when
// there is nothing to write: the source's block patched where there is one,
// else laid out anew with the relaid maker note (PutRelaidMakerNote) when
// exiv2 can write it.
std::vector<uint8_t> EncodeExifItems(UserData ud, LooseTextItems loose);

// The EXIF, GPS and IFD0 items (the IFD0 text items included) as an Exif
// block: a little-endian TIFF structure, empty when there are none or it
// cannot be made. For a format whose only place for metadata of this kind is
// the Exif block (WebP, and HEIF and JPEG XL, whose codecs store the block
// themselves): a density the source stated elsewhere is added to IFD0 first.
std::vector<uint8_t> ExifBlockOfItems(UserData ud);

// Adds the items of an Exif block as HEIF and JPEG XL store it: the offset
// (4 bytes, big-endian) from its fifth byte to the TIFF header, then the
// TIFF structure, which is also kept as the source's block. A block that
// does not hold together adds nothing.
void AddExifBlockItems(std::span<const uint8_t> block, UserData ud);

// Sets every orientation item to 1 (upright, a SHORT): for importers that
// apply the file's own orientation, so that a copied one would turn the
// pixels again.
void MarkExifOrientationUpright(UserData ud);
