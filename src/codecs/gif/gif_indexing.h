// Pictures reduced to GIF's palette of at most 256 colours, for the still
// and the animated writer alike.
#pragma once

#include <cstdint>
#include <vector>

#include "base/mac_types.h"

// RGBA pixels as the GIF writers hand them over: alpha is 0 or 255.
struct RgbaPicture {
  const uint8_t* pixels = nullptr;  // width * 4 bytes a row, rows packed
  int32_t width = 0;
  int32_t height = 0;
};

struct IndexedPicture {
  std::vector<uint32_t> colours;  // 0xRRGGBB, at most 256
  std::vector<uint8_t> indices;   // width * height
  int32_t transparent = -1;       // the index of the transparent pixels, or -1
  bool exact = false;             // every colour kept as it was
};

// What a quality asks of libimagequant: its quality ceiling and speed, and
// how much error diffusion the picture gets.
struct QuantiseSettings {
  int maximumQuality = 100;  // 0 ... 100
  int speed = 7;             // 1 (slowest, best) ... 10
  float dithering = 1.0f;    // 0 ... 1
};
QuantiseSettings QuantiseSettingsForQuality(int32_t quality);

// Every transparent pixel gets the one transparent index. A picture of at
// most 256 colours (transparency counted as one) keeps them exactly;
// others go through libimagequant. memFullErr when the quantiser runs out
// of memory, codecErr when it refuses the picture.
OSErr IndexPicture(const RgbaPicture& picture, int32_t quality, IndexedPicture* out);
