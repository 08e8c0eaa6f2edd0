#include "metadata/print_metadata_json.h"

#include <cstring>
#include <span>
#include <string>
#include <string_view>

#include "base/big_endian.h"
#include "base/json_writer.h"
#include "metadata/format_value.h"
#include "metadata/hex_dump.h"
#include "metadata/meta_tags.h"

namespace {

std::span<const uint8_t> HandleBytes(Handle h) {
  return {reinterpret_cast<const uint8_t*>(*h), GetHandleSize(h)};
}

std::string TypeText(OSType type) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08X", unsigned(type));
  return text;
}

// The characters up to the first zero byte.
std::string TextUpToZero(std::span<const uint8_t> item) {
  const auto* begin = reinterpret_cast<const char*>(item.data());
  return std::string(begin, strnlen(begin, item.size()));
}

std::string HexText(std::span<const uint8_t> item) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string text;
  for (uint8_t byte : item) {
    text += kDigits[byte >> 4];
    text += kDigits[byte & 15];
  }
  return JsonString(text);
}

// An element's dump text as a JSON value: rationals stay strings, and a
// double that no JSON number holds (inf, nan) is written as its text.
std::string ElementValue(MetaDataKind kind, const uint8_t* element, bool alone) {
  const std::string text = MetaDataElementText(kind, element, alone);
  const bool number = kind != kMetaRational && text.find_first_of("ni") == std::string::npos;
  return number ? text : JsonString(text);
}

std::string ItemValue(MetaDataKind kind, std::span<const uint8_t> item) {
  if (item.empty()) return kind == kMetaText ? JsonString("") : "null";
  if (kind == kMetaText) return JsonString(TextUpToZero(item));
  if (kind == kMetaShortOrLong) {
    const int32_t value = item.size() >= 4 ? int32_t(ReadBigEndian32(item.data()))
                                           : int16_t(ReadBigEndian16(item.data()));
    return std::to_string(value);
  }
  const size_t size = MetaDataElementSize(kind);
  if (item.size() <= size) return ElementValue(kind, item.data(), true);
  std::string list = "[";
  for (size_t at = 0; at + size <= item.size(); at += size) {
    if (list.size() > 1) list += ',';
    list += ElementValue(kind, item.data() + at, false);
  }
  return list + "]";
}

JsonObject ItemHead(std::string_view name, OSType type, int32_t index, size_t size) {
  JsonObject item;
  item.String("name", std::string(name)).String("type", TypeText(type));
  item.Number("index", index).Number("bytes", int64_t(size));
  return item;
}

// The item's object, or "" when it cannot be fetched.
std::string TextItem(UserData ud, Handle scratch, OSType type, int32_t index) {
  if (GetUserDataText(ud, scratch, type, index, 0) != noErr) return {};
  std::string_view name = MetaDataTagName(type);
  if (name.empty()) name = "UNKNOWN";
  HLock(scratch);
  const std::span<const uint8_t> text = HandleBytes(scratch);
  std::string item =
      ItemHead(name, type, index, text.size()).Raw("value", JsonString(TextUpToZero(text))).Done();
  HUnlock(scratch);
  return item;
}

std::string OtherItemOf(OSType type, int32_t index, std::span<const uint8_t> item) {
  char value[kMetaValueBufferSize];
  std::string_view name;
  const OSErr result = FormatMetaDataValue(type, item, value, &name);
  if (result == noErr || result == kMetaTruncated) {
    return ItemHead(name, type, index, item.size())
        .Raw("value", ItemValue(LookupMetaDataTag(type).kind, item))
        .Done();
  }
  if (result == kMetaShowAsBytes)
    return ItemHead(name, type, index, item.size()).Raw("hex", HexText(item)).Done();
  if (result == kMetaUnknownType) {
    return ItemHead(MadeUpMetaDataLabel(type), type, index, item.size())
        .Raw("hex", HexText(item))
        .Done();
  }
  return {};
}

std::string OtherItem(UserData ud, Handle scratch, OSType type, int32_t index) {
  if (GetUserData(ud, scratch, type, index) != noErr) return {};
  HLock(scratch);
  std::string item = OtherItemOf(type, index, HandleBytes(scratch));
  HUnlock(scratch);
  return item;
}

}  // namespace

void PrintMetaDataJson(UserData ud, Handle scratch, std::FILE* out) {
  std::string items = "[";
  for (OSType type = GetNextUserDataType(ud, 0); type != 0; type = GetNextUserDataType(ud, type)) {
    const int32_t count = CountUserDataType(ud, type);
    for (int32_t index = 1; index <= count; ++index) {
      const std::string item = IsTextItemType(type) ? TextItem(ud, scratch, type, index)
                                                    : OtherItem(ud, scratch, type, index);
      if (item.empty()) continue;
      if (items.size() > 1) items += ',';
      items += item;
    }
  }
  std::fputs((JsonObject().Raw("items", items + "]").Done() + "\n").c_str(), out);
}
