#include "metadata_blocks/exif_items.h"

#include <algorithm>
#include <array>
#include <new>
#include <set>
#include <string>
#include <vector>

#include <exiv2/error.hpp>
#include <exiv2/tags.hpp>
#include <exiv2/value.hpp>

#include "base/big_endian.h"
#include "base/item_types.h"
#include "metadata_blocks/density_items.h"
#include "metadata_blocks/exif_block_patch.h"
#include "metadata_blocks/item_access.h"
#include "platform/metadata_library.h"

namespace {

struct Group {
  OSType base;
  const char* exivName;  // exiv2's group name of the IFD
};

constexpr std::array kGroups = std::to_array<Group>({
    {kTiffItemBase, "Image"},
    {kExifItemBase, "Photo"},
    {kGpsItemBase, "GPSInfo"},
    {kInteropItemBase, "Iop"},
});

const Group* GroupOfName(const std::string& name) {
  auto it = std::find_if(kGroups.begin(), kGroups.end(),
                         [&](const Group& g) { return name == g.exivName; });
  return it == kGroups.end() ? nullptr : &*it;
}

const Group* GroupOfItem(OSType type) {
  auto it = std::find_if(kGroups.begin(), kGroups.end(),
                         [type](const Group& g) { return (type & 0xFFFF0000) == g.base; });
  return it == kGroups.end() ? nullptr : &*it;
}

// IFD0 fields that describe how the file's own image is stored, point to
// other structures, or travel as items of their own (XMP, ICC profile,
// IPTC). Written into another file they would misdescribe it.
constexpr std::array<uint16_t, 39> kIfd0NonItems = {
    0x00FE, 0x00FF,                          // NewSubfileType, SubfileType
    0x0100, 0x0101, 0x0102, 0x0103, 0x0106,  // size, bits, compression, photometric
    0x010A, 0x0111, 0x0115, 0x0116, 0x0117,  // FillOrder, strips, samples
    0x011C, 0x0124, 0x0125, 0x013D, 0x0140,  // planar, T4/T6, Predictor, ColorMap
    0x0142, 0x0143, 0x0144, 0x0145,          // tiles
    0x014A, 0x0152, 0x0153, 0x015B,          // SubIFDs, ExtraSamples, SampleFormat, JPEGTables
    0x0200, 0x0201, 0x0202, 0x0203, 0x0205,  // old JPEG and the interchange pointers
    0x0206, 0x0207, 0x0208, 0x0209,          //
    0x02BC, 0x8773, 0x83BB,                  // XMP packet, ICC profile, IPTC
    0x8769, 0x8825,                          // EXIF and GPS IFD pointers
};
constexpr uint16_t kInteropPointer = 0xA005;
constexpr uint16_t kMakerNoteTag = 0x927C;

bool IsItemField(OSType base, uint16_t tag) {
  if (base == kTiffItemBase) {
    return std::find(kIfd0NonItems.begin(), kIfd0NonItems.end(), tag) == kIfd0NonItems.end();
  }
  return !(base == kExifItemBase && tag == kInteropPointer);
}

// Bytes per element of a TIFF field type, 0 for a type that is no field type.
size_t ElementSize(uint16_t tiffType) {
  switch (tiffType) {
    case 1:
    case 2:
    case 6:
    case 7:
      return 1;
    case 3:
    case 8:
      return 2;
    case 4:
    case 9:
    case 11:
      return 4;
    case 5:
    case 10:
    case 12:
      return 8;
    default:
      return 0;
  }
}

void AddFieldItem(const Exiv2::Exifdatum& field, const Group& group, Exiv2::ByteOrder sourceOrder,
                  UserData ud) {
  const uint16_t tag = field.tag();
  const auto tiffType = uint16_t(field.typeId());
  if (!IsItemField(group.base, tag) || ElementSize(tiffType) == 0) return;
  const long size = field.size();
  if (size < 0) return;
  std::vector<uint8_t> bytes(static_cast<size_t>(size));
  // Single-byte fields are copied as stored; exiv2 would otherwise turn the
  // text of a Unicode user comment into the order asked for.
  const bool asStored = ElementSize(tiffType) == 1 && sourceOrder != Exiv2::invalidByteOrder;
  if (size > 0) {
    const long copied = field.copy(bytes.data(), asStored ? sourceOrder : Exiv2::bigEndian);
    bytes.resize(static_cast<size_t>(std::clamp<long>(copied, 0, size)));
  }
  const OSType textType = group.base == kTiffItemBase ? TextItemOfIfd0Tag(tag) : 0;
  if (textType != 0 && tiffType == kTiffAscii) {
    AppendTextItem(ud, textType, bytes, kTiffAscii);
  } else {
    AppendItem(ud, group.base + tag, bytes, tiffType);
  }
}

// The type a field is written with: the recorded one when the bytes are a
// whole number of its elements, else the tag's usual type, else UNDEFINED.
Exiv2::TypeId WriteType(const Exiv2::ExifKey& key, uint16_t recorded, size_t size) {
  if (ElementSize(recorded) != 0 && size % ElementSize(recorded) == 0) {
    return Exiv2::TypeId(recorded);
  }
  const auto usual = uint16_t(key.defaultTypeId());
  if (ElementSize(usual) != 0 && size % ElementSize(usual) == 0) return Exiv2::TypeId(usual);
  return Exiv2::undefined;
}

struct Field {
  Exiv2::ExifKey key;
  Exiv2::TypeId type;
  ItemBytes bytes;
  bool fromText = false;  // an IFD0 text item
};

void CollectNumericItems(UserData ud, OSType type, std::vector<Field>* fields) {
  const Group* group = GroupOfItem(type);
  const auto tag = uint16_t(type & 0xFFFF);
  if (group == nullptr || !IsItemField(group->base, tag)) return;
  const Exiv2::ExifKey key(tag, group->exivName);
  for (int32_t index = 1; index <= CountUserDataType(ud, type); ++index) {
    std::optional<ItemBytes> bytes = ReadItem(ud, type, index);
    if (!bytes) continue;
    const uint16_t recorded = GetUserDataItemTiffType(ud, type, index);
    fields->push_back({key, WriteType(key, recorded, bytes->size()), std::move(*bytes)});
  }
}

// An IFD0 text item becomes its ASCII field, terminating zero added. Items
// read from the field come first, so a field is written once.
void CollectTextItems(UserData ud, OSType type, LooseTextItems loose, std::set<uint16_t>* textTags,
                      std::vector<Field>* fields) {
  const uint16_t tag = Ifd0TagOfTextItem(type);
  if (tag == 0) return;
  for (bool fromField : {true, false}) {
    for (int32_t index = 1; index <= CountUserDataType(ud, type); ++index) {
      const bool hasField = GetUserDataItemTiffType(ud, type, index) == kTiffAscii;
      if (hasField != fromField || textTags->count(tag) != 0) continue;
      if (!hasField && loose == LooseTextItems::kLeaveOut) continue;
      std::optional<ItemBytes> text = ReadItem(ud, type, index);
      if (!text) continue;
      text->push_back(0);
      textTags->insert(tag);
      fields->push_back({Exiv2::ExifKey(tag, "Image"), Exiv2::asciiString, std::move(*text), true});
    }
  }
}

void EraseKey(Exiv2::ExifData* exif, const std::string& key) {
  for (auto it = exif->findKey(Exiv2::ExifKey(key)); it != exif->end();
       it = exif->findKey(Exiv2::ExifKey(key))) {
    exif->erase(it);
  }
}

}  // namespace

