#include "pipeline/placeholder.h"

#include <gtest/gtest.h>
#include <webp/decode.h>

#include <string>
#include <vector>

#include "base/mac_types.h"

namespace {

uint32_t Argb(uint32_t a, uint32_t rgb) {
  return a << 24 | rgb;
}

// A picture of native ARGB words whose pixel (x, y) paint gives, written at depth.
template <typename Paint>
Placeholder PlaceholderOf(int32_t width, int32_t height, int32_t quarterTurns, int32_t depth,
                          Paint paint) {
  std::vector<uint32_t> pixels(size_t(width) * size_t(height));
  for (int32_t y = 0; y < height; ++y) {
    for (int32_t x = 0; x < width; ++x) pixels[size_t(y) * size_t(width) + size_t(x)] = paint(x, y);
  }
  RowBand band;
  band.AttachWhole({reinterpret_cast<uint8_t*>(pixels.data()), int64_t(width) * 4, width, height,
                    k32ARGBPixelFormat, 32},
                   true);
  PlaceholderSums sums;
  EXPECT_EQ(sums.Prepare(width, height, k32ARGBPixelFormat, quarterTurns, depth), noErr);
  // In two parts, as a band's prepare step hands them over.
  sums.AddRows(band, 0, height / 3);
  sums.AddRows(band, height / 3, height);
  return sums.Result();
}

// The preview decoded: its size and RGBA pixels.
struct Decoded {
  int width = 0;
  int height = 0;
  std::vector<uint8_t> rgba;
  uint8_t Red(int x, int y) const { return rgba[size_t(4 * (y * width + x))]; }
  uint8_t Blue(int x, int y) const { return rgba[size_t(4 * (y * width + x) + 2)]; }
};

Decoded Decode(const std::string& url) {
  const std::string prefix = "data:image/webp;base64,";
  EXPECT_EQ(url.compare(0, prefix.size(), prefix), 0);
  static const std::string kAlphabet =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::vector<uint8_t> bytes;
  uint32_t bits = 0;
  int count = 0;
  for (size_t i = prefix.size(); i < url.size() && url[i] != '='; ++i) {
    bits = bits << 6 | uint32_t(kAlphabet.find(url[i]));
    count += 6;
    if (count >= 8) {
      count -= 8;
      bytes.push_back(uint8_t(bits >> count));
    }
  }
  Decoded d;
  uint8_t* pixels = WebPDecodeRGBA(bytes.data(), bytes.size(), &d.width, &d.height);
  if (pixels != nullptr) d.rgba.assign(pixels, pixels + 4 * d.width * d.height);
  WebPFree(pixels);
  return d;
}

TEST(Placeholder, DominantColourOfMadePictures) {
  const struct {
    const char* what;
    uint32_t (*paint)(int32_t x, int32_t y);
    const char* colour;
  } cases[] = {
      {"three fifths one red, the rest blue",
       [](int32_t x, int32_t) { return x < 30 ? Argb(255, 0xC81E14) : Argb(255, 0x1428C8); },
       "#c81e14"},
      {"two reds in one bin outweigh a blue: their mean",
       [](int32_t x, int32_t) {
         return x < 20 ? Argb(255, 0xC01010) : x < 40 ? Argb(255, 0xC21212) : Argb(255, 0x0000FF);
       },
       "#c11111"},
      {"transparent green counts for nothing",
       [](int32_t x, int32_t) { return x < 40 ? Argb(0, 0x00FF00) : Argb(255, 0x808080); },
       "#808080"},
      {"nothing visible: no colour", [](int32_t, int32_t) { return Argb(0, 0x123456); }, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(PlaceholderOf(50, 20, 0, 32, c.paint).colour, c.colour);
  }
  // Written grey, the red is its luma as the encoder takes it.
  const auto red = [](int32_t, int32_t) { return Argb(255, 0xC81E14); };
  EXPECT_EQ(PlaceholderOf(50, 20, 0, 8, red).colour, "#505050");
}

// The preview is of the written picture: turned as it is, and small enough
// for a line of text whatever the picture holds.
TEST(Placeholder, PreviewIsTurnedAndSmall) {
  // Left half red, right half blue, 64 x 32.
  auto halves = [](int32_t x, int32_t) {
    return x < 32 ? Argb(255, 0xFF0000) : Argb(255, 0x0000FF);
  };
  const struct {
    int32_t turns;
    int width, height;
    int redX, redY, blueX, blueY;  // a preview pixel deep in each half
  } cases[] = {
      {0, 16, 8, 2, 4, 13, 4},
      {1, 8, 16, 4, 2, 4, 13},  // clockwise: the left half goes to the top
      {2, 16, 8, 13, 4, 2, 4},
      {3, 8, 16, 4, 13, 4, 2},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.turns);
    const Placeholder p = PlaceholderOf(64, 32, c.turns, 24, halves);
    EXPECT_LE(p.preview.size(), kPreviewMostBytes);
    const Decoded d = Decode(p.preview);
    ASSERT_EQ(d.width, c.width);
    ASSERT_EQ(d.height, c.height);
    EXPECT_GT(d.Red(c.redX, c.redY), 200);
    EXPECT_LT(d.Blue(c.redX, c.redY), 60);
    EXPECT_GT(d.Blue(c.blueX, c.blueY), 200);
    EXPECT_LT(d.Red(c.blueX, c.blueY), 60);
  }
  // Noise, the hardest to compress.
  uint32_t seed = 1;
  const Placeholder noise = PlaceholderOf(300, 200, 0, 24, [&seed](int32_t, int32_t) {
    seed = seed * 1664525u + 1013904223u;
    return Argb(255, seed >> 8);
  });
  EXPECT_FALSE(noise.preview.empty());
  EXPECT_LE(noise.preview.size(), kPreviewMostBytes);
}

}  // namespace
