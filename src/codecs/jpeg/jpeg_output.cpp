#include "codecs/jpeg/jpeg_output.h"

#include <bit>
#include <cstring>

#include "colour/colour_match.h"

namespace {

// A native 32-bit ARGB integer is B, G, R, A in memory on little-endian
// machines and A, R, G, B on big-endian ones.
constexpr J_COLOR_SPACE kNativeArgb =
    std::endian::native == std::endian::little ? JCS_EXT_BGRA : JCS_EXT_ARGB;

// C, M, Y, K bytes to opaque ARGB, in place. Inverted values are the
// amounts of light left: R = (255 - C) (255 - K) / 255 = C' K' / 255.
void ConvertCmykRow(uint8_t* row, int64_t width, bool inverted) {
  for (int64_t x = 0; x < width; ++x) {
    uint8_t* p = row + 4 * x;
    uint32_t c = p[0], m = p[1], y = p[2], k = p[3];
    if (!inverted) {
      c = 255 - c;
      m = 255 - m;
      y = 255 - y;
      k = 255 - k;
    }
    const uint32_t argb = 0xFF000000u | ((c * k + 127) / 255) << 16 | ((m * k + 127) / 255) << 8 |
                          (y * k + 127) / 255;
    std::memcpy(p, &argb, 4);
  }
}

// C, M, Y, K bytes to opaque ARGB through the file's profile, in place;
// rgb holds a row of R, G, B.
void MatchCmykRow(const ColourMatch& match, uint8_t* row, int64_t width, bool inverted,
                  uint8_t* rgb) {
  if (inverted) {
    for (int64_t i = 0; i < 4 * width; ++i) row[i] = uint8_t(~row[i]);
  }
  match.MatchCmyk(row, rgb, width);
  for (int64_t x = 0; x < width; ++x) {
    const uint8_t* p = rgb + 3 * x;
    const uint32_t argb = 0xFF000000u | uint32_t(p[0]) << 16 | uint32_t(p[1]) << 8 | p[2];
    std::memcpy(row + 4 * x, &argb, 4);
  }
}

}  // namespace

void SetJpegOutput(j_decompress_ptr info, const JpegDecodeOptions& options) {
  info->out_color_space = options.cmyk ? JCS_CMYK : kNativeArgb;
  info->scale_num = 1;
  info->scale_denom = unsigned(options.scale);
}

void FinishJpegRow(const JpegDecodeOptions& options, uint8_t* row, int64_t width, uint8_t* rgb) {
  if (!options.cmyk) return;
  if (options.cmykMatch != nullptr) {
    MatchCmykRow(*options.cmykMatch, row, width, options.invertedCmyk, rgb);
  } else {
    ConvertCmykRow(row, width, options.invertedCmyk);
  }
}