void AddExifItems(const Exiv2::ExifData& exif, Exiv2::ByteOrder sourceOrder, UserData ud) {
  for (const Exiv2::Exifdatum& field : exif) {
    const Group* group = GroupOfName(field.groupName());
    if (group != nullptr) AddFieldItem(field, *group, sourceOrder, ud);
  }
}

namespace {

std::vector<Field> CollectFields(UserData ud, LooseTextItems loose) {
  std::vector<Field> fields;
  std::set<uint16_t> textTags;
  for (OSType type = GetNextUserDataType(ud, 0); type != 0; type = GetNextUserDataType(ud, type)) {
    if (IsTextItemType(type)) {
      CollectTextItems(ud, type, loose, &textTags, &fields);
    } else {
      CollectNumericItems(ud, type, &fields);
    }
  }
  // A text item and a numeric item for the same IFD0 field: the text wins,
  // as it is what the copy rewrites.
  std::erase_if(fields, [&](const Field& f) {
    return !f.fromText && f.key.groupName() == "Image" && textTags.count(f.key.tag()) != 0;
  });
  // A maker note whose offsets count from the start of the block it came in
  // would point wrong in a block laid out anew; it is left out whole (and
  // exiv2's own layout of it put in, where exiv2 knows the make).
  std::erase_if(fields, [](const Field& f) {
    return f.key.groupName() == "Photo" && f.key.tag() == kMakerNoteTag &&
           !IsSelfContainedMakerNote(f.bytes);
  });
  return fields;
}

}  // namespace

std::vector<ExifItemField> ExifItemFields(UserData ud, LooseTextItems loose) {
  std::vector<ExifItemField> out;
  for (Field& f : CollectFields(ud, loose)) {
    const Group* group = GroupOfName(f.key.groupName());
    if (group != nullptr) {
      out.push_back({group->base, f.key.tag(), uint16_t(f.type), std::move(f.bytes)});
    }
  }
  return out;
}

