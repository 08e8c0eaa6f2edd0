#include "resample/sharpen.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

// A picture of native words, row by row, sharpened through the ring as a
// resize hands it its rows.
template <typename Word>
std::vector<Word> Sharpened(PixelClass cls, const std::vector<Word>& picture, int32_t width,
                            int32_t height, int32_t amount) {
  const int32_t perPixel = BytesPerPixelOfClass(cls) / int32_t(sizeof(Word));
  const size_t rowWords = size_t(width * perPixel);
  std::vector<Word> out(picture.size());
  SharpenRing ring(cls, width, height, amount);
  auto emit = [&](int32_t y) {
    ring.Sharpen(y, reinterpret_cast<uint8_t*>(out.data() + y * rowWords));
  };
  for (int32_t y = 0; y < height; ++y) {
    if (y > 1) emit(y - 2);
    std::memcpy(ring.RowFor(y), picture.data() + y * rowWords, rowWords * sizeof(Word));
    ring.Written(y);
  }
  if (height > 1) emit(height - 2);
  emit(height - 1);
  return out;
}

uint32_t Argb(uint32_t a, uint32_t r, uint32_t g, uint32_t b) {
  return a << 24 | r << 16 | g << 8 | b;
}

// Expected values by hand: a blur of 1 2 1 across (an edge pixel repeats),
// the detail against it times the amount, rounded half up, added to each
// colour channel.
TEST(Sharpen, StepsAsWorkedOutByHand) {
  struct Case {
    const char* what;
    int32_t amount;
    std::vector<uint32_t> in;
    std::vector<uint32_t> expected;
  };
  const Case cases[] = {
      {"grey step, amount 1: blurs 100, 125, 175",
       256,
       {Argb(255, 100, 100, 100), Argb(255, 100, 100, 100), Argb(255, 200, 200, 200)},
       {Argb(255, 100, 100, 100), Argb(255, 75, 75, 75), Argb(255, 225, 225, 225)}},
      {"half the amount: -12.5 and +12.5 round up",
       128,
       {Argb(255, 100, 100, 100), Argb(255, 100, 100, 100), Argb(255, 200, 200, 200)},
       {Argb(255, 100, 100, 100), Argb(255, 88, 88, 88), Argb(255, 213, 213, 213)}},
      {"red alone changes: its luma step (7700 / 256) moves every channel by 8",
       256,
       {Argb(255, 100, 50, 10), Argb(255, 100, 50, 10), Argb(255, 200, 50, 10)},
       {Argb(255, 100, 50, 10), Argb(255, 92, 42, 2), Argb(255, 208, 58, 18)}},
      {"clamped at both ends; alpha untouched",
       4 * 256,
       {Argb(7, 0, 0, 0), Argb(9, 0, 0, 0), Argb(11, 255, 255, 255)},
       {Argb(7, 0, 0, 0), Argb(9, 0, 0, 0), Argb(11, 255, 255, 255)}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    // Across a row, and down a column: the same numbers.
    EXPECT_EQ(Sharpened(kClassARGB32, c.in, 3, 1, c.amount), c.expected);
    EXPECT_EQ(Sharpened(kClassARGB32, c.in, 1, 3, c.amount), c.expected);
  }
}

TEST(Sharpen, WideSamplesKeepTheirAlpha) {
  // "b64a": A, R, G, B; the grey step of 1000 to 2000 as above, alpha 1000.
  const std::vector<uint16_t> in = {1000, 1000, 1000, 1000, 1000, 1000,
                                    1000, 1000, 1000, 2000, 2000, 2000};
  const std::vector<uint16_t> expected = {1000, 1000, 1000, 1000, 1000, 750,
                                          750,  750,  1000, 2250, 2250, 2250};
  EXPECT_EQ(Sharpened(kClassARGB64, in, 3, 1, 256), expected);
  // "b48r": R, G, B.
  const std::vector<uint16_t> rgb = {1000, 1000, 1000, 1000, 1000, 1000, 65000, 65000, 65000};
  const std::vector<uint16_t> rgbOut = {1000, 1000, 1000, 0, 0, 0, 65535, 65535, 65535};
  EXPECT_EQ(Sharpened(kClassRGB48, rgb, 3, 1, 4 * 256), rgbOut);
}

// A flat picture stays flat, its border rows and columns too: an edge that
// saw zeros, or a row of the ring held one row too long, would not.
TEST(Sharpen, FlatStaysFlatAtEverySize) {
  for (const int32_t width : {1, 2, 5}) {
    for (const int32_t height : {1, 2, 3, 4, 7}) {
      SCOPED_TRACE(std::to_string(width) + "x" + std::to_string(height));
      const std::vector<uint32_t> flat(size_t(width * height), Argb(200, 90, 160, 30));
      EXPECT_EQ(Sharpened(kClassARGB32, flat, width, height, kSharpenMost), flat);
      const std::vector<uint8_t> grey(size_t(width * height), 77);
      EXPECT_EQ(Sharpened(kClassGray8, grey, width, height, kSharpenMost), grey);
    }
  }
}

// One bright row in a taller picture: the rows next to it darken alike,
// those further away are untouched, whichever row of the ring each sat in.
TEST(Sharpen, RowsSeeTheirOwnNeighbours) {
  for (int32_t bright = 0; bright < 6; ++bright) {
    SCOPED_TRACE(bright);
    std::vector<uint8_t> picture(6, 100);
    picture[size_t(bright)] = 180;
    const std::vector<uint8_t> out = Sharpened(kClassGray8, picture, 1, 6, 256);
    for (int32_t y = 0; y < 6; ++y) {
      // 1 2 1 down a column of one pixel, the column itself repeated:
      // the bright row's blur is 140 (160 at an edge, where it is its own
      // neighbour), its neighbours' 120.
      const bool edge = bright == 0 || bright == 5;
      const int32_t expected = y == bright                 ? (edge ? 200 : 220)
                               : std::abs(y - bright) == 1 ? 80
                                                           : 100;
      EXPECT_EQ(out[size_t(y)], expected) << "row " << y;
    }
  }
}

}  // namespace
