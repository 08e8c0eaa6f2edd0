#include <gtest/gtest.h>

#include "imageio/export.h"
#include "imageio/swap_sample_bytes.h"
#include "codecs/codec_test_util.h"

namespace {

// A codec as the command line gives it: up to four characters, the rest 0.
OSType Typed(const char* s) {
  OSType v = 0;
  for (int i = 0; i < 4; ++i) {
    v = v << 8 | (*s ? uint8_t(*s++) : 0);
  }
  return v;
}

TEST(CodecMatches, CaseAndBlankFolding) {
  struct Case {
    const char* codec;
    OSType other;
    bool matches;
  } cases[] = {
      {"jpeg", FourCC("JPEG"), true},  {"JPEG", FourCC("JPEG"), true},
      {"jpg", FourCC("jpg "), true},   {"JPG", FourCC("jpg "), true},
      {"jpg", FourCC("JPEG"), false},  {"jpeg", FourCC("jpg "), false},
      {"png", FourCC("png "), true},   {"png", FourCC("PNG "), true},
      {"PnG ", FourCC("png "), true},  {"gif", FourCC("GIF "), true},
      {"gif", FourCC("gifx"), false},  {"tif", FourCC("tiff"), false},
      {"pn", FourCC("png "), false},   {"", FourCC("    "), true},
      {"xyz1", FourCC("png "), false}, {"jp@g", FourCC("jp`g"), false},  // '@' + 32 is '`'
  };
  for (const Case& c : cases) {
    EXPECT_EQ(CodecMatches(Typed(c.codec), c.other), c.matches) << c.codec;
    EXPECT_EQ(CodecMatches(c.other, Typed(c.codec)), c.matches) << c.codec;
  }
  // Bytes from 0x80 on are compared as they are.
  EXPECT_TRUE(CodecMatches(0xA9636D74u, 0xA9636D74u));
  EXPECT_FALSE(CodecMatches(0xC9636D74u, 0xE9636D74u));
}

TEST(SwapSampleBytes, SwapsEverySampleAndNothingElse) {
  test::OwnedGWorld gw = test::MakeGWorld(k48RGBCodecType, 3, 2);
  ASSERT_GT(gw->pixMap.rowBytes, 18);  // rows are padded to 16 bytes
  auto* base = static_cast<uint8_t*>(gw->pixMap.baseAddr);
  const size_t total = size_t(gw->pixMap.rowBytes) * 2;
  for (size_t i = 0; i < total; ++i) base[i] = uint8_t(i);
  SwapSampleBytes(gw.get());
  for (int row = 0; row < 2; ++row) {
    const uint8_t* r = base + row * gw->pixMap.rowBytes;
    const int first = row * gw->pixMap.rowBytes;
    for (int i = 0; i < 18; i += 2) {  // nine samples
      EXPECT_EQ(r[i], uint8_t(first + i + 1));
      EXPECT_EQ(r[i + 1], uint8_t(first + i));
    }
    for (int i = 18; i < gw->pixMap.rowBytes; ++i) EXPECT_EQ(r[i], uint8_t(first + i));
  }
  SwapSampleBytes(gw.get());
  for (size_t i = 0; i < total; ++i) ASSERT_EQ(base[i], uint8_t(i));
}

TEST(SwapSampleBytes, SixtyFourBitPixels) {
  test::OwnedGWorld gw = test::MakeGWorld(k64ARGBPixelFormat, 1, 1);
  test::SetSample16(*gw, 0, 0, 0, 0x1122);
  test::SetSample16(*gw, 0, 0, 3, 0xA0B0);
  SwapSampleBytes(gw.get());
  EXPECT_EQ(test::Sample16At(*gw, 0, 0, 0), 0x2211);
  EXPECT_EQ(test::Sample16At(*gw, 0, 0, 3), 0xB0A0);
}

}  // namespace
