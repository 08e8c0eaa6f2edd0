#include "metadata/xmp_size.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <climits>
#include <cstdint>
#include <map>
#include <optional>
#include <vector>

namespace {

constexpr std::string_view kExifNamespace = "http://ns.adobe.com/exif/1.0/";
constexpr std::string_view kTiffNamespace = "http://ns.adobe.com/tiff/1.0/";
constexpr std::string_view kPanoramaNamespace = "http://ns.google.com/photos/1.0/panorama/";
constexpr std::string_view kContainerNamespace = "http://ns.google.com/photos/1.0/container/";
constexpr std::string_view kItemNamespace = "http://ns.google.com/photos/1.0/container/item/";
constexpr std::string_view kGainMapNamespace = "http://ns.adobe.com/hdr-gain-map/1.0/";

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

// Calls visit(begin, length) for each whole-number value of the property,
// last first, so that replacing one keeps the places of those before it.
template <typename Visit>
void ForEachValue(const std::string& packet, const std::string& qualifiedName, Visit visit) {
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
    if (AllDigits(old) && old.size() <= 12) found.emplace_back(begin, old.size());
  }
  for (auto it = found.rbegin(); it != found.rend(); ++it) visit(it->first, it->second);
}

void ReplaceValues(std::string* packet, const std::string& qualifiedName, int64_t value) {
  const std::string text = std::to_string(value);
  ForEachValue(*packet, qualifiedName,
               [&](size_t begin, size_t length) { packet->replace(begin, length, text); });
}

