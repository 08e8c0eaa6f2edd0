// The whole pipeline against the resampler alone: a PNG read, resized and
// written by the program must hold exactly the pixels that the resampler
// makes of the same samples in memory. The PNG files are made and read with
// libpng directly, so the program's codecs, byte-order passes and depth
// handling are what is being checked.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "platform/gworld.h"
#include "platform/owned.h"
#include "png_files.h"
#include "resample/resample.h"
#include "test_support.h"

namespace {

using World = UniqueGWorld;

World MakeWorld(OSType format, int32_t width, int32_t height) {
  GWorldPtr gw = nullptr;
  Rect bounds;
  MacSetRect(&bounds, 0, 0, width, height);
  EXPECT_EQ(QTNewGWorld(&gw, format, &bounds, nullptr, nullptr, 0), noErr);
  return World(gw);
}

uint8_t* Pixel(GWorld& gw, int32_t x, int32_t y) {
  return static_cast<uint8_t*>(gw.pixMap.baseAddr) + int64_t(y) * gw.pixMap.rowBytes +
         int64_t(x) * (gw.pixMap.pixelSize / 8);
}

test::PngPixels RandomPng(int32_t width, int32_t height, int32_t bitDepth, int32_t channels,
                          uint32_t seed) {
  std::mt19937 rng(seed);
  test::PngPixels p;
  p.width = width;
  p.height = height;
  p.bitDepth = bitDepth;
  p.channels = channels;
  const uint32_t limit = bitDepth == 16 ? 65536 : 256;
  p.samples.resize(size_t(width) * size_t(height) * size_t(channels));
  for (uint16_t& s : p.samples) s = uint16_t(rng() % limit);
  return p;
}

// The buffer that the import draws of such a PNG, with 16-bit samples in
// native order as the resampler sees them: 8-bit files in 32-bit ARGB,
// 16-bit RGB in "b48r", 16-bit RGBA in "b64a".
World SourceWorld(const test::PngPixels& png) {
  const bool wide = png.bitDepth == 16;
  const OSType format = !wide               ? k32ARGBPixelFormat
                        : png.channels == 3 ? k48RGBCodecType
                                            : k64ARGBPixelFormat;
  World gw = MakeWorld(format, png.width, png.height);
  for (int32_t y = 0; y < png.height; ++y) {
    for (int32_t x = 0; x < png.width; ++x) {
      const uint16_t* s = png.At(y, x);
      const uint16_t alpha = png.channels == 4 ? s[3] : uint16_t(wide ? 65535 : 255);
      uint8_t* p = Pixel(*gw, x, y);
      if (!wide) {
        const uint32_t word =
            uint32_t(alpha) << 24 | uint32_t(s[0]) << 16 | uint32_t(s[1]) << 8 | s[2];
        std::memcpy(p, &word, 4);
      } else if (png.channels == 3) {
        const uint16_t rgb[3] = {s[0], s[1], s[2]};
        std::memcpy(p, rgb, 6);
      } else {
        const uint16_t argb[4] = {alpha, s[0], s[1], s[2]};
        std::memcpy(p, argb, 8);
      }
    }
  }
  return gw;
}

// Samples of the resampled buffer in the PNG layout that the exporter writes
// for it: 8-bit RGBA from 32-bit ARGB at depth 32, 16-bit RGB or RGBA from
// "b48r" or "b64a".
std::vector<uint16_t> ExpectedSamples(GWorld& gw) {
  const int32_t width = gw.portRect.right;
  const int32_t height = gw.portRect.bottom;
  std::vector<uint16_t> out;
  for (int32_t y = 0; y < height; ++y) {
    for (int32_t x = 0; x < width; ++x) {
      const uint8_t* p = Pixel(gw, x, y);
      if (gw.pixMap.pixelFormat == k32ARGBPixelFormat) {
        uint32_t word;
        std::memcpy(&word, p, 4);
        out.insert(out.end(), {uint16_t(word >> 16 & 255), uint16_t(word >> 8 & 255),
                               uint16_t(word & 255), uint16_t(word >> 24)});
      } else if (gw.pixMap.pixelFormat == k48RGBCodecType) {
        uint16_t rgb[3];
        std::memcpy(rgb, p, 6);
        out.insert(out.end(), {rgb[0], rgb[1], rgb[2]});
      } else {
        uint16_t argb[4];
        std::memcpy(argb, p, 8);
        out.insert(out.end(), {argb[1], argb[2], argb[3], argb[0]});
      }
    }
  }
  return out;
}

struct PipelineCase {
  int32_t bitDepth, channels;  // the source PNG
  int32_t width, height;       // the source size
  int32_t outWidth, outHeight;
  const char* depth;   // /b
  OSType destination;  // the buffer that depth selects
  const char* kernel;  // /k
  const char* edges;   // /p
  int32_t kernelKind, hEdge, vEdge;
};

TEST(PipelinePixels, ProgramOutputEqualsTheResamplerOnTheSameSamples) {
  const PipelineCase cases[] = {
      {8, 4, 29, 17, 13, 40, "32", k32ARGBPixelFormat, "g", "hv", 1, kEdgeWrap, kEdgeWrap},
      {8, 3, 31, 12, 57, 5, "48", k48RGBCodecType, "s", "vp", 0, kEdgeDefault, kEdgePinch},
      {16, 4, 21, 26, 40, 9, "64", k64ARGBPixelFormat, "G", "hp", 2, kEdgeDefault, kEdgeDefault},
      {16, 3, 33, 19, 7, 30, "32", k32ARGBPixelFormat, "s", "hwvw", 0, kEdgeWrap, kEdgeWrap},
      {16, 4, 18, 18, 11, 11, "48", k48RGBCodecType, "g", "hvp", 1, kEdgeWrap, kEdgePinch},
  };
  uint32_t seed = 1;
  for (const PipelineCase& c : cases) {
    SCOPED_TRACE(std::string("depth ") + c.depth + " kernel " + c.kernel + " edges " + c.edges +
                 " source bits " + std::to_string(c.bitDepth));
    test::TempDir dir;
    const test::PngPixels source = RandomPng(c.width, c.height, c.bitDepth, c.channels, seed++);
    ASSERT_TRUE(test::WritePng(dir / "in.png", source));
    const test::RunResult run = test::RunTavrel(
        {"/c", "png", "/b", c.depth, "/k", c.kernel, "/p", c.edges, "/w",
         std::to_string(c.outWidth), "/h", std::to_string(c.outHeight), "/o", "out.png", "in.png"},
        dir.path().string());
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err, "");

    World src = SourceWorld(source);
    World dst = MakeWorld(c.destination, c.outWidth, c.outHeight);
    ASSERT_EQ(ResampleGWorld(src.get(), dst.get(), EdgeMode(c.hEdge), EdgeMode(c.vEdge),
                             KernelKind(c.kernelKind)),
              noErr);

    test::PngPixels written;
    ASSERT_TRUE(test::ReadPng(dir / "out.png", &written));
    EXPECT_EQ(written.width, c.outWidth);
    EXPECT_EQ(written.height, c.outHeight);
    EXPECT_EQ(written.bitDepth, c.destination == k32ARGBPixelFormat ? 8 : 16);
    EXPECT_EQ(written.samples, ExpectedSamples(*dst));
  }
}

}  // namespace
