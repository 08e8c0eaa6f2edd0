#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "base/memory_limit.h"
#include "base/memory_limit_seam.h"
#include "codecs/format_test_util.h"
#include "codecs/jxl/jxl_codec.h"
#include "jxl_animation_file.h"
#include "test_support.h"

namespace {

using test::Span;

// Frame i of a crop w x h: a moving gradient, partly transparent.
std::vector<uint8_t> Pattern(int w, int h, int i) {
  std::vector<uint8_t> rgba(size_t(w) * h * 4);
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      uint8_t* p = &rgba[(size_t(y) * w + x) * 4];
      p[0] = uint8_t(x * 7 + i * 40);
      p[1] = uint8_t(y * 9 + i * 3);
      p[2] = uint8_t((x + y) * 3);
      p[3] = uint8_t(y == h - 1 ? 0 : x == 0 ? 128 : 255);
    }
  }
  return rgba;
}

// 40 x 30: two whole frames and three crops, one frame of no duration.
test::JxlAnimation Animation(uint32_t loops) {
  test::JxlAnimation a;
  a.width = 40;
  a.height = 30;
  a.loops = loops;
  const test::JxlFrame frames[] = {{0, 0, 40, 30, 100, {}},
                                   {8, 6, 16, 12, 40, {}},
                                   {0, 0, 40, 30, 0, {}},
                                   {20, 10, 20, 20, 250, {}},
                                   {3, 5, 7, 2, 70, {}}};
  for (int i = 0; i < 5; ++i) {
    a.frames.push_back(frames[i]);
    a.frames.back().rgba = Pattern(frames[i].width, frames[i].height, i);
  }
  return a;
}

// Every canvas read, as R, G, B, A bytes again, with its delay; the
// reader's answer after the last.
struct Read {
  OSErr openErr = noErr;
  AnimationInfo info;
  std::vector<std::vector<uint8_t>> canvases;
  std::vector<int32_t> delays;
  OSErr endErr = noErr;
};

Read ReadAll(const std::vector<uint8_t>& file) {
  Read r;
  std::unique_ptr<AnimationReader> reader;
  r.openErr = kJxlImporter.openAnimation(Span(file), &reader);
  if (r.openErr != noErr) return r;
  r.info = reader->Info();
  PixelView canvas;
  FrameInfo frame;
  while ((r.endErr = reader->NextFrame(&canvas, &frame)) == noErr) {
    std::vector<uint8_t> rgba;
    for (int32_t y = 0; y < canvas.height; ++y) {
      for (int32_t x = 0; x < canvas.width; ++x) {
        const uint8_t* p = canvas.base + y * canvas.rowBytes + 4 * x;
        rgba.insert(rgba.end(), {p[1], p[2], p[3], p[0]});
      }
    }
    r.canvases.push_back(rgba);
    r.delays.push_back(frame.delayMs);
  }
  return r;
}

// The first canvas is what the still importer draws, orientation and
// colours included: libjxl's lossy files come out in linear sRGB unless
// asked for sRGB, as the still importer asks.
void ExpectFirstFrameIsTheStill(const std::vector<uint8_t>& file, const Read& r) {
  const test::Decoded still = test::DecodeWith(kJxlImporter, file, k32ARGBPixelFormat);
  ASSERT_EQ(still.err, noErr);
  ASSERT_EQ(r.info.width, still.header.width);
  ASSERT_EQ(r.info.height, still.header.height);
  ASSERT_FALSE(r.canvases.empty());
  int mismatches = 0;
  for (int32_t y = 0; y < r.info.height; ++y) {
    for (int32_t x = 0; x < r.info.width; ++x) {
      const uint8_t* p = &r.canvases[0][(size_t(y) * r.info.width + x) * 4];
      mismatches += test::ArgbAt(*still.image, x, y) != test::Argb(p[3], p[0], p[1], p[2]);
    }
  }
  EXPECT_EQ(mismatches, 0);
}

