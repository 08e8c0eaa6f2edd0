// The metadata dump for an arbitrary item list built from raw bytes. Shared
// by the metadata dump fuzz target and the regression tests.
//
// The bytes are read as records until they run out:
//   selector (1 byte): low two bits choose how the type is made
//     0, 1: a known type, the table entry at (next byte) modulo the table size
//     2:    a text type, 0xA9 and the next three bytes
//     3:    any type, the next four bytes
//   length (2 bytes, big-endian), then that many bytes of item data (fewer
//   when the input ends first). Text items take a region code from the
//   selector's high bits.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <span>
#include <string_view>

#include "metadata/format_value.h"
#include "metadata/meta_tags.h"
#include "metadata/print_metadata.h"
#include "platform/handle.h"
#include "platform/user_data.h"

namespace fuzz {

class ByteReader {
 public:
  explicit ByteReader(std::span<const uint8_t> bytes) : bytes_(bytes) {}
  bool empty() const { return at_ >= bytes_.size(); }
  uint8_t Byte() { return empty() ? 0 : bytes_[at_++]; }
  uint32_t BigEndian(int count) {
    uint32_t value = 0;
    for (int i = 0; i < count; ++i) value = (value << 8) | Byte();
    return value;
  }
  std::span<const uint8_t> Take(size_t count) {
    const size_t n = std::min(count, bytes_.size() - std::min(at_, bytes_.size()));
    std::span<const uint8_t> part = bytes_.subspan(std::min(at_, bytes_.size()), n);
    at_ += n;
    return part;
  }

 private:
  std::span<const uint8_t> bytes_;
  size_t at_ = 0;
};

inline OSType DrawItemType(uint8_t selector, ByteReader& in) {
  switch (selector & 3) {
    case 2:
      return (OSType(kTextTypeByte) << 24) | in.BigEndian(3);
    case 3:
      return in.BigEndian(4);
    default: {
      // The table ends with its type-0 entry, which is no item type.
      const size_t known = MetaDataTags.size() - 1;
      return MetaDataTags[in.Byte() % known].type;
    }
  }
}

// Fills ud from the bytes; answers whether every item could be added.
inline bool BuildItemList(std::span<const uint8_t> bytes, UserData ud) {
  ByteReader in(bytes);
  Handle data = NewHandle(0);
  if (data == nullptr) return false;
  bool added = true;
  while (!in.empty()) {
    const uint8_t selector = in.Byte();
    const OSType type = DrawItemType(selector, in);
    const std::span<const uint8_t> item = in.Take(in.BigEndian(2));
    if (SetHandleSize(data, item.size()) != noErr) {
      added = false;
      break;
    }
    if (!item.empty()) std::copy(item.begin(), item.end(), reinterpret_cast<uint8_t*>(*data));
    OSErr err;
    if (IsTextItemType(type)) {
      const int16_t region = int16_t(selector >> 2);
      err = AddUserDataText(ud, data, type, CountUserDataType(ud, type) + 1, region);
    } else {
      err = AddUserData(ud, data, type);
    }
    added = added && err == noErr;
  }
  DisposeHandle(data);
  return added;
}

// Formats every non-text item directly; answers whether every answer was one
// of the documented ones with a terminated buffer.
inline bool FormatEveryItem(UserData ud) {
  bool clean = true;
  Handle scratch = NewHandle(0);
  if (scratch == nullptr) return false;
  for (OSType type = GetNextUserDataType(ud, 0); type != 0; type = GetNextUserDataType(ud, type)) {
    if (IsTextItemType(type)) continue;
    for (int32_t index = 1; index <= CountUserDataType(ud, type); ++index) {
      if (GetUserData(ud, scratch, type, index) != noErr) {
        clean = false;
        continue;
      }
      std::span<const uint8_t> item(reinterpret_cast<const uint8_t*>(*scratch),
                                    GetHandleSize(scratch));
      char buffer[kMetaValueBufferSize];
      std::fill(std::begin(buffer), std::end(buffer), '\x7f');
      std::string_view name;
      const OSErr result = FormatMetaDataValue(type, item, buffer, &name);
      const bool terminated =
          std::find(std::begin(buffer), std::end(buffer), '\0') != std::end(buffer);
      clean = clean && terminated &&
              (result == noErr || result == kMetaTruncated || result == kMetaShowAsBytes ||
               result == kMetaUnknownType);
    }
  }
  DisposeHandle(scratch);
  return clean;
}

// Builds the list, prints it to out and formats each item; answers whether
// all went cleanly.
inline bool ExerciseMetaDataDump(std::span<const uint8_t> bytes, std::FILE* out) {
  UserData ud = nullptr;
  if (NewUserData(&ud) != noErr) return false;
  bool clean = BuildItemList(bytes, ud);
  Handle scratch = NewHandle(0);
  if (scratch != nullptr) {
    PrintMetaData(ud, scratch, out);
    DisposeHandle(scratch);
  }
  clean = FormatEveryItem(ud) && clean && scratch != nullptr;
  DisposeUserData(ud);
  return clean;
}

}  // namespace fuzz
