#include "resample/resampler.h"

#include <gtest/gtest.h>

#include <vector>

#include "pixel_world.h"
#include "resample/resample.h"

namespace {

using test::Get16;
using test::Get32;
using test::MakeWorld;
using test::Set16;
using test::Set32;
using test::World;

int64_t BlockSize(PixelClass from, PixelClass to, int32_t sw, int32_t sh, int32_t dw, int32_t dh,
                  int32_t hEdge, int32_t vEdge, int32_t kernel) {
  ResampleContext c;
  c.sourceWidth = sw;
  c.sourceHeight = sh;
  c.destinationWidth = dw;
  c.destinationHeight = dh;
  c.sourceClass = from;
  c.destinationClass = to;
  c.horizontalEdge = EdgeMode(uint8_t(hEdge));
  c.verticalEdge = EdgeMode(uint8_t(vEdge));
  c.kernel = KernelKind(kernel);
  int64_t size = -1;
  EXPECT_EQ(Resample(&c, AxisPositionsFor(SampleAlignment::kCorners, sw, dw),
                     AxisPositionsFor(SampleAlignment::kCorners, sh, dh), &size),
            noErr);
  return size;
}

TEST(Resampler, WorkingBlockSizes) {
  // Taps 9 each way; ring 50·4·2·9, tables 50·24 each.
  EXPECT_EQ(BlockSize(kClassARGB32, kClassARGB32, 100, 100, 50, 50, 0, 0, kKernelSinc), 6000);
  // Wrap adds 2·5 margin pixels and the 100-pixel row; pinch alone the row.
  EXPECT_EQ(BlockSize(kClassARGB32, kClassARGB32, 100, 100, 50, 50, 3, 0, kKernelSinc), 6440);
  EXPECT_EQ(BlockSize(kClassARGB32, kClassARGB32, 100, 100, 50, 50, 0, 4, kKernelSinc), 6400);
  EXPECT_EQ(BlockSize(kClassARGB32, kClassARGB32, 100, 100, 50, 50, 3, 4, kKernelSinc), 6440);
  EXPECT_EQ(BlockSize(kClassARGB32, kClassARGB32, 100, 100, 50, 50, 4, 3, kKernelSinc), 6000);
  // Grey 99 × 99 → 51 × 50: taps 8, ring 816, tables 1122 + 1100 = 3038,
  // rounded up to 3040, margin 4 pixels each side, 99-pixel row.
  EXPECT_EQ(BlockSize(kClassGray8, kClassGray8, 99, 99, 51, 50, 3, 0, kKernelSinc), 3147);
  // Channels are the smaller count: "b48r" to "b64a" keeps 3.
  EXPECT_EQ(BlockSize(kClassRGB48, kClassARGB64, 100, 100, 50, 50, 0, 0, kKernelSinc),
            50 * 3 * 2 * 9 + 2 * 1200);
  // Scratch for the kernel samples outgrows a one-pixel ring: 8 · 4 bytes.
  EXPECT_EQ(BlockSize(kClassGray8, kClassGray8, 10, 10, 1, 1, 0, 0, kKernelSinc), 32 + 14 + 14);
  // 99 → 2 with the narrow gaussian needs 295 taps, one more than 3 · 98:
  // scratch 8 · 295, horizontal table 2 · (2 · 295 + 6), vertical 1 · 12.
  EXPECT_EQ(BlockSize(kClassGray8, kClassGray8, 99, 1, 2, 1, 0, 0, kKernelGaussian),
            2360 + 1192 + 12);
  // Gaussian enlarging: 3 taps; wide gaussian: 5.
  EXPECT_EQ(BlockSize(kClassARGB32, kClassARGB32, 10, 10, 20, 20, 0, 0, kKernelGaussian),
            20 * 8 * 3 + 2 * 20 * 12);
  EXPECT_EQ(BlockSize(kClassARGB32, kClassARGB32, 10, 10, 20, 20, 0, 0, kKernelWideGaussian),
            20 * 8 * 5 + 2 * 20 * 16);
}

World WorldWithFormat(OSType format) {
  // A buffer of a format the resampler has no class for.
  World w = MakeWorld(k32ARGBPixelFormat, 4, 4);
  w->pixMap.pixelFormat = format;
  w->pixMap.pixelSize = 16;
  return w;
}

TEST(Resampler, RefusesFormatsWithoutAClassBeforeTouchingAnything) {
  World good = MakeWorld(k32ARGBPixelFormat, 4, 4);
  World grey16 = WorldWithFormat(k16GrayCodecType);
  World grey8 = MakeWorld(k8IndexedGrayPixelFormat, 4, 4);
  Set32(*good, 1, 1, 0xFFFFFFFF);
  const auto before = test::Snapshot(*grey16);
  EXPECT_EQ(ResampleGWorld(good.get(), grey16.get(), EdgeMode(0), EdgeMode(0), kKernelSinc),
            cDepthErr);
  EXPECT_EQ(test::Snapshot(*grey16), before);
  EXPECT_EQ(ResampleGWorld(grey16.get(), good.get(), EdgeMode(0), EdgeMode(0), kKernelSinc),
            cDepthErr);
  World alphaGrey = WorldWithFormat(k32AlphaGrayCodecType);
  EXPECT_EQ(ResampleGWorld(alphaGrey.get(), alphaGrey.get(), EdgeMode(0), EdgeMode(0), kKernelSinc),
            cDepthErr);
  EXPECT_EQ(ResampleGWorld(good.get(), grey8.get(), EdgeMode(0), EdgeMode(0), kKernelSinc), noErr);
  World indexed = MakeWorld(k8IndexedPixelFormat, 4, 4);
  EXPECT_EQ(ResampleGWorld(indexed.get(), good.get(), EdgeMode(0), EdgeMode(0), kKernelSinc),
            noErr);
}

TEST(Resampler, RefusesAReductionBeyondWhatAnEntryHolds) {
  // 70000 rows to 2: 279996 taps would not fit a 16-bit count.
  World tall = MakeWorld(k8IndexedGrayPixelFormat, 1, 70000);
  World dest = MakeWorld(k8IndexedGrayPixelFormat, 1, 2);
  std::memset(dest->pixMap.baseAddr, 7, test::TotalBytes(*dest));
  const auto before = test::Snapshot(*dest);
  EXPECT_EQ(ResampleGWorld(tall.get(), dest.get(), EdgeMode(0), EdgeMode(0), kKernelSinc),
            memFullErr);
  EXPECT_EQ(test::Snapshot(*dest), before);
  // To a single row it is taken at scale 1: the first row.
  World one = MakeWorld(k8IndexedGrayPixelFormat, 1, 1);
  static_cast<uint8_t*>(tall->pixMap.baseAddr)[0] = 77;
  EXPECT_EQ(ResampleGWorld(tall.get(), one.get(), EdgeMode(0), EdgeMode(0), kKernelSinc), noErr);
  EXPECT_EQ(static_cast<uint8_t*>(one->pixMap.baseAddr)[0], 77);
}

// Same size with the sinc: one tap of 16384 per sample, so only the fetch
// and store conversions act. 8-bit v comes back as v up to 127, v + 1 from
// 128 to 254, 255 as 255.
uint32_t Expected8(uint32_t v) {
  return v < 128 || v == 255 ? v : v + 1;
}

TEST(Resampler, SameSizeEightBitRoundTrip) {
  World src = MakeWorld(k32ARGBPixelFormat, 256, 2);
  World dst = MakeWorld(k32ARGBPixelFormat, 256, 2);
  for (uint32_t v = 0; v < 256; ++v) {
    Set32(*src, int32_t(v), 0, v << 24 | (255 - v) << 16 | v << 8 | (v ^ 0x55));
    Set32(*src, int32_t(v), 1, v * 0x01010101u);
  }
  ASSERT_EQ(ResampleGWorld(src.get(), dst.get(), EdgeMode(0), EdgeMode(0), kKernelSinc), noErr);
  for (uint32_t v = 0; v < 256; ++v) {
    EXPECT_EQ(Get32(*dst, int32_t(v), 0), Expected8(v) << 24 | Expected8(255 - v) << 16 |
                                              Expected8(v) << 8 | Expected8(v ^ 0x55));
    EXPECT_EQ(Get32(*dst, int32_t(v), 1), Expected8(v) * 0x01010101u);
  }
}

TEST(Resampler, SameSizeSixteenBitRoundTrip) {
  World src = MakeWorld(k64ARGBPixelFormat, 5, 1);
  World dst = MakeWorld(k64ARGBPixelFormat, 5, 1);
  // (v >> 2) · 4 + (v >> 14): 65535 and 0 survive, low bits go.
  const uint16_t in[5] = {65535, 0, 1001, 32769, 3};
  const uint16_t out[5] = {65535, 0, 1000, 32770, 0};
  for (int32_t x = 0; x < 5; ++x) {
    for (int32_t c = 0; c < 4; ++c) Set16(*src, x, 0, c, in[(x + c) % 5]);
  }
  ASSERT_EQ(ResampleGWorld(src.get(), dst.get(), EdgeMode(0), EdgeMode(0), kKernelSinc), noErr);
  for (int32_t x = 0; x < 5; ++x) {
    for (int32_t c = 0; c < 4; ++c) EXPECT_EQ(Get16(*dst, x, 0, c), out[(x + c) % 5]);
  }
}

TEST(Resampler, GreyFromColourMatchesGrey) {
  World colour = MakeWorld(k32ARGBPixelFormat, 256, 1);
  World grey = MakeWorld(k8IndexedGrayPixelFormat, 256, 1);
  World wide = MakeWorld(k48RGBCodecType, 256, 1);
  for (uint32_t v = 0; v < 256; ++v) {
    Set32(*colour, int32_t(v), 0, 0x12000000u | v * 0x010101u);
    static_cast<uint8_t*>(grey->pixMap.baseAddr)[v] = uint8_t(v);
    for (int32_t c = 0; c < 3; ++c) Set16(*wide, int32_t(v), 0, c, uint16_t(v * 257));
  }
  World fromColour = MakeWorld(k8IndexedGrayPixelFormat, 256, 1);
  World fromGrey = MakeWorld(k8IndexedGrayPixelFormat, 256, 1);
  World fromWide = MakeWorld(k8IndexedGrayPixelFormat, 256, 1);
  ASSERT_EQ(ResampleGWorld(colour.get(), fromColour.get(), EdgeMode(0), EdgeMode(0), kKernelSinc),
            noErr);
  ASSERT_EQ(ResampleGWorld(grey.get(), fromGrey.get(), EdgeMode(0), EdgeMode(0), kKernelSinc),
            noErr);
  ASSERT_EQ(ResampleGWorld(wide.get(), fromWide.get(), EdgeMode(0), EdgeMode(0), kKernelSinc),
            noErr);
  for (uint32_t v = 0; v < 256; ++v) {
    const uint8_t g = static_cast<uint8_t*>(fromGrey->pixMap.baseAddr)[v];
    EXPECT_EQ(g, Expected8(v));
    EXPECT_EQ(static_cast<uint8_t*>(fromColour->pixMap.baseAddr)[v], g) << v;
    EXPECT_EQ(static_cast<uint8_t*>(fromWide->pixMap.baseAddr)[v], g) << v;
  }
  // Pure colours weigh 870, 2931 and 295 of 4096.
  Set32(*colour, 0, 0, 0xFFFF0000u);
  Set32(*colour, 1, 0, 0xFF00FF00u);
  Set32(*colour, 2, 0, 0xFF0000FFu);
  ASSERT_EQ(ResampleGWorld(colour.get(), fromColour.get(), EdgeMode(0), EdgeMode(0), kKernelSinc),
            noErr);
  const uint8_t* g = static_cast<uint8_t*>(fromColour->pixMap.baseAddr);
  EXPECT_EQ(g[0], 54);   // 870·255/4096 = 54.2
  EXPECT_EQ(g[1], 183);  // 182.5, one more on the way back
  EXPECT_EQ(g[2], 18);   // 18.4
}

TEST(Resampler, AlphaIsDroppedOrFilled) {
  World rgb = MakeWorld(k48RGBCodecType, 2, 2);
  for (int32_t c = 0; c < 3; ++c) Set16(*rgb, 1, 1, c, uint16_t(65535 * (c != 1)));
  World argb = MakeWorld(k32ARGBPixelFormat, 2, 2);
  ASSERT_EQ(ResampleGWorld(rgb.get(), argb.get(), EdgeMode(0), EdgeMode(0), kKernelSinc), noErr);
  EXPECT_EQ(Get32(*argb, 0, 0), 0xFF000000u);
  EXPECT_EQ(Get32(*argb, 1, 1), 0xFFFF00FFu);

  Set32(*argb, 0, 0, 0x00FF8000u);
  World back = MakeWorld(k48RGBCodecType, 2, 2);
  ASSERT_EQ(ResampleGWorld(argb.get(), back.get(), EdgeMode(0), EdgeMode(0), kKernelSinc), noErr);
  EXPECT_EQ(Get16(*back, 0, 0, 0), 65535);
  EXPECT_EQ(Get16(*back, 0, 0, 1), 32898);  // 128 → 8224 → 4 · 8224 + 2
  EXPECT_EQ(Get16(*back, 0, 0, 2), 0);

  World grey = MakeWorld(k8IndexedGrayPixelFormat, 2, 2);
  static_cast<uint8_t*>(grey->pixMap.baseAddr)[0] = 40;
  World wide = MakeWorld(k64ARGBPixelFormat, 2, 2);
  ASSERT_EQ(ResampleGWorld(grey.get(), wide.get(), EdgeMode(0), EdgeMode(0), kKernelSinc), noErr);
  EXPECT_EQ(Get16(*wide, 0, 0, 0), 65535);
  for (int32_t c = 1; c < 4; ++c) EXPECT_EQ(Get16(*wide, 0, 0, c), 10280);  // 2570 · 4
}

TEST(Resampler, OvershootIsClamped) {
  // Grey 200, 200, 10, 10 enlarged to 7 with the sinc: the ringing goes
  // above 200 and below 0.
  World src = MakeWorld(k8IndexedGrayPixelFormat, 4, 1);
  const uint8_t in[4] = {200, 200, 10, 10};
  std::memcpy(src->pixMap.baseAddr, in, 4);
  World dst = MakeWorld(k8IndexedGrayPixelFormat, 7, 1);
  ASSERT_EQ(ResampleGWorld(src.get(), dst.get(), EdgeMode(0), EdgeMode(0), kKernelSinc), noErr);
  const uint8_t expected[7] = {201, 213, 201, 105, 10, 0, 10};
  EXPECT_EQ(0, std::memcmp(dst->pixMap.baseAddr, expected, 7));
}

TEST(Resampler, FlatImagesStayFlat) {
  const int32_t sizes[][4] = {{13, 7, 5, 11}, {7, 5, 20, 9}, {1, 1, 6, 3}, {6, 3, 1, 1}};
  for (int32_t kernel : {0, 1, 2}) {
    for (int32_t hEdge : {0, 3, 4}) {
      for (int32_t vEdge : {0, 3, 4}) {
        for (const auto& s : sizes) {
          SCOPED_TRACE(testing::Message() << kernel << " " << hEdge << " " << vEdge << " " << s[0]
                                          << "x" << s[1] << "->" << s[2] << "x" << s[3]);
          World src = MakeWorld(k32ARGBPixelFormat, s[0], s[1]);
          World dst = MakeWorld(k32ARGBPixelFormat, s[2], s[3]);
          World src16 = MakeWorld(k64ARGBPixelFormat, s[0], s[1]);
          World dst16 = MakeWorld(k64ARGBPixelFormat, s[2], s[3]);
          const uint16_t in16[4] = {65535, 1001, 32769, 0};
          const uint16_t out16[4] = {65535, 1000, 32770, 0};
          for (int32_t y = 0; y < s[1]; ++y) {
            for (int32_t x = 0; x < s[0]; ++x) {
              Set32(*src, x, y, 0xFF64C800u);  // 255, 100, 200, 0
              for (int32_t c = 0; c < 4; ++c) Set16(*src16, x, y, c, in16[c]);
            }
          }
          ASSERT_EQ(ResampleGWorld(src.get(), dst.get(), EdgeMode(hEdge), EdgeMode(vEdge),
                                   KernelKind(kernel)),
                    noErr);
          ASSERT_EQ(ResampleGWorld(src16.get(), dst16.get(), EdgeMode(hEdge), EdgeMode(vEdge),
                                   KernelKind(kernel)),
                    noErr);
          for (int32_t y = 0; y < s[3]; ++y) {
            for (int32_t x = 0; x < s[2]; ++x) {
              ASSERT_EQ(Get32(*dst, x, y), 0xFF64C900u);
              for (int32_t c = 0; c < 4; ++c) ASSERT_EQ(Get16(*dst16, x, y, c), out16[c]);
            }
          }
        }
      }
    }
  }
}

TEST(Resampler, DegenerateSizes) {
  // One source column repeats across every output column.
  World column = MakeWorld(k32ARGBPixelFormat, 1, 4);
  for (int32_t y = 0; y < 4; ++y) Set32(*column, 0, y, 0x10203040u * uint32_t(y + 1));
  World wide = MakeWorld(k32ARGBPixelFormat, 6, 4);
  ASSERT_EQ(ResampleGWorld(column.get(), wide.get(), EdgeMode(0), EdgeMode(0), kKernelGaussian),
            noErr);
  for (int32_t y = 0; y < 4; ++y) {
    for (int32_t x = 1; x < 6; ++x) EXPECT_EQ(Get32(*wide, x, y), Get32(*wide, 0, y));
  }
  // One source pixel fills the destination; 1 to 1 copies it.
  World dot = MakeWorld(k32ARGBPixelFormat, 1, 1);
  Set32(*dot, 0, 0, 0x11223344u);
  World patch = MakeWorld(k32ARGBPixelFormat, 3, 5);
  for (int32_t kernel : {0, 1, 2}) {
    ASSERT_EQ(ResampleGWorld(dot.get(), patch.get(), EdgeMode(3), EdgeMode(4), KernelKind(kernel)),
              noErr);
    for (int32_t y = 0; y < 5; ++y) {
      for (int32_t x = 0; x < 3; ++x) EXPECT_EQ(Get32(*patch, x, y), 0x11223344u);
    }
    World copy = MakeWorld(k32ARGBPixelFormat, 1, 1);
    ASSERT_EQ(ResampleGWorld(dot.get(), copy.get(), EdgeMode(0), EdgeMode(0), KernelKind(kernel)),
              noErr);
    EXPECT_EQ(Get32(*copy, 0, 0), 0x11223344u);
  }
  // A single output row with the sinc is the first source row.
  World rows = MakeWorld(k8IndexedGrayPixelFormat, 3, 9);
  uint8_t* p = static_cast<uint8_t*>(rows->pixMap.baseAddr);
  for (int32_t y = 0; y < 9; ++y) {
    for (int32_t x = 0; x < 3; ++x) p[y * rows->pixMap.rowBytes + x] = uint8_t(10 * y + x + 1);
  }
  World line = MakeWorld(k8IndexedGrayPixelFormat, 3, 1);
  ASSERT_EQ(ResampleGWorld(rows.get(), line.get(), EdgeMode(0), EdgeMode(0), kKernelSinc), noErr);
  const uint8_t first[3] = {1, 2, 3};
  EXPECT_EQ(0, std::memcmp(line->pixMap.baseAddr, first, 3));
}

TEST(Resampler, PortRectangleSelectsPartOfTheBuffers) {
  std::mt19937 rng(5);
  World whole = MakeWorld(k32ARGBPixelFormat, 20, 20);
  test::FillRandom(*whole, rng);
  Rect port;
  MacSetRect(&port, 5, 3, 14, 15);  // 9 × 12
  World part = MakeWorld(k32ARGBPixelFormat, 9, 12);
  for (int32_t y = 0; y < 12; ++y) {
    for (int32_t x = 0; x < 9; ++x) Set32(*part, x, y, Get32(*whole, x + 5, y + 3));
  }
  World bigDest = MakeWorld(k32ARGBPixelFormat, 10, 10);
  test::FillRandom(*bigDest, rng);
  const auto before = test::Snapshot(*bigDest);
  Rect destPort;
  MacSetRect(&destPort, 2, 4, 8, 8);  // 6 × 4
  // Records that share the pixels, with a part of them as port rectangle.
  GWorld view = *whole;
  view.portRect = port;
  GWorld destView = *bigDest;
  destView.portRect = destPort;
  ASSERT_EQ(ResampleGWorld(&view, &destView, EdgeMode(3), EdgeMode(4), kKernelSinc), noErr);
  World expected = MakeWorld(k32ARGBPixelFormat, 6, 4);
  ASSERT_EQ(ResampleGWorld(part.get(), expected.get(), EdgeMode(3), EdgeMode(4), kKernelSinc),
            noErr);
  for (int32_t y = 0; y < 10; ++y) {
    for (int32_t x = 0; x < 10; ++x) {
      const bool inside = x >= 2 && x < 8 && y >= 4 && y < 8;
      uint32_t old;
      std::memcpy(&old, before.data() + y * bigDest->pixMap.rowBytes + x * 4, 4);
      EXPECT_EQ(Get32(*bigDest, x, y), inside ? Get32(*expected, x - 2, y - 4) : old);
    }
  }
}

}  // namespace