TEST(JxlAnimation, EveryFrameCompositedWithItsDelay) {
  std::vector<std::vector<uint8_t>> shown;
  const std::vector<uint8_t> file = test::EncodeJxlAnimation(Animation(0), &shown);
  ASSERT_FALSE(file.empty());
  const Read r = ReadAll(file);
  ASSERT_EQ(r.openErr, noErr);
  EXPECT_EQ(r.info.width, 40);
  EXPECT_EQ(r.info.height, 30);
  EXPECT_EQ(r.info.loopCount, 0);
  EXPECT_EQ(r.info.frameCount, 4);  // the frame of no duration is shown with the next
  EXPECT_EQ(r.endErr, eofErr);
  ASSERT_EQ(r.canvases.size(), 4u);
  EXPECT_EQ(r.delays, (std::vector<int32_t>{100, 40, 250, 70}));
  for (size_t i = 0; i < 4; ++i) EXPECT_TRUE(r.canvases[i] == shown[i]) << "frame " << i;
  ExpectFirstFrameIsTheStill(file, r);
}

// Ticks of 1/30 s round to whole milliseconds without drifting; a count of
// plays is kept; a sideways orientation is applied to every canvas.
TEST(JxlAnimation, TicksLoopsAndOrientation) {
  test::JxlAnimation a = Animation(3);
  a.tpsNumerator = 30;
  for (test::JxlFrame& f : a.frames) f.ticks = f.ticks == 0 ? 0 : 1;
  a.orientation = 6;
  const std::vector<uint8_t> file = test::EncodeJxlAnimation(a);
  ASSERT_FALSE(file.empty());
  const Read r = ReadAll(file);
  ASSERT_EQ(r.openErr, noErr);
  EXPECT_EQ(r.info.width, 30);
  EXPECT_EQ(r.info.height, 40);
  EXPECT_EQ(r.info.loopCount, 3);
  EXPECT_EQ(r.delays, (std::vector<int32_t>{33, 34, 33, 33}));
  ExpectFirstFrameIsTheStill(file, r);
}

// Lossy frames in a profile's colours, and a still: the canvas is the still's.
TEST(JxlAnimation, ColoursAndStillsAsTheStillImporterDraws) {
  test::JxlAnimation lossy = Animation(0);
  lossy.lossless = false;
  lossy.icc = test::ReadFileBytes("/usr/share/color/icc/compatibleWithAdobeRGB1998.icc");
  ASSERT_FALSE(lossy.icc.empty());
  test::JxlAnimation still = Animation(0);
  still.animated = false;
  still.frames.resize(1);
  for (const test::JxlAnimation* a : {&lossy, &still}) {
    SCOPED_TRACE(a->animated ? "lossy" : "still");
    const std::vector<uint8_t> file = test::EncodeJxlAnimation(*a);
    ASSERT_FALSE(file.empty());
    const Read r = ReadAll(file);
    ASSERT_EQ(r.openErr, noErr);
    EXPECT_EQ(r.info.frameCount, a->animated ? 4 : 1);
    EXPECT_EQ(r.info.loopCount, a->animated ? 0 : 1);  // a still plays once
    EXPECT_EQ(r.canvases.size(), size_t(r.info.frameCount));
    ExpectFirstFrameIsTheStill(file, r);
  }
}

// A file cut short or damaged answers codecErr, when its frames are
// counted or at the frame cut or damaged; a canvas beyond the memory limit
// is refused at the first frame, before it is allocated.
TEST(JxlAnimation, DamageAndMemory) {
  const std::vector<uint8_t> file = test::EncodeJxlAnimation(Animation(0));
  ASSERT_FALSE(file.empty());
  std::vector<uint8_t> damaged = file;
  for (size_t i = damaged.size() / 2; i < damaged.size(); ++i) damaged[i] ^= 0x5A;
  const std::vector<uint8_t> bad[] = {{file.begin(), file.end() - 10},
                                      {file.begin(), file.begin() + long(file.size() / 2)},
                                      damaged};
  for (const std::vector<uint8_t>& b : bad) {
    const Read r = ReadAll(b);
    EXPECT_TRUE(r.openErr == codecErr || r.endErr == codecErr) << r.openErr << " " << r.endErr;
  }

  OverridePhysicalMemoryBytes(HeldPixelBytes() + 40 * 30 * 20);
  const Read r = ReadAll(file);
  OverridePhysicalMemoryBytes(0);
  EXPECT_EQ(r.openErr, noErr);
  EXPECT_EQ(r.endErr, memFullErr);
  EXPECT_TRUE(r.canvases.empty());
}

}  // namespace
