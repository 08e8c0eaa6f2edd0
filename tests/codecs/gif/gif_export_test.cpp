// The GIF exporter and animation writer, read back with giflib: stills
// through our importer, animations composited as a viewer shows them.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "codecs/common/row_packer.h"
#include "codecs/format_test_util.h"
#include "codecs/gif/gif_codec.h"
#include "codecs/gif/gif_frames.h"

namespace {

using test::Argb;
using test::ArgbAt;

// 200 colours at most, with alpha 0, 100, 200 and 255 in turn.
test::OwnedGWorld FewColours(int w, int h) {
  test::OwnedGWorld gw = test::MakeGWorld(k32ARGBPixelFormat, w, h);
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      const uint32_t i = uint32_t(x * 7 + y * 3) % 200;
      const uint32_t alpha[] = {0, 100, 200, 255};
      test::SetArgb(*gw, x, y, Argb(alpha[(x + 2 * y) % 4], i, 255 - i, (i * 37) & 255));
    }
  }
  return gw;
}

// What a pixel should come back as: transparent below half alpha at depth
// 32, opaque otherwise, grey at depth 8.
uint32_t Expected(uint32_t argb, int depth) {
  const uint32_t r = argb >> 16 & 255, g = argb >> 8 & 255, b = argb & 255;
  if (depth == 8) {
    const uint32_t v = Luma8(r, g, b);
    return Argb(255, v, v, v);
  }
  if (depth == 32 && argb >> 24 < 128) return 0;
  return argb | 0xFF000000u;
}

TEST(GifExport, StillsRoundTripThroughTheImporter) {
  const test::OwnedGWorld few = FewColours(40, 30);
  const test::OwnedGWorld photo = test::MakeTestPicture(45, 31, /*varyAlpha=*/true);
  struct Case {
    const GWorld* picture;
    int depth, quality;
    double meanDifference;  // at most, over the colour samples; 0: exact
  } cases[] = {
      {few.get(), 32, 768, 0},  {few.get(), 24, 768, 0},   {few.get(), 24, 0, 0},
      {few.get(), 8, 768, 0},   {photo.get(), 24, 768, 6}, {photo.get(), 32, 768, 6},
      {photo.get(), 8, 768, 0}, {photo.get(), 24, 0, 20},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message()
                 << (c.picture == few.get() ? "few " : "photo ") << c.depth << " " << c.quality);
    const int w = c.picture->pixMap.bounds.right, h = c.picture->pixMap.bounds.bottom;
    OSErr err = 1;
    const std::vector<uint8_t> file =
        test::EncodeWith(kGifExporter, *c.picture, c.quality, c.depth, &err);
    ASSERT_EQ(err, noErr);
    test::Decoded d = test::DecodeWith(kGifImporter, file, k32ARGBPixelFormat);
    ASSERT_EQ(d.err, noErr);
    EXPECT_EQ(d.header.width, w);
    EXPECT_EQ(d.header.height, h);
    EXPECT_EQ(d.header.hasAlpha, c.depth == 32);
    int64_t difference = 0, alphaMismatches = 0;
    for (int y = 0; y < h; ++y) {
      for (int x = 0; x < w; ++x) {
        const uint32_t want = Expected(ArgbAt(*c.picture, x, y), c.depth);
        const uint32_t got = ArgbAt(*d.image, x, y);
        alphaMismatches += want >> 24 != got >> 24;
        for (int shift = 0; shift < 24; shift += 8) {
          difference += std::abs(int(want >> shift & 255) - int(got >> shift & 255));
        }
      }
    }
    EXPECT_EQ(alphaMismatches, 0);
    EXPECT_LE(double(difference) / (3.0 * w * h), c.meanDifference);
  }
}

// A lower quality spends less: a smaller file, further from the picture.
TEST(GifExport, QualityTradesSizeForFidelity) {
  const test::OwnedGWorld photo = test::MakeTestPicture(96, 64);
  const std::vector<uint8_t> low = test::EncodeWith(kGifExporter, *photo, 100, 24);
  const std::vector<uint8_t> high = test::EncodeWith(kGifExporter, *photo, 1023, 24);
  EXPECT_LT(low.size(), high.size());
  const test::Decoded lowImage = test::DecodeWith(kGifImporter, low, k32ARGBPixelFormat);
  const test::Decoded highImage = test::DecodeWith(kGifImporter, high, k32ARGBPixelFormat);
  ASSERT_EQ(lowImage.err, noErr);
  ASSERT_EQ(highImage.err, noErr);
  EXPECT_LT(test::RgbPsnr(*photo, *lowImage.image), test::RgbPsnr(*photo, *highImage.image));
}

