#include "resample/sharpen.h"

#include <algorithm>
#include <cstring>

namespace {

// Each class's samples: how a pixel is read for its luma and how the
// detail is added to its colour.
struct Argb32 {
  static constexpr int32_t kBytes = 4;
  static constexpr int32_t kChannels = 4;
  static constexpr int32_t kFirstColour = 1;
  static constexpr int32_t kMax = 255;
  using Sample = uint32_t;
  static int32_t Get(const uint8_t* p, int32_t channel) {
    uint32_t word;
    std::memcpy(&word, p, 4);
    return int32_t(word >> (24 - 8 * channel)) & 0xFF;
  }
  static void Put(uint8_t* p, const int32_t* samples) {
    const uint32_t word = uint32_t(samples[0]) << 24 | uint32_t(samples[1]) << 16 |
                          uint32_t(samples[2]) << 8 | uint32_t(samples[3]);
    std::memcpy(p, &word, 4);
  }
};

struct Gray8 {
  static constexpr int32_t kBytes = 1;
  static constexpr int32_t kChannels = 1;
  static constexpr int32_t kFirstColour = 0;
  static constexpr int32_t kMax = 255;
  static int32_t Get(const uint8_t* p, int32_t) { return *p; }
  static void Put(uint8_t* p, const int32_t* samples) { *p = uint8_t(samples[0]); }
};

template <int32_t kCount, int32_t kFirst>
struct Wide {
  static constexpr int32_t kBytes = 2 * kCount;
  static constexpr int32_t kChannels = kCount;
  static constexpr int32_t kFirstColour = kFirst;
  static constexpr int32_t kMax = 65535;
  static int32_t Get(const uint8_t* p, int32_t channel) {
    uint16_t sample;
    std::memcpy(&sample, p + 2 * channel, 2);
    return sample;
  }
  static void Put(uint8_t* p, const int32_t* samples) {
    for (int32_t i = 0; i < kCount; ++i) {
      const uint16_t sample = uint16_t(samples[i]);
      std::memcpy(p + 2 * i, &sample, 2);
    }
  }
};
using Rgb48 = Wide<3, 0>;
using Argb64 = Wide<4, 1>;

template <typename P>
void LumaOf(const uint8_t* row, int32_t width, int32_t* luma) {
  for (int32_t x = 0; x < width; ++x, row += P::kBytes) {
    if constexpr (P::kChannels == 1) {
      luma[x] = P::Get(row, 0) << 8;
    } else {
      constexpr int32_t c = P::kFirstColour;
      luma[x] = 77 * P::Get(row, c) + 150 * P::Get(row, c + 1) + 29 * P::Get(row, c + 2);
    }
  }
}

// The detail, in luma times 256 times 16, scaled by amount / 256 to samples:
// a shift of 8 + 8 + 4, rounded half up.
int32_t Delta(int32_t amount, int32_t detail) {
  return int32_t((int64_t(amount) * detail + (int64_t(1) << 19)) >> 20);
}

template <typename P>
void SharpenOf(int32_t amount, const uint8_t* row, const int32_t* above, const int32_t* luma,
               const int32_t* below, int32_t width, uint8_t* out) {
  // Column sums 1 2 1, then 1 2 1 across them; a border column repeats.
  auto column = [&](int32_t x) { return above[x] + 2 * luma[x] + below[x]; };
  int32_t left = column(0);
  int32_t centre = left;
  for (int32_t x = 0; x < width; ++x, row += P::kBytes, out += P::kBytes) {
    const int32_t right = x + 1 < width ? column(x + 1) : centre;
    const int32_t blur = left + 2 * centre + right;
    const int32_t delta = Delta(amount, 16 * luma[x] - blur);
    left = centre;
    centre = right;
    int32_t samples[P::kChannels];
    for (int32_t c = 0; c < P::kChannels; ++c) {
      const int32_t v = P::Get(row, c);
      samples[c] = c < P::kFirstColour ? v : std::clamp(v + delta, 0, P::kMax);
    }
    P::Put(out, samples);
  }
}

}  // namespace

void LumaRow(PixelClass cls, const uint8_t* row, int32_t width, int32_t* luma) {
  switch (cls) {
    case kClassARGB32:
      return LumaOf<Argb32>(row, width, luma);
    case kClassGray8:
      return LumaOf<Gray8>(row, width, luma);
    case kClassRGB48:
      return LumaOf<Rgb48>(row, width, luma);
    case kClassARGB64:
      return LumaOf<Argb64>(row, width, luma);
    case kClassNone:
      return;
  }
}

void SharpenRow(PixelClass cls, int32_t amount, const uint8_t* row, const int32_t* above,
                const int32_t* luma, const int32_t* below, int32_t width, uint8_t* out) {
  switch (cls) {
    case kClassARGB32:
      return SharpenOf<Argb32>(amount, row, above, luma, below, width, out);
    case kClassGray8:
      return SharpenOf<Gray8>(amount, row, above, luma, below, width, out);
    case kClassRGB48:
      return SharpenOf<Rgb48>(amount, row, above, luma, below, width, out);
    case kClassARGB64:
      return SharpenOf<Argb64>(amount, row, above, luma, below, width, out);
    case kClassNone:
      return;
  }
}

SharpenRing::SharpenRing(PixelClass cls, int32_t width, int32_t height, int32_t amount)
    : class_(cls),
      width_(width),
      height_(height),
      amount_(amount),
      rowBytes_(int64_t(width) * BytesPerPixelOfClass(cls)),
      rows_(size_t(3 * rowBytes_)),
      luma_(size_t(3) * size_t(width)) {}

void SharpenRing::Written(int32_t y) {
  LumaRow(class_, RowFor(y), width_, luma_.data() + Slot(y) * width_);
}

void SharpenRing::Sharpen(int32_t y, uint8_t* out) const {
  const int32_t above = y > 0 ? y - 1 : y;
  const int32_t below = y + 1 < height_ ? y + 1 : y;
  SharpenRow(class_, amount_, rows_.data() + Slot(y) * rowBytes_, LumaOf(above), LumaOf(y),
             LumaOf(below), width_, out);
}
