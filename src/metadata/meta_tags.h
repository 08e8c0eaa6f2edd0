// The table of metadata item types that the dump knows by name, and how each
// one's bytes are laid out.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

#include "base/item_types.h"
#include "base/mac_types.h"

enum MetaDataKind : int32_t {
  kMetaOpaque = 0,       // shown as a hex dump
  kMetaText = 1,         // characters
  kMetaUInt8 = 2,        // 1-byte unsigned elements
  kMetaSInt16 = 3,       // 2-byte signed elements
  kMetaSInt32 = 4,       // 4-byte signed elements
  kMetaShortOrLong = 5,  // one value: 4 bytes signed if there are 4, else 2
  kMetaRational = 6,     // numerator and denominator, 4 bytes each
  kMetaDouble = 7,       // IEEE 754 doubles
};

struct MetaDataTag {
  OSType type;
  MetaDataKind kind;
  const char* name;
};

// The known types, ending with an entry of type 0 and an empty name.
extern const std::span<const MetaDataTag> MetaDataTags;

// The first entry of the type, or the end entry when there is none.
const MetaDataTag& LookupMetaDataTag(OSType type);
// The table name of the type, or "" when the table does not know it.
std::string_view MetaDataTagName(OSType type);

// The byte itself when printable (0x20 to 0x7E), else '.'.
constexpr char PrintableChar(uint8_t byte) {
  return byte >= 0x20 && byte <= 0x7E ? char(byte) : '.';
}