std::optional<int64_t> FirstValue(const std::string& packet, const std::string& qualifiedName) {
  std::optional<int64_t> value;
  ForEachValue(packet, qualifiedName, [&](size_t begin, size_t length) {
    value = std::stoll(packet.substr(begin, length));
  });
  return value;
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

namespace {

// The panorama's pixel fields, in the order kPanoramaFields names them.
enum PanoramaField { kFullWidth, kFullHeight, kCropWidth, kCropHeight, kCropLeft, kCropTop };
constexpr std::array<const char*, 6> kPanoramaFields = {
    "FullPanoWidthPixels",          "FullPanoHeightPixels",  "CroppedAreaImageWidthPixels",
    "CroppedAreaImageHeightPixels", "CroppedAreaLeftPixels", "CroppedAreaTopPixels"};

// A field's value, or none where it cannot be represented: such a field is
// left as the packet states it.
using Field = std::optional<int64_t>;

// value * to / from, rounded; none when the product would pass 64 bits
// (a field of 12 digits times an output side of millions).
Field Scaled(Field value, int64_t to, int64_t from) {
  if (!value || *value < 0 || to < 0 || from < 1) return std::nullopt;
  if (to > 0 && *value > (INT64_MAX - from) / 2 / to) return std::nullopt;
  return (2 * *value * to + from) / (2 * from);
}

// One quarter turn clockwise: what was on the left is now on top, and the
// top is now on the right.
void TurnClockwise(std::array<Field, 6>* f) {
  std::array<Field, 6>& v = *f;
  const std::array<Field, 6> was = v;
  v[kFullWidth] = was[kFullHeight];
  v[kFullHeight] = was[kFullWidth];
  v[kCropWidth] = was[kCropHeight];
  v[kCropHeight] = was[kCropWidth];
  v[kCropLeft] = was[kFullHeight] && was[kCropTop] && was[kCropHeight]
                     ? Field(*was[kFullHeight] - *was[kCropTop] - *was[kCropHeight])
                     : std::nullopt;
  v[kCropTop] = was[kCropLeft];
}

}  // namespace

std::string RefitXmpPanorama(std::string_view packet, const OutputGeometry& geometry) {
  const int32_t sourceWidth = geometry.sourceWidth;
  const int32_t sourceHeight = geometry.sourceHeight;
  std::string fitted(packet);
  if (sourceWidth < 1 || sourceHeight < 1) return fitted;
  for (const std::string& prefix : PrefixesOf(packet, kPanoramaNamespace)) {
    std::array<std::optional<int64_t>, 6> stated;
    for (size_t i = 0; i < kPanoramaFields.size(); ++i) {
      stated[i] = FirstValue(fitted, prefix + ":" + kPanoramaFields[i]);
    }
    if (std::none_of(stated.begin(), stated.end(), [](auto& v) { return v.has_value(); })) {
      continue;
    }
    // The picture is the cropped area; what is not stated is taken as the
    // whole picture at the top left.
    std::array<Field, 6> v{};
    v[kCropWidth] = stated[kCropWidth].value_or(sourceWidth);
    v[kCropHeight] = stated[kCropHeight].value_or(sourceHeight);
    v[kFullWidth] = stated[kFullWidth].value_or(*v[kCropWidth]);
    v[kFullHeight] = stated[kFullHeight].value_or(*v[kCropHeight]);
    v[kCropLeft] = stated[kCropLeft].value_or(0);
    v[kCropTop] = stated[kCropTop].value_or(0);
    for (PanoramaField f : {kFullWidth, kCropLeft}) {
      v[f] = Scaled(v[f], geometry.fullWidth, sourceWidth);
    }
    for (PanoramaField f : {kFullHeight, kCropTop}) {
      v[f] = Scaled(v[f], geometry.fullHeight, sourceHeight);
    }
    // The window is what remains of the resized cropped area.
    for (auto [f, offset] :
         {std::pair{kCropLeft, geometry.windowLeft}, {kCropTop, geometry.windowTop}}) {
      if (v[f]) v[f] = *v[f] + offset;
    }
    v[kCropWidth] = geometry.windowWidth;
    v[kCropHeight] = geometry.windowHeight;
    for (int32_t turn = 0; turn < (geometry.quarterTurns % 4 + 4) % 4; ++turn) TurnClockwise(&v);
    for (size_t i = 0; i < kPanoramaFields.size(); ++i) {
      if (stated[i] && v[i] && *v[i] >= 0 && *v[i] <= INT32_MAX) {
        ReplaceValues(&fitted, prefix + ":" + kPanoramaFields[i], int32_t(*v[i]));
      }
    }
  }
  return fitted;
}

namespace {

// Calls visit(at) for where each container directory item whose
// itemPrefix:Semantic is GainMap names its semantic, last first, so that
// changing the packet after `at` keeps the places of those before it.
template <typename Visit>
void ForEachGainMapItem(const std::string& packet, const std::string& itemPrefix, Visit visit) {
  const std::string semantic = itemPrefix + ":Semantic";
  std::vector<size_t> found;
  for (size_t at = packet.find(semantic); at != std::string::npos;
       at = packet.find(semantic, at + 1)) {
    const auto [begin, end] = ValueAfterName(packet, at + semantic.size());
    if (begin != std::string::npos && packet.compare(begin, end - begin, "GainMap") == 0) {
      found.push_back(at);
    }
  }
  for (auto it = found.rbegin(); it != found.rend(); ++it) visit(*it);
}

}  // namespace

std::string RefitXmpGainMapLength(std::string_view packet, uint64_t length) {
  std::string fitted(packet);
  for (const std::string& item : PrefixesOf(packet, kItemNamespace)) {
    for (const std::string& container : PrefixesOf(packet, kContainerNamespace)) {
      const std::string itemStart = "<" + container + ":Item";
      ForEachGainMapItem(fitted, item, [&](size_t at) {
        // The directory item the semantic belongs to: from its start tag to
        // the next item's.
        const size_t first = fitted.rfind(itemStart, at);
        if (first == std::string::npos) return;
        const size_t last = fitted.find(itemStart, at);
        const size_t count = last == std::string::npos ? last : last - first;
        std::string scope = fitted.substr(first, count);
        ReplaceValues(&scope, item + ":Length", int64_t(length));
        fitted.replace(first, count, scope);
      });
    }
  }
  return fitted;
}

namespace {

// Where the start tag whose name ends at `at` ends: its '>', quoted
// attribute values skipped; npos when it does not end.
size_t StartTagEnd(std::string_view s, size_t at) {
  for (; at < s.size() && s[at] != '>'; ++at) {
    if (s[at] == '"' || s[at] == '\'') {
      at = s.find(s[at], at + 1);
      if (at == std::string_view::npos) return at;
    }
  }
  return at < s.size() ? at : std::string_view::npos;
}

// Where the property named at `at` is written whole: an attribute with the
// blanks before it, or an element from its start tag to its end tag.
// Empty (npos) when neither.
std::pair<size_t, size_t> PropertyExtent(std::string_view s, size_t at, std::string_view name) {
  constexpr std::pair kNone{std::string_view::npos, std::string_view::npos};
  if (at > 0 && s[at - 1] == '<') {
    const size_t tagEnd = StartTagEnd(s, at + name.size());
    if (tagEnd == std::string_view::npos) return kNone;
    if (s[tagEnd - 1] == '/') return {at - 1, tagEnd + 1};  // <name .../>
    const std::string closing = "</" + std::string(name) + ">";
    const size_t end = s.find(closing, at);
    if (end == std::string_view::npos) return kNone;
    return {at - 1, end + closing.size()};
  }
  const auto [begin, end] = ValueAfterName(s, at + name.size());
  if (begin == std::string_view::npos || at == 0 || !IsSpace(s[at - 1])) return kNone;
  size_t from = at;
  while (from > 0 && IsSpace(s[from - 1])) --from;
  return {from, end + 1};
}

void RemoveProperty(std::string* packet, const std::string& qualifiedName) {
  size_t at = packet->find(qualifiedName);
  while (at != std::string::npos) {
    const size_t after = at + qualifiedName.size();
    const bool wholeName = (after >= packet->size() || !IsNameChar((*packet)[after])) &&
                           (at == 0 || !IsNameChar((*packet)[at - 1]));
    const auto [begin, end] = wholeName ? PropertyExtent(*packet, at, qualifiedName)
                                        : std::pair{std::string::npos, std::string::npos};
    if (begin == std::string::npos) {
      at = packet->find(qualifiedName, at + 1);
      continue;
    }
    packet->erase(begin, end - begin);
    at = packet->find(qualifiedName, begin);
  }
}

}  // namespace

std::string UnlistXmpGainMap(std::string_view packet) {
  std::string fitted(packet);
  const std::vector<std::string> prefixes = PrefixesOf(packet, kGainMapNamespace);
  const std::vector<std::string> items = PrefixesOf(packet, kItemNamespace);
  bool listsGainMap = false;
  for (const std::string& item : items) {
    ForEachGainMapItem(fitted, item, [&](size_t) { listsGainMap = true; });
  }
  for (const std::string& prefix : prefixes) {
    // A gain map's own packet (a map resized on its own) states its gains
    // and lists no gain map; a primary's that lists one is unlisted.
    if (!listsGainMap && packet.find(prefix + ":GainMapMax") != std::string_view::npos) {
      return fitted;
    }
  }
  for (const std::string& prefix : prefixes) RemoveProperty(&fitted, prefix + ":Version");
  for (const std::string& item : items) {
    ForEachGainMapItem(fitted, item, [&](size_t at) {
      // The directory's list entry that holds the item, when it holds it alone.
      const size_t first = fitted.rfind("<rdf:li", at);
      const size_t close = fitted.find("</rdf:li>", at);
      const size_t next = fitted.find("<rdf:li", at);
      if (first == std::string::npos || close == std::string::npos || next < close) return;
      fitted.erase(first, close + std::string_view("</rdf:li>").size() - first);
    });
  }
  return fitted;
}

namespace {

// The namespaces whose GPS-named properties state where the picture was
// taken: EXIF's copies of its GPS fields, and the IPTC Extension's location
// structures (LocationCreated, LocationShown).
constexpr std::string_view kLocationNamespaces[] = {kExifNamespace,
                                                    "http://iptc.org/std/Iptc4xmpExt/2008-02-29/"};

// The qualified name that begins at `at`.
std::string_view NameAt(std::string_view s, size_t at) {
  size_t end = at;
  while (end < s.size() && IsNameChar(s[end])) ++end;
  return s.substr(at, end - at);
}

// The packet without the properties whose qualified names begin with
// start, in one pass: end tags are found through an index of them, and
// once a start tag does not end, no later element is taken out (the packet
// no longer holds together from there).
std::string WithoutPropertiesStarting(std::string_view s, const std::string& start) {
  std::map<std::string_view, std::vector<size_t>> endTags;  // in order
  const std::string closing = "</" + start;
  for (size_t at = s.find(closing); at != std::string_view::npos; at = s.find(closing, at + 1)) {
    const std::string_view name = NameAt(s, at + 2);
    if (at + 2 + name.size() < s.size() && s[at + 2 + name.size()] == '>') {
      endTags[name].push_back(at);
    }
  }
  std::string kept;
  size_t from = 0;  // copied up to here
  bool tagsEnd = true;
  for (size_t at = s.find(start); at != std::string_view::npos; at = s.find(start, at + 1)) {
    if (at < from || at == 0 || IsNameChar(s[at - 1])) continue;  // within another name
    const std::string_view name = NameAt(s, at);
    std::pair<size_t, size_t> extent{std::string_view::npos, std::string_view::npos};
    if (s[at - 1] != '<') {
      extent = PropertyExtent(s, at, name);  // an attribute
    } else if (tagsEnd) {
      const size_t tagEnd = StartTagEnd(s, at + name.size());
      tagsEnd = tagEnd != std::string_view::npos;
      const std::vector<size_t>& ends = endTags[name];
      const auto close = std::upper_bound(ends.begin(), ends.end(), tagEnd);
      if (tagsEnd && s[tagEnd - 1] == '/') {
        extent = {at - 1, tagEnd + 1};
      } else if (tagsEnd && close != ends.end()) {
        extent = {at - 1, *close + name.size() + 3};
      }
    }
    if (extent.first == std::string_view::npos || extent.first < from) continue;
    kept.append(s.substr(from, extent.first - from));
    from = extent.second;
  }
  kept.append(s.substr(from));
  return kept;
}

}  // namespace

std::string WithoutXmpGps(std::string_view packet) {
  std::string fitted(packet);
  for (std::string_view uri : kLocationNamespaces) {
    for (const std::string& prefix : PrefixesOf(packet, uri)) {
      fitted = WithoutPropertiesStarting(fitted, prefix + ":GPS");
    }
  }
  return fitted;
}

std::string WithoutXmpCopyright(std::string_view packet) {
  std::string fitted(packet);
  for (const std::string& prefix : PrefixesOf(packet, "http://purl.org/dc/elements/1.1/")) {
    // Dublin Core has no other property whose name begins with either.
    fitted = WithoutPropertiesStarting(fitted, prefix + ":rights");
    fitted = WithoutPropertiesStarting(fitted, prefix + ":creator");
  }
  return fitted;
}
