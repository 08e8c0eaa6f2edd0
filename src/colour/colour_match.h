// Matching a source's colours to sRGB as it is drawn: from an embedded ICC
// profile or from HEIF's coded colour description (nclx), relative
// colorimetric with black-point compensation, at the buffer's own depth.
// A source that is sRGB already, or whose description is damaged or does
// not fit its samples, is left as it is; nothing here ever fails a drawing
// or prints.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "base/mac_types.h"
#include "stream/row_band.h"

// What a codec's stored samples are, before they are drawn as RGB.
enum class ColourModel { kOther, kGrey, kRgb, kCmyk };

struct ColourSource {
  ColourModel model = ColourModel::kOther;
  std::vector<uint8_t> icc;  // empty: none
  bool hasNclx = false;      // used when there is no ICC profile
  uint16_t primaries = 2;    // ISO/IEC 23091-2 codes; 2 is unspecified
  uint16_t transfer = 2;
};

// How a codec hands CMYK samples to MatchCmyk (0 is no ink): 8-bit into
// 8-bit R, G, B, or native 16-bit into native 16-bit R, G, B.
enum class CmykLayout { k8, k16 };

struct ColourTransform;  // the library's transform, or a faster equivalent

class ColourMatch {
 public:
  ColourMatch();
  ~ColourMatch();
  ColourMatch(ColourMatch&&) noexcept;
  ColourMatch& operator=(ColourMatch&&) noexcept;

  bool Empty() const { return transform_ == nullptr; }
  // Rows [from, to) of band, drawn as RGB (or grey expanded to RGB), in place.
  void MatchRows(const RowBand& band, int64_t from, int64_t to) const;
  // pixels CMYK samples to R, G, B, in the layout the match was made for.
  void MatchCmyk(const void* cmyk, void* rgb, int64_t pixels) const;

 private:
  friend ColourMatch MatchForBand(const ColourSource&, OSType);
  friend ColourMatch MatchForCmyk(const ColourSource&, CmykLayout);
  std::unique_ptr<ColourTransform> transform_;
};

// The match for rows drawn as RGB into a band of pixelFormat (32-bit ARGB,
// "b48r" or "b64a"); empty when nothing is to be done.
ColourMatch MatchForBand(const ColourSource& source, OSType pixelFormat);
// The match for a CMYK source; empty without a usable CMYK profile.
ColourMatch MatchForCmyk(const ColourSource& source, CmykLayout layout);

// Whether an ICC profile describes sRGB: an RGB matrix-shaper whose
// colorants and tone curves are sRGB's, whatever its name or version.
bool IsSrgbProfile(const std::vector<uint8_t>& icc);

// An ICC profile (RGB matrix-shaper) describing what a coded colour
// description (nclx primaries and transfer) describes, for writing with the
// pixels it describes; empty when the description is sRGB's or unknown.
std::vector<uint8_t> IccProfileOfNclx(uint16_t primaries, uint16_t transfer);

// A short description of the colours a source states, for saying what was
// converted: an ICC profile's own description ("Display P3", "Adobe RGB
// (1998)", or "ICC profile" when it has none), or the coded primaries and
// transfer by name ("BT.2020 primaries, PQ transfer").
std::string DescribeColourSource(const ColourSource& source);
