#include "driver/command_line/format_list.h"

#include <algorithm>

#include "driver/command_line/number_text.h"
#include "imageio/export.h"
#include "platform/image_format.h"

namespace {

// Calls take(word) for each comma-separated word until it returns false.
template <typename Take>
bool EachWord(std::string_view rest, Take take) {
  while (true) {
    const size_t comma = rest.find(',');
    if (!take(rest.substr(0, comma))) return false;
    if (comma == std::string_view::npos) return true;
    rest.remove_prefix(comma + 1);
  }
}

// A percent "/q" would read alike: digits, one dot at most, 0 to 100.
bool PlainPercent(std::string_view text) {
  if (text.empty() || text.find_first_not_of("0123456789.") != std::string_view::npos ||
      std::count(text.begin(), text.end(), '.') > 1 || text == ".") {
    return false;
  }
  return ReadDecimal(text) <= 100;
}

}  // namespace

OSType CodecForWord(std::string_view word) {
  if (word == "auto") return kSourceCodec;
  if (word.empty() || word.size() > 4) return 0;
  OSType packed = 0;  // as "/c" packs it, blank-padded as subtypes are
  for (size_t i = 0; i < 4; ++i) packed = (packed << 8) | uint8_t(i < word.size() ? word[i] : ' ');
  for (const ImageFormat* format : ImageFormats()) {
    const bool named = packed == format->subtype || FormatHasExtension(*format, word);
    if (named && ExportFormat(format->subtype) != nullptr) return format->subtype;
  }
  return 0;
}

bool ParseFormatList(std::string_view text, std::vector<OSType>* codecs, std::string* bad) {
  std::vector<OSType> listed;
  const bool good = EachWord(text, [&](std::string_view word) {
    const OSType codec = CodecForWord(word);
    if (codec == 0 || std::find(listed.begin(), listed.end(), codec) != listed.end()) {
      *bad = std::string(word);
      return false;
    }
    listed.push_back(codec);
    return true;
  });
  if (good) *codecs = std::move(listed);
  return good;
}

bool ParseQualityList(std::string_view text, std::vector<std::pair<OSType, int32_t>>* qualities,
                      std::string* bad) {
  std::vector<std::pair<OSType, int32_t>> pairs;
  const bool good = EachWord(text, [&](std::string_view word) {
    const size_t equals = word.find('=');
    const OSType codec = CodecForWord(word.substr(0, equals));
    const std::string_view number = word.substr(equals == std::string_view::npos ? 0 : equals + 1);
    const bool twice = std::any_of(pairs.begin(), pairs.end(),
                                   [codec](const auto& pair) { return pair.first == codec; });
    if (equals == std::string_view::npos || codec == 0 || codec == kSourceCodec || twice ||
        !PlainPercent(number)) {
      *bad = std::string(word);
      return false;
    }
    pairs.emplace_back(codec, QualityFromPercent(number));
    return true;
  });
  if (good) *qualities = std::move(pairs);
  return good;
}