// Canvases as the writer takes them: bytes A, R, G, B.
std::vector<uint8_t> CanvasBytes(const std::vector<uint32_t>& argb) {
  std::vector<uint8_t> bytes;
  for (uint32_t p : argb) {
    bytes.insert(bytes.end(), {uint8_t(p >> 24), uint8_t(p >> 16), uint8_t(p >> 8), uint8_t(p)});
  }
  return bytes;
}

std::vector<uint8_t> WriteAnimation(const std::vector<std::vector<uint32_t>>& canvases,
                                    const std::vector<int>& delaysMs, int w, int h, int loops) {
  AnimationRequest request;
  request.info = {w, h, int32_t(canvases.size()), loops};
  std::unique_ptr<AnimationWriter> writer;
  EXPECT_EQ(kGifExporter.startAnimation(request, &writer), noErr);
  for (size_t i = 0; i < canvases.size(); ++i) {
    std::vector<uint8_t> bytes = CanvasBytes(canvases[i]);
    const PixelView view{bytes.data(), int64_t(w) * 4, w, h, k32ARGBPixelFormat, 32};
    EXPECT_EQ(writer->AddFrame(view, delaysMs[i]), noErr);
  }
  std::vector<uint8_t> file;
  EXPECT_EQ(writer->Finish(&file), noErr);
  return file;
}

// Few colours: the first frame covers the canvas though its right half is
// transparent (other readers than browsers would show the screen's
// background colour there); a square moves; the right half turns
// transparent (the frame
// before is disposed to the background, and only it); a frame repeats
// (one transparent pixel); the right half comes back. Every frame comes
// back exactly, in one global table; the delays keep their total.
TEST(GifAnimation, FramesDisposalAndDelays) {
  const int w = 16, h = 12;
  const uint32_t blue = Argb(255, 0, 0, 200), red = Argb(255, 220, 0, 0),
                 green = Argb(255, 0, 180, 0);
  auto frame = [&](int squareLeft, bool rightClear, uint32_t right) {
    std::vector<uint32_t> argb(size_t(w) * h);
    for (int y = 0; y < h; ++y) {
      for (int x = 0; x < w; ++x) {
        uint32_t& p = argb[size_t(y) * w + x];
        p = x >= squareLeft && x < squareLeft + 4 && y >= 2 && y < 6 ? red : blue;
        if (x >= 10) p = rightClear ? 0 : right;
      }
    }
    return argb;
  };
  const std::vector<std::vector<uint32_t>> canvases = {frame(2, true, 0), frame(4, false, blue),
                                                       frame(4, true, 0), frame(4, true, 0),
                                                       frame(5, false, green)};
  const std::vector<uint8_t> file = WriteAnimation(canvases, {100, 33, 33, 34, 255}, w, h, 3);
  test::GifFrames gif;
  ASSERT_TRUE(test::ReadGifFrames(file, &gif));
  EXPECT_EQ(gif.width, w);
  EXPECT_EQ(gif.height, h);
  ASSERT_EQ(gif.frames.size(), canvases.size());
  const int delaysCs[] = {10, 3, 4, 3, 26};  // ends at 10, 13, 17, 20, 46
  const int disposals[] = {DISPOSE_DO_NOT, DISPOSE_BACKGROUND, DISPOSE_DO_NOT, DISPOSE_DO_NOT,
                           DISPOSE_DO_NOT};
  for (size_t i = 0; i < canvases.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_TRUE(gif.frames[i].argb == canvases[i]);
    EXPECT_EQ(gif.frames[i].delayCs, delaysCs[i]);
    EXPECT_EQ(gif.frames[i].disposal, disposals[i]);
    EXPECT_FALSE(gif.frames[i].localTable);
  }
  EXPECT_EQ(gif.frames[0].width * gif.frames[0].height, w * h);
  // The square's move and the half that turns transparent after it.
  EXPECT_EQ(gif.frames[1].left, 2);
  EXPECT_EQ(gif.frames[1].width, 14);
  EXPECT_EQ(gif.frames[3].width * gif.frames[3].height, 1);
}

