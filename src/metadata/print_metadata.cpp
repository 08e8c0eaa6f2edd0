#include "metadata/print_metadata.h"

#include <span>
#include <string_view>

#include "metadata/format_value.h"
#include "metadata/hex_dump.h"
#include "metadata/meta_tags.h"

namespace {

std::span<const uint8_t> HandleBytes(Handle h) {
  return {reinterpret_cast<const uint8_t*>(*h), GetHandleSize(h)};
}

void PrintTextItem(UserData ud, Handle scratch, OSType type, int32_t index, std::FILE* out) {
  if (GetUserDataText(ud, scratch, type, index, 0) != noErr) return;
  const size_t size = GetHandleSize(scratch);
  const char zero = '\0';
  if (PtrAndHand(&zero, scratch, 1) != noErr) return;
  HLock(scratch);
  char* text = *scratch;
  // Line breaks and tabs would break the one-line-per-item layout.
  for (size_t i = 0; i < size; ++i) {
    if (text[i] >= 0x09 && text[i] <= 0x0D) text[i] = ' ';
  }
  std::string_view name = MetaDataTagName(type);
  if (name.empty()) name = "UNKNOWN";
  std::fprintf(out, "%28.*s [%5zu bytes]: %s\n", int(name.size()), name.data(), size, text);
  HUnlock(scratch);
}

void PrintOtherItem(UserData ud, Handle scratch, OSType type, int32_t index, std::FILE* out) {
  if (GetUserData(ud, scratch, type, index) != noErr) return;
  HLock(scratch);
  const std::span<const uint8_t> item = HandleBytes(scratch);
  char value[kMetaValueBufferSize];
  std::string_view name;
  const OSErr result = FormatMetaDataValue(type, item, value, &name);
  if (result == noErr || result == kMetaTruncated) {
    std::fprintf(out, "%28.*s [%5zu bytes]: %s\n", int(name.size()), name.data(), item.size(),
                 value);
  } else if (result == kMetaShowAsBytes) {
    PrintMetaDataHexDump(out, name, item);
  } else if (result == kMetaUnknownType) {
    PrintMetaDataHexDump(out, MadeUpMetaDataLabel(type), item);
  }
  HUnlock(scratch);
}

}  // namespace

void PrintMetaData(UserData ud, Handle scratch, std::FILE* out) {
  OSType type = GetNextUserDataType(ud, 0);
  if (type == 0) return;
  std::fputs("\nMeta-data:\n", out);
  for (; type != 0; type = GetNextUserDataType(ud, type)) {
    const int32_t count = CountUserDataType(ud, type);
    for (int32_t index = 1; index <= count; ++index) {
      if (IsTextItemType(type)) {
        PrintTextItem(ud, scratch, type, index, out);
      } else {
        PrintOtherItem(ud, scratch, type, index, out);
      }
    }
  }
  std::fputs("\n", out);
}
