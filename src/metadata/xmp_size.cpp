#include "metadata/xmp_size.h"

#include <algorithm>
#include <cctype>
#include <vector>

namespace {

constexpr std::string_view kExifNamespace = "http://ns.adobe.com/exif/1.0/";
constexpr std::string_view kTiffNamespace = "http://ns.adobe.com/tiff/1.0/";

bool IsNameChar(char c) {
  return std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '-' || c == '.' ||
         c == ':';
}

bool IsSpace(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

size_t SkipSpaces(std::string_view s, size_t at) {
  while (at < s.size() && IsSpace(s[at])) ++at;
  return at;
}

// The prefixes the packet declares for uri (xmlns:prefix="uri").
std::vector<std::string> PrefixesOf(std::string_view packet, std::string_view uri) {
  std::vector<std::string> prefixes;
  constexpr std::string_view kDeclaration = "xmlns:";
  for (size_t at = packet.find(kDeclaration); at != std::string_view::npos;
       at = packet.find(kDeclaration, at + 1)) {
    const size_t nameAt = at + kDeclaration.size();
    size_t nameEnd = nameAt;
    while (nameEnd < packet.size() && IsNameChar(packet[nameEnd]) && packet[nameEnd] != ':') {
      ++nameEnd;
    }
    size_t valueAt = SkipSpaces(packet, nameEnd);
    if (valueAt >= packet.size() || packet[valueAt] != '=') continue;
    valueAt = SkipSpaces(packet, valueAt + 1);
    if (valueAt >= packet.size() || (packet[valueAt] != '"' && packet[valueAt] != '\'')) continue;
    const size_t valueEnd = packet.find(packet[valueAt], valueAt + 1);
    if (valueEnd == std::string_view::npos) continue;
    if (packet.substr(valueAt + 1, valueEnd - valueAt - 1) == uri) {
      prefixes.emplace_back(packet.substr(nameAt, nameEnd - nameAt));
    }
  }
  return prefixes;
}

bool AllDigits(std::string_view s) {
  return !s.empty() && std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// Where the value of the property named at `at` lies: between the quotes of
// an attribute or between an element's tags, spaces around it excluded.
// Empty (npos) when neither.
std::pair<size_t, size_t> ValueAfterName(std::string_view s, size_t at) {
  constexpr std::pair kNone{std::string_view::npos, std::string_view::npos};
  if (at < s.size() && s[at] == '>') {  // <name>value</name>
    size_t begin = SkipSpaces(s, at + 1);
    size_t end = s.find('<', begin);
    if (end == std::string_view::npos) return kNone;
    while (end > begin && IsSpace(s[end - 1])) --end;
    return {begin, end};
  }
  at = SkipSpaces(s, at);
  if (at >= s.size() || s[at] != '=') return kNone;
  at = SkipSpaces(s, at + 1);
  if (at >= s.size() || (s[at] != '"' && s[at] != '\'')) return kNone;
  const size_t end = s.find(s[at], at + 1);
  if (end == std::string_view::npos) return kNone;
  return {SkipSpaces(s, at + 1), end};
}

// Calls fn(begin, length) for each all-digit value of the property
// qualifiedName, from the end of the packet back, so that fn may replace it.
template <class Fn>
void ForEachValue(const std::string& packet, const std::string& qualifiedName, Fn fn) {
  std::vector<std::pair<size_t, size_t>> found;
  for (size_t at = packet.find(qualifiedName); at != std::string::npos;
       at = packet.find(qualifiedName, at + 1)) {
    const size_t after = at + qualifiedName.size();
    const bool wholeName = (at == 0 || !IsNameChar(packet[at - 1])) &&
                           (after >= packet.size() || !IsNameChar(packet[after]));
    if (!wholeName || (at > 0 && packet[at - 1] == '/')) continue;  // a closing tag
    auto [begin, end] = ValueAfterName(packet, after);
    if (begin == std::string::npos || end < begin) continue;
    std::string_view old = std::string_view(packet).substr(begin, end - begin);
    while (!old.empty() && IsSpace(old.back())) old.remove_suffix(1);
    if (!AllDigits(old)) continue;
    found.emplace_back(begin, old.size());
  }
  for (auto it = found.rbegin(); it != found.rend(); ++it) fn(it->first, it->second);
}

void ReplaceValues(std::string* packet, const std::string& qualifiedName, int32_t value) {
  const std::string text = std::to_string(value);
  ForEachValue(*packet, qualifiedName,
               [&](size_t begin, size_t length) { packet->replace(begin, length, text); });
}

}  // namespace

std::string RefitXmpImageSize(std::string_view packet, int32_t width, int32_t height) {
  std::string fitted(packet);
  for (const std::string& prefix : PrefixesOf(packet, kExifNamespace)) {
    ReplaceValues(&fitted, prefix + ":PixelXDimension", width);
    ReplaceValues(&fitted, prefix + ":PixelYDimension", height);
  }
  for (const std::string& prefix : PrefixesOf(packet, kTiffNamespace)) {
    ReplaceValues(&fitted, prefix + ":ImageWidth", width);
    ReplaceValues(&fitted, prefix + ":ImageLength", height);
  }
  return fitted;
}

int32_t XmpOrientation(std::string_view packet) {
  const std::string text(packet);
  int32_t orientation = 0;
  for (const std::string& prefix : PrefixesOf(packet, kTiffNamespace)) {
    ForEachValue(text, prefix + ":Orientation", [&](size_t begin, size_t length) {
      const std::string_view digits = std::string_view(text).substr(begin, length);
      if (digits.size() == 1 && digits[0] >= '1' && digits[0] <= '8') orientation = digits[0] - '0';
    });
  }
  return orientation;
}

std::string MarkXmpUpright(std::string_view packet) {
  std::string fitted(packet);
  for (const std::string& prefix : PrefixesOf(packet, kTiffNamespace)) {
    ReplaceValues(&fitted, prefix + ":Orientation", 1);
  }
  return fitted;
}