bool IsExifItemField(OSType base, uint16_t tag) {
  return IsItemField(base, tag);
}

void PutExifItems(UserData ud, LooseTextItems loose, Exiv2::ExifData* exif,
                  Ifd0FieldFilter takesIfd0) {
  std::vector<Field> fields = CollectFields(ud, loose);
  if (takesIfd0 != nullptr) {
    std::erase_if(fields, [takesIfd0](const Field& f) {
      return f.key.groupName() == "Image" && !takesIfd0(f.key.tag(), uint16_t(f.type));
    });
  }
  for (const Field& field : fields) EraseKey(exif, field.key.key());
  for (const Field& field : fields) {
    try {
      Exiv2::Value::AutoPtr value = Exiv2::Value::create(field.type);
      if (value.get() == nullptr) continue;
      value->read(field.bytes.data(), long(field.bytes.size()), Exiv2::bigEndian);
      exif->add(field.key, value.get());
    } catch (const Exiv2::AnyError&) {
      // A value exiv2 refuses is left out; the others still go in.
    }
  }
}

void PutRelaidMakerNote(UserData ud, Exiv2::ExifData* exif) {
  const std::optional<ItemBytes> note = ReadItem(ud, kExifItemBase + kMakerNoteTag, 1);
  const std::span<const uint8_t> block = GetUserDataSourceExif(ud);
  if (!note || IsSelfContainedMakerNote(*note) || block.empty() || block.size() > UINT32_MAX) {
    return;
  }
  Exiv2::ExifData source;
  try {
    Exiv2::ExifParser::decode(source, block.data(), uint32_t(block.size()));
  } catch (const std::exception&) {  // exiv2's errors among them
    return;
  }
  // The note exiv2 read must be the one the copy carries.
  const auto raw = source.findKey(Exiv2::ExifKey("Exif.Photo.MakerNote"));
  if (raw == source.end() || raw->size() != long(note->size())) return;
  ItemBytes rawBytes(note->size());
  raw->copy(rawBytes.data(), Exiv2::bigEndian);
  if (rawBytes != *note) return;
  for (const Exiv2::Exifdatum& field : source) {
    const std::string group = field.groupName();
    if (group == "MakerNote" || Exiv2::ExifTags::isMakerGroup(group)) exif->add(field);
  }
}

std::vector<uint8_t> EncodeExifItems(UserData ud, LooseTextItems loose) {
  if (!GetUserDataSourceExif(ud).empty()) {
    if (auto patched = PatchExifBlock(GetUserDataSourceExif(ud), ud, loose)) return *patched;
  }
  Exiv2::ExifData exif;
  PutExifItems(ud, loose, &exif);
  if (exif.empty()) return {};
  Exiv2::Blob blob;
  Exiv2::ExifData withNote = exif;
  PutRelaidMakerNote(ud, &withNote);
  try {
    Exiv2::ExifParser::encode(blob, Exiv2::littleEndian, withNote);
    return blob;
  } catch (const std::bad_alloc&) {
    throw;
  } catch (const std::exception&) {
    // A note exiv2 cannot lay out costs only itself.
    blob.clear();
  }
  Exiv2::ExifParser::encode(blob, Exiv2::littleEndian, exif);
  return blob;
}

std::vector<uint8_t> ExifBlockOfItems(UserData ud) {
  if (ud == nullptr) return {};
  InitMetaDataLibrary();
  AddIfd0DensityFromOthers(ud);
  try {
    return EncodeExifItems(ud, LooseTextItems::kToIfd0);
  } catch (const Exiv2::AnyError&) {
  } catch (const std::exception&) {
  }
  return {};
}

void AddExifBlockItems(std::span<const uint8_t> block, UserData ud) {
  if (block.size() < 4) return;
  const uint32_t offset = ReadBigEndian32(block.data());
  if (offset > block.size() - 4 || block.size() - 4 - offset > size_t(UINT32_MAX)) return;
  const std::span<const uint8_t> tiff = block.subspan(4 + offset);
  Exiv2::ExifData exif;
  const Exiv2::ByteOrder order =
      Exiv2::ExifParser::decode(exif, tiff.data(), uint32_t(tiff.size()));
  AddExifItems(exif, order, ud);
  SetUserDataSourceExif(ud, tiff);
}

void MarkExifOrientationUpright(UserData ud) {
  constexpr OSType kOrientation = kTiffItemBase + 0x0112;
  constexpr uint8_t kUpright[2] = {0, 1};  // SHORT, big-endian
  for (int32_t index = 1; index <= CountUserDataType(ud, kOrientation); ++index) {
    if (SetUserDataItem(ud, kUpright, sizeof kUpright, kOrientation, index) == noErr) {
      SetUserDataItemTiffType(ud, kOrientation, index, 3);
    }
  }
}