// Once the global table is full, a small change in colours near its own
// is drawn with it (no table of its own, a level off at most), and one in
// colours far from all of them takes a table of its own.
TEST(GifAnimation, AFullGlobalTableDrawsColoursNearItsOwn) {
  const int w = 16, h = 16;
  std::vector<uint32_t> full(size_t(w) * h);
  for (int i = 0; i < w * h; ++i) full[size_t(i)] = Argb(255, i, 255 - i, (i * 7) & 0xF0);
  std::vector<uint32_t> near = full, far = full;
  for (int i = 0; i < 8; ++i) {
    near[size_t(i)] = Argb(255, i + 1, 255 - i, ((i * 7) & 0xF0) + 1);  // not in the table
    far[size_t(i)] = Argb(255, 0, 0, 0x0F + 2 * i);                     // nowhere near it
  }
  const std::vector<uint8_t> file = WriteAnimation({full, near, far}, {100, 100, 100}, w, h, 0);
  test::GifFrames gif;
  ASSERT_TRUE(test::ReadGifFrames(file, &gif));
  ASSERT_EQ(gif.frames.size(), 3u);
  EXPECT_TRUE(gif.frames[0].argb == full);
  EXPECT_FALSE(gif.frames[1].localTable);
  for (size_t p = 0; p < near.size(); ++p) {
    for (int shift = 0; shift <= 16; shift += 8) {
      EXPECT_LE(std::abs(int(gif.frames[1].argb[p] >> shift & 255) - int(near[p] >> shift & 255)),
                1)
          << p;
    }
  }
  EXPECT_TRUE(gif.frames[2].localTable);
  EXPECT_TRUE(gif.frames[2].argb == far);
}

// A photographic animation is quantised frame by frame, close to its frames.
TEST(GifAnimation, QuantisedFramesStayClose) {
  const int w = 48, h = 32;
  std::vector<std::vector<uint32_t>> canvases;
  for (int i = 0; i < 4; ++i) {
    const test::OwnedGWorld picture = test::MakeTestPicture(w + 3 * i, h);
    std::vector<uint32_t> argb;
    for (int y = 0; y < h; ++y) {
      for (int x = 0; x < w; ++x) argb.push_back(ArgbAt(*picture, x, y));
    }
    canvases.push_back(argb);
  }
  test::GifFrames gif;
  ASSERT_TRUE(test::ReadGifFrames(WriteAnimation(canvases, {40, 40, 40, 40}, w, h, 0), &gif));
  ASSERT_EQ(gif.frames.size(), canvases.size());
  for (size_t i = 0; i < canvases.size(); ++i) {
    int64_t difference = 0;
    for (size_t p = 0; p < canvases[i].size(); ++p) {
      const uint32_t a = canvases[i][p], b = gif.frames[i].argb[p];
      ASSERT_EQ(b >> 24, 255u) << i;
      for (int shift = 0; shift < 24; shift += 8) {
        difference += std::abs(int(a >> shift & 255) - int(b >> shift & 255));
      }
    }
    EXPECT_LE(double(difference) / (3.0 * w * h), 6.0) << i;
  }
}

// A delay longer than GIF holds is cut, the frames after it keeping theirs.
TEST(GifAnimation, OverlongDelayIsCutAlone) {
  const std::vector<uint32_t> canvas(4, Argb(255, 1, 2, 3));
  test::GifFrames gif;
  ASSERT_TRUE(test::ReadGifFrames(
      WriteAnimation({canvas, canvas, canvas}, {1000000, 10, 25}, 2, 2, 0), &gif));
  ASSERT_EQ(gif.frames.size(), 3u);
  EXPECT_EQ(gif.frames[0].delayCs, 65535);
  EXPECT_EQ(gif.frames[1].delayCs, 1);
  EXPECT_EQ(gif.frames[2].delayCs, 3);  // ends at 100004 cs
}

// The loop count is how often the animation plays: once writes no loop
// block, more writes the repeats after the first, 0 for ever.
TEST(GifAnimation, LoopCountBecomesRepeats) {
  const struct { int loops, repeats; } cases[] = {{1, -1}, {0, 0}, {3, 2}, {70000, 65535}};
  const std::vector<uint32_t> canvas(4, Argb(255, 1, 2, 3));
  for (const auto& c : cases) {
    test::GifFrames gif;
    ASSERT_TRUE(
        test::ReadGifFrames(WriteAnimation({canvas, canvas}, {10, 10}, 2, 2, c.loops), &gif));
    EXPECT_EQ(gif.repeats, c.repeats) << c.loops;
  }
}

}  // namespace
