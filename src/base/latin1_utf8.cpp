#include "base/latin1_utf8.h"

std::vector<uint8_t> Latin1ToUtf8(std::span<const uint8_t> latin1) {
  std::vector<uint8_t> out;
  out.reserve(latin1.size());
  for (uint8_t c : latin1) {
    if (c < 0x80) {
      out.push_back(c);
    } else {
      out.push_back(uint8_t(0xC0 | c >> 6));
      out.push_back(uint8_t(0x80 | (c & 0x3F)));
    }
  }
  return out;
}

namespace {

// The length of the well-formed sequence at text[at], 0 for none.
size_t SequenceLength(std::span<const uint8_t> text, size_t at) {
  const uint8_t c = text[at];
  if (c < 0x80) return 1;
  size_t length = 0;
  uint32_t min = 0;
  uint32_t cp = 0;
  if ((c & 0xE0) == 0xC0) {
    length = 2, min = 0x80, cp = c & 0x1F;
  } else if ((c & 0xF0) == 0xE0) {
    length = 3, min = 0x800, cp = c & 0x0F;
  } else if ((c & 0xF8) == 0xF0) {
    length = 4, min = 0x10000, cp = c & 0x07;
  } else {
    return 0;
  }
  if (text.size() - at < length) return 0;
  for (size_t i = 1; i < length; ++i) {
    if ((text[at + i] & 0xC0) != 0x80) return 0;
    cp = cp << 6 | (text[at + i] & 0x3F);
  }
  if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
  return length;
}

}  // namespace

bool IsValidUtf8(std::span<const uint8_t> text) {
  for (size_t at = 0; at < text.size();) {
    const size_t length = SequenceLength(text, at);
    if (length == 0) return false;
    at += length;
  }
  return true;
}

std::optional<std::vector<uint8_t>> Utf8ToLatin1(std::span<const uint8_t> utf8) {
  std::vector<uint8_t> out;
  for (size_t at = 0; at < utf8.size();) {
    const size_t length = SequenceLength(utf8, at);
    if (length == 0 || length > 2 || (length == 2 && utf8[at] > 0xC3)) return std::nullopt;
    out.push_back(length == 1 ? utf8[at] : uint8_t((utf8[at] & 0x03) << 6 | (utf8[at + 1] & 0x3F)));
    at += length;
  }
  return out;
}
