// Turning one metadata item's bytes into readable text.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "base/mac_types.h"
#include "metadata/meta_tags.h"

constexpr size_t kMetaValueBufferSize = 4096;

constexpr OSErr kMetaTruncated = -2110;    // at most one byte was left after the text
constexpr OSErr kMetaShowAsBytes = -2114;  // print the item as a hex dump
constexpr OSErr kMetaUnknownType = -2003;  // not in the table: hex dump with a made-up label

// Formats the item of the given type into buffer (always zero-terminated) and
// sets name to the type's table name ("" for an unknown type). Answers noErr
// or kMetaTruncated with text in the buffer; kMetaShowAsBytes for opaque
// items and for items too short to hold one element of their kind;
// kMetaUnknownType for types the table does not know. Never reads past the
// item's end.
OSErr FormatMetaDataValue(OSType type, std::span<const uint8_t> item,
                          std::span<char, kMetaValueBufferSize> buffer, std::string_view* name);

// The bytes of one element of a list kind (kMetaUInt8, kMetaSInt16,
// kMetaSInt32, kMetaRational, kMetaDouble); 0 for the other kinds.
size_t MetaDataElementSize(MetaDataKind kind);
// One element's text as the dump writes it, from at least the element size
// of bytes; alone: the item is this one element (a double then uses "%f").
std::string MetaDataElementText(MetaDataKind kind, const uint8_t* element, bool alone);
