#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "codecs/format_test_util.h"
#include "codecs/gif/gif_codec.h"

namespace {

using test::Argb;
using test::ArgbAt;
using test::DecodeWith;
using test::FormatFile;
using test::Span;

TEST(GifCodec, IdentityAndSniff) {
  EXPECT_EQ(kGifImporter.format->subtype, FourCC("GIF "));
  EXPECT_EQ(kGifImporter.name(), "GIF (giflib 5.2.1)");  // the version this machine has
  EXPECT_TRUE(kGifImporter.sniff(Span(FormatFile("interlaced.gif"))));
  EXPECT_TRUE(kGifImporter.sniff(Span(FormatFile("animated.gif"))));
  const std::vector<uint8_t> gif88 = {'G', 'I', 'F', '8', '8', 'a', 0, 0};
  EXPECT_FALSE(kGifImporter.sniff(Span(gif88)));
  EXPECT_FALSE(kGifImporter.sniff(Span(FormatFile("rgb8_none.tif"))));
}

// interlaced.gif (make_gif_heif.cpp): a 20 x 14 screen; a 12 x 9 interlaced
// frame at (3, 2) whose pixel (x, y) has index (x + 2y) mod 4 into red,
// green, blue, white, and white (3) transparent.
uint32_t ExpectedInterlaced(int x, int y) {
  if (x < 3 || x >= 15 || y < 2 || y >= 11) return 0;
  static const uint32_t kColours[] = {Argb(255, 255, 0, 0), Argb(255, 0, 255, 0),
                                      Argb(255, 0, 0, 255), 0};
  return kColours[((x - 3) + 2 * (y - 2)) % 4];
}

TEST(GifCodec, InterlacedFrameOnItsScreenWithTransparency) {
  for (OSType format : {k32ARGBPixelFormat, k64ARGBPixelFormat}) {
    test::Decoded d = DecodeWith(kGifImporter, FormatFile("interlaced.gif"), format);
    ASSERT_EQ(d.err, noErr);
    EXPECT_EQ(d.header.width, 20);
    EXPECT_EQ(d.header.height, 14);
    EXPECT_EQ(d.header.preferredPixelFormat, 0u);
    for (int y = 0; y < 14; ++y) {
      for (int x = 0; x < 20; ++x) {
        const uint32_t want = ExpectedInterlaced(x, y);
        if (format == k32ARGBPixelFormat) {
          ASSERT_EQ(ArgbAt(*d.image, x, y), want) << x << "," << y;
        } else {  // 8-bit values widened: 0xFF -> 0xFFFF
          ASSERT_EQ(test::Sample16At(*d.image, x, y, 0), (want >> 24) * 257) << x << "," << y;
          ASSERT_EQ(test::Sample16At(*d.image, x, y, 1), ((want >> 16) & 255) * 257);
        }
      }
    }
  }
}

// animated.gif: two 8 x 6 frames; the first a black and white pattern
// ((x + 2y) mod 2: even black), the second all black.
TEST(GifCodec, AnimationGivesItsFirstFrame) {
  test::Decoded d = DecodeWith(kGifImporter, FormatFile("animated.gif"), k32ARGBPixelFormat);
  ASSERT_EQ(d.err, noErr);
  EXPECT_EQ(d.header.width, 8);
  EXPECT_EQ(d.header.height, 6);
  for (int y = 0; y < 6; ++y) {
    for (int x = 0; x < 8; ++x) {
      ASSERT_EQ(ArgbAt(*d.image, x, y), x % 2 ? 0xFFFFFFFFu : 0xFF000000u) << x << "," << y;
    }
  }
}

// A 64 x 64 interlaced GIF written by giflib: index RampIndex(x, y), little
// repetitive so that the data spans many sub-blocks, into a grey ramp (index
// i is grey 17 i).
int RampIndex(int x, int y) {
  return (x * x * 7 + y * y * 13 + x * y * 5 + (x ^ y)) % 16;
}

std::vector<uint8_t> WriteInterlacedGif() {
  std::vector<uint8_t> out;
  int error = 0;
  GifFileType* gif = test::OpenGifWriter(&out, &error);
  std::vector<GifColorType> ramp(16);
  for (int i = 0; i < 16; ++i) ramp[i] = {uint8_t(17 * i), uint8_t(17 * i), uint8_t(17 * i)};
  ColorMapObject* map = GifMakeMapObject(16, ramp.data());
  EGifPutScreenDesc(gif, 64, 64, 4, 0, map);
  EGifPutImageDesc(gif, 0, 0, 64, 64, true, nullptr);
  const int start[] = {0, 4, 2, 1}, step[] = {8, 8, 4, 2};
  std::vector<GifPixelType> line(64);
  for (int pass = 0; pass < 4; ++pass) {
    for (int y = start[pass]; y < 64; y += step[pass]) {
      for (int x = 0; x < 64; ++x) line[x] = GifPixelType(RampIndex(x, y));
      EGifPutLine(gif, line.data(), 64);
    }
  }
  EGifCloseFile(gif, &error);
  GifFreeMapObject(map);
  return out;
}

uint32_t RampColour(int x, int y) {
  const uint32_t v = 17 * uint32_t(RampIndex(x, y));
  return Argb(255, v, v, v);
}

// A frame cut short is codecErr, even with its first interlace pass whole
// (half the data); one that lacks only its closing empty block and the
// trailer is whole. No image at all, or a cut header, is codecErr.
TEST(GifCodec, DamagedInput) {
  const std::vector<uint8_t> whole = WriteInterlacedGif();
  const std::string printed = test::StderrOf([&] {
    test::Decoded full = DecodeWith(kGifImporter, whole, k32ARGBPixelFormat);
    ASSERT_EQ(full.err, noErr);
    EXPECT_EQ(ArgbAt(*full.image, 5, 7), RampColour(5, 7));
    EXPECT_EQ(DecodeWith(kGifImporter, test::Truncated(whole, 0.5), k32ARGBPixelFormat).err,
              codecErr);
    ASSERT_EQ(whole.end()[-2], 0);  // the empty block, then ';'
    test::Decoded unclosed = DecodeWith(
        kGifImporter, std::vector<uint8_t>(whole.begin(), whole.end() - 2), k32ARGBPixelFormat);
    ASSERT_EQ(unclosed.err, noErr);
    EXPECT_EQ(ArgbAt(*unclosed.image, 10, 63), RampColour(10, 63));

    ImageHeader header;
    for (size_t size : {size_t(6), size_t(13), size_t(20)}) {
      std::vector<uint8_t> head(whole.begin(), whole.begin() + size);
      EXPECT_EQ(kGifImporter.readHeader(Span(head), &header), codecErr) << size;
    }
    std::vector<uint8_t> noImage = {'G', 'I', 'F', '8', '9', 'a', 4, 0, 4, 0, 0, 0, 0, ';'};
    EXPECT_EQ(kGifImporter.readHeader(Span(noImage), &header), codecErr);
  });
  EXPECT_EQ(printed, "");
}

}  // namespace
