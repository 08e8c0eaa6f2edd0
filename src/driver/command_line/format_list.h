// "//formats LIST" and "//quality LIST": every output written in several
// codecs from one decode, each with its own quality.
//   //formats avif,webp,jpg     codec names as "/c" takes them, or any
//                               extension a format goes by; "auto" is the
//                               source's own codec
//   //quality avif=55,jpeg=78   a listed codec's quality, "/q" for the rest
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "base/mac_types.h"

// "auto" in "//formats": the codec the source is stored in.
constexpr OSType kSourceCodec = FourCC("srce");

// The codec a word of either list names, or 0 for none an exporter writes.
OSType CodecForWord(std::string_view word);

// The codecs listed, in order; false with *bad the first word that is no
// codec, or one listed twice ("jpg" and "jpeg" are one).
bool ParseFormatList(std::string_view text, std::vector<OSType>* codecs, std::string* bad);

// The codec=quality pairs (quality as "/q" reads it); false with *bad the
// first pair that is not one, or names a codec twice.
bool ParseQualityList(std::string_view text, std::vector<std::pair<OSType, int32_t>>* qualities,
                      std::string* bad);
