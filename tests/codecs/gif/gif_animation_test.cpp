// The GIF animation reader against ImageMagick's own compositing
// (`convert -coalesce`), on GIFs written here with giflib.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/memory_limit.h"
#include "base/memory_limit_seam.h"
#include "codecs/format_test_util.h"
#include "codecs/gif/gif_codec.h"
#include "codecs/gif/gif_files.h"

namespace {

using test::GifFrameSpec;
using test::GifSpec;
using test::Span;

struct Frames {
  OSErr err = noErr;  // the first error, from opening or from a frame
  AnimationInfo info;
  std::vector<std::vector<uint8_t>> canvases;  // bytes A, R, G, B
  std::vector<int32_t> delays;
};

Frames ReadFrames(const std::vector<uint8_t>& file) {
  Frames frames;
  std::unique_ptr<AnimationReader> reader;
  frames.err = kGifImporter.openAnimation(Span(file), &reader);
  if (frames.err != noErr) return frames;
  frames.info = reader->Info();
  for (;;) {
    PixelView canvas;
    FrameInfo frame;
    const OSErr err = reader->NextFrame(&canvas, &frame);
    if (err == eofErr) break;
    frames.err = err;
    if (err != noErr) break;
    if (!frames.canvases.empty()) {
      EXPECT_EQ(test::ChangedOutside(frames.canvases.back(), canvas, frame.changed), 0)
          << "frame " << frames.canvases.size();
    }
    frames.canvases.emplace_back(canvas.base, canvas.base + canvas.rowBytes * canvas.height);
    frames.delays.push_back(frame.delayMs);
  }
  return frames;
}

// ImageMagick's frames, composited, as bytes A, R, G, B. It keeps a colour
// under transparent pixels (the transparent index's own, say), where ours
// are transparent black: transparent pixels are compared as such. It
// clears a disposal-2 frame to transparent, as we do.
std::vector<std::vector<uint8_t>> Coalesced(const std::vector<uint8_t>& file, int width,
                                            int height) {
  test::TempDir dir;
  test::WriteFileBytes(dir / "in.gif", file);
  const test::RunResult run =
      test::RunProgram({"convert", "in.gif", "-coalesce", "rgba:-"}, dir.path().string());
  EXPECT_EQ(run.status, 0) << run.err;
  const size_t frameBytes = size_t(width) * size_t(height) * 4;
  std::vector<std::vector<uint8_t>> frames;
  for (size_t at = 0; at + frameBytes <= run.out.size(); at += frameBytes) {
    std::vector<uint8_t> argb(frameBytes);
    for (size_t i = 0; i < frameBytes; i += 4) {
      const auto* p = reinterpret_cast<const uint8_t*>(run.out.data() + at + i);
      if (p[3] == 0) continue;
      argb[i] = p[3];
      argb[i + 1] = p[0];
      argb[i + 2] = p[1];
      argb[i + 3] = p[2];
    }
    frames.push_back(std::move(argb));
  }
  return frames;
}

int32_t ExpectedDelay(int delayCs) {
  return delayCs * 10;
}

// Offsets, local tables, transparency, every disposal (2 and 3 over frames
// that differ from what is under them), interlace, a frame partly off the
// canvas, and the loop counts.
const GifSpec kCases[] = {
    {24,
     16,
     -1,
     {{0, 0, 24, 16, 1, 0},
      {3, 2, 10, 6, 2, 1, 5, true},
      {12, 6, 8, 8, 3, 7, 0, false, true},
      {6, 4, 12, 10, 0, 20, 2},
      {10, 12, 30, 5, 1, 3, -1, true},
      {0, 0, 6, 6, 3, 4, 9, true},
      {2, 2, 5, 5, 2, 5}}},
    {20, 12, 0, {{4, 3, 9, 7, 2, 10, 3, true, true}, {0, 0, 20, 12, 3, 0, 1}, {5, 5, 6, 6}}},
    {9, 7, 3, {{0, 0, 9, 7, 1, 2, 4}, {1, 1, 8, 3, 0, 65535, 6, true}}},
    {9, 7, 65535, {{0, 0, 9, 7}, {2, 2, 3, 3, 2}}},
};

TEST(GifAnimation, FramesAsImageMagickCoalescesThem) {
  for (const GifSpec& spec : kCases) {
    SCOPED_TRACE(testing::Message() << spec.screenWidth << "x" << spec.screenHeight);
    const std::vector<uint8_t> file = test::WriteGif(spec).bytes;
    const Frames frames = ReadFrames(file);
    ASSERT_EQ(frames.err, noErr);
    EXPECT_EQ(frames.info.width, spec.screenWidth);
    EXPECT_EQ(frames.info.height, spec.screenHeight);
    EXPECT_EQ(frames.info.frameCount, int32_t(spec.frames.size()));
    EXPECT_EQ(frames.info.loopCount, spec.repeats < 0    ? 1
                                     : spec.repeats == 0 ? 0
                                                         : spec.repeats + 1);
    const auto coalesced = Coalesced(file, spec.screenWidth, spec.screenHeight);
    ASSERT_EQ(frames.canvases.size(), spec.frames.size());
    ASSERT_EQ(coalesced.size(), spec.frames.size());
    for (size_t f = 0; f < spec.frames.size(); ++f) {
      EXPECT_EQ(frames.delays[f], ExpectedDelay(spec.frames[f].delayCs)) << "frame " << f;
      int mismatches = 0;
      for (size_t i = 0; i < coalesced[f].size(); ++i) {
        mismatches += coalesced[f][i] != frames.canvases[f][i];
      }
      EXPECT_EQ(mismatches, 0) << "frame " << f;
    }
  }
}

// The canvas is the still's (here grown to hold the first frame), so that
// frame 0 is the still; a later frame is cut to it.
TEST(GifAnimation, FirstFrameIsTheStillAndLaterFramesAreCut) {
  const GifSpec spec = {8, 6, -1, {{2, 1, 10, 8, 1, 0, 4}, {5, 5, 9, 9}}};
  const std::vector<uint8_t> file = test::WriteGif(spec).bytes;
  const Frames frames = ReadFrames(file);
  ASSERT_EQ(frames.err, noErr);
  ASSERT_EQ(frames.canvases.size(), 2u);
  EXPECT_EQ(frames.info.width, 12);
  EXPECT_EQ(frames.info.height, 9);
  const test::Decoded still = test::DecodeWith(kGifImporter, file, k32ARGBPixelFormat);
  ASSERT_EQ(still.err, noErr);
  int mismatches = 0;
  for (int y = 0; y < 9; ++y) {
    for (int x = 0; x < 12; ++x) {
      const uint8_t* p = &frames.canvases[0][size_t(y * 12 + x) * 4];
      mismatches += test::Argb(p[0], p[1], p[2], p[3]) != test::ArgbAt(*still.image, x, y);
      const uint8_t* q = &frames.canvases[1][size_t(y * 12 + x) * 4];
      const GifColorType c = test::GifColour(-1, test::GifIndex(1, x - 5, y - 5));
      const uint32_t want = x >= 5 && y >= 5 ? test::Argb(255, c.Red, c.Green, c.Blue)
                                             : test::Argb(p[0], p[1], p[2], p[3]);
      mismatches += test::Argb(q[0], q[1], q[2], q[3]) != want;
    }
  }
  EXPECT_EQ(mismatches, 0);
}

// A frame cut short or whose data is damaged (an end code among its first
// codes), or a record cut short after a whole frame, is codecErr: never an
// animation cut short; a file that ends between records, or whose last
// frame misses only its empty block and the trailer, is whole, as for the
// still.
TEST(GifAnimation, DamagedFrames) {
  const test::WrittenGif gif = test::WriteGif(kCases[0]);
  const std::vector<uint8_t>& whole = gif.bytes;
  const Frames all = ReadFrames(whole);
  ASSERT_EQ(all.err, noErr);
  std::vector<uint8_t> damaged = whole;
  damaged[gif.dataStart[2]] = 0x11;  // 4-bit colours: 5-bit codes, and 17 ends the data
  const Frames bad = ReadFrames(damaged);
  EXPECT_EQ(bad.err, codecErr);
  EXPECT_EQ(bad.canvases.size(), 2u);
  for (size_t size : {gif.frameEnd.back() - 5, gif.dataStart[3] + 5, gif.frameEnd[3] + 3}) {
    const std::vector<uint8_t> cut(whole.begin(), whole.begin() + long(size));
    EXPECT_EQ(ReadFrames(cut).err, codecErr) << size;
  }
  const Frames unclosed = ReadFrames(std::vector<uint8_t>(whole.begin(), whole.end() - 2));
  ASSERT_EQ(unclosed.err, noErr);
  EXPECT_EQ(unclosed.canvases, all.canvases);
  const Frames ended =
      ReadFrames(std::vector<uint8_t>(whole.begin(), whole.begin() + long(gif.frameEnd[3])));
  ASSERT_EQ(ended.err, noErr);
  EXPECT_EQ(ended.info.frameCount, 4);
  ASSERT_EQ(ended.canvases.size(), 4u);
  EXPECT_EQ(ended.canvases[3], all.canvases[3]);
}

// Before the canvas is allocated: a vast screen around a small frame is
// refused as for the still, and the canvas, with the copy that a frame
// disposed of by restoring needs, must fit in memory.
TEST(GifAnimation, CanvasRefusedBeforeItIsAllocated) {
  std::unique_ptr<AnimationReader> reader;
  const GifSpec vast = {40000, 40000, -1, {{0, 0, 16, 16}, {0, 0, 16, 16}}};
  EXPECT_EQ(kGifImporter.openAnimation(Span(test::WriteGif(vast).bytes), &reader), codecErr);
  EXPECT_EQ(reader, nullptr);
  const std::vector<uint8_t> restoring = test::WriteGif(kCases[0]).bytes;
  const std::vector<uint8_t> plain = test::WriteGif(kCases[3]).bytes;
  OverridePhysicalMemoryBytes(HeldPixelBytes() + 24 * 16 * 4 + 64);
  EXPECT_EQ(kGifImporter.openAnimation(Span(restoring), &reader), memFullErr);
  EXPECT_EQ(reader, nullptr);
  EXPECT_EQ(kGifImporter.openAnimation(Span(plain), &reader), noErr);
  OverridePhysicalMemoryBytes(0);
}

}  // namespace
