#include <gtest/gtest.h>

#include <webp/decode.h>
#include <webp/demux.h>
#include <webp/encode.h>

#include <random>
#include <string>
#include <vector>

#include "base/memory_limit.h"
#include "base/memory_limit_seam.h"
#include "codecs/format_test_util.h"
#include "codecs/webp/webp_codec.h"

namespace {

using test::ArgbAt;
using test::DecodeWith;
using test::EncodeWith;
using test::FormatFile;
using test::Span;

TEST(WebpCodec, IdentityAndSniff) {
  EXPECT_EQ(kWebpImporter.format->subtype, FourCC("WEBP"));
  EXPECT_EQ(kWebpExporter.format->subtype, FourCC("WEBP"));
  EXPECT_EQ(DefaultExtension(*kWebpExporter.format), FourCC("webp"));
  const int v = WebPGetDecoderVersion();
  const std::string expected = "WebP (libwebp " + std::to_string(v >> 16) + "." +
                               std::to_string((v >> 8) & 255) + "." + std::to_string(v & 255) + ")";
  EXPECT_EQ(expected, "WebP (libwebp 1.2.4)");  // the version this machine has
  EXPECT_EQ(kWebpImporter.name(), expected);
  EXPECT_TRUE(kWebpImporter.sniff(Span(FormatFile("rgb_lossy.webp"))));
  EXPECT_TRUE(kWebpImporter.sniff(Span(FormatFile("animated.webp"))));
  EXPECT_FALSE(kWebpImporter.sniff(Span(FormatFile("rgb8_none.tif"))));
  const std::vector<uint8_t> riffWave = {'R', 'I', 'F', 'F', 0, 0, 0, 0, 'W', 'A', 'V', 'E'};
  EXPECT_FALSE(kWebpImporter.sniff(Span(riffWave)));
}

// Files written by cwebp from ref.ppm and ref_rgba.pam.
TEST(WebpCodec, CommittedFilesMatchTheirReference) {
  const test::Reference rgb = test::ReadNetpbm("ref.ppm");
  const test::Reference rgba = test::ReadNetpbm("ref_rgba.pam");
  struct Case {
    const char* file;
    const test::Reference* ref;
    bool lossless;
  } cases[] = {{"rgb_lossless.webp", &rgb, true},
               {"rgba_lossless.webp", &rgba, true},
               {"rgb_lossy.webp", &rgb, false},
               {"rgba_lossy.webp", &rgba, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    test::Decoded d = DecodeWith(kWebpImporter, FormatFile(c.file), k32ARGBPixelFormat);
    ASSERT_EQ(d.err, noErr);
    EXPECT_EQ(d.header.width, 24);
    EXPECT_EQ(d.header.height, 16);
    EXPECT_EQ(d.header.preferredPixelFormat, 0u);
    if (c.lossless) {
      EXPECT_EQ(test::Mismatches(*d.image, *c.ref), 0);
    } else {
      // The blue channel is noise that lossy coding cannot follow; the
      // pixels must be those of libwebp's one-shot decoder.
      EXPECT_GT(test::PsnrAgainst(*d.image, *c.ref), 15.0);
      std::vector<uint8_t> file = FormatFile(c.file);
      int w = 0, h = 0;
      uint8_t* rgba = WebPDecodeRGBA(file.data(), file.size(), &w, &h);
      ASSERT_NE(rgba, nullptr);
      int mismatches = 0;
      for (int i = 0; i < w * h; ++i) {
        const uint8_t* p = rgba + 4 * i;
        mismatches += ArgbAt(*d.image, i % w, i / w) != test::Argb(p[3], p[0], p[1], p[2]);
      }
      WebPFree(rgba);
      EXPECT_EQ(mismatches, 0);
      // cwebp codes alpha losslessly by default.
      int alphaMismatches = 0;
      for (int y = 0; y < 16; ++y) {
        for (int x = 0; x < 24; ++x)
          alphaMismatches += (ArgbAt(*d.image, x, y) ^ c.ref->At(x, y)) >> 24 != 0;
      }
      EXPECT_EQ(alphaMismatches, 0);
    }
  }
}

// img2webp of ref.ppm then ref_inverted.ppm: the first frame is ref.ppm.
TEST(WebpCodec, AnimationGivesItsFirstFrame) {
  test::Decoded d = DecodeWith(kWebpImporter, FormatFile("animated.webp"), k32ARGBPixelFormat);
  ASSERT_EQ(d.err, noErr);
  EXPECT_EQ(d.header.width, 24);
  EXPECT_EQ(d.header.height, 16);
  EXPECT_EQ(test::Mismatches(*d.image, test::ReadNetpbm("ref.ppm")), 0);
}

// Frames as a viewer shows them, bytes A, R, G, B (animated.webp's second
// is ref.ppm inverted); a still is one frame. The three canvases the
// reader holds must fit before any is allocated.
TEST(WebpCodec, AnimationFrameByFrame) {
  const test::Reference ref = test::ReadNetpbm("ref.ppm");
  for (const char* name : {"animated.webp", "rgb_lossless.webp"}) {
    SCOPED_TRACE(name);
    const int32_t frames = name[0] == 'a' ? 2 : 1;
    const std::vector<uint8_t> file = FormatFile(name);
    std::unique_ptr<AnimationReader> reader;
    ASSERT_EQ(kWebpImporter.openAnimation(Span(file), &reader), noErr);
    EXPECT_EQ(reader->Info().width, 24);
    EXPECT_EQ(reader->Info().height, 16);
    EXPECT_EQ(reader->Info().frameCount, frames);
    EXPECT_EQ(reader->Info().loopCount, frames > 1 ? 0 : 1);  // a still plays once
    for (int32_t frame = 0; frame < frames; ++frame) {
      PixelView canvas;
      FrameInfo info{-1, {}};
      ASSERT_EQ(reader->NextFrame(&canvas, &info), noErr);
      const uint32_t flip = frame == 0 ? 0 : 0x00FFFFFFu;
      int mismatches = 0;
      for (int32_t y = 0; y < 16; ++y) {
        for (int32_t x = 0; x < 24; ++x) {
          const uint8_t* p = canvas.base + y * canvas.rowBytes + 4 * x;
          mismatches += test::Argb(p[0], p[1], p[2], p[3]) != (ref.At(x, y) ^ flip);
        }
      }
      EXPECT_EQ(mismatches, 0) << "frame " << frame;
      if (frames > 1) {
        EXPECT_EQ(info.delayMs, 100);
      }
    }
    PixelView canvas;
    FrameInfo info;
    EXPECT_EQ(reader->NextFrame(&canvas, &info), eofErr);

    OverridePhysicalMemoryBytes(HeldPixelBytes() + 24 * 16 * 4 * 2);
    EXPECT_EQ(kWebpImporter.openAnimation(Span(file), &reader), memFullErr);
    EXPECT_EQ(reader, nullptr);
    OverridePhysicalMemoryBytes(0);
  }
}

// Each delay is its frame's own even after the frames' end times pass 2^31 ms.
TEST(WebpCodec, AnimationDelaysPastTwoToThe31Ms) {
  const std::vector<uint8_t> file =
      test::ReadFileBytes(test::DataPath("limits/webp_130_frames_longest_delay.webp"));
  std::unique_ptr<AnimationReader> reader;
  ASSERT_EQ(kWebpImporter.openAnimation(Span(file), &reader), noErr);
  ASSERT_EQ(reader->Info().frameCount, 130);
  std::vector<int32_t> delays;
  PixelView canvas;
  FrameInfo frame;
  while (reader->NextFrame(&canvas, &frame) == noErr) delays.push_back(frame.delayMs);
  EXPECT_EQ(delays, std::vector<int32_t>(130, 16777215));
}

// Every frame given is in the file with its own delay, even one that
// repeats its predecessor (which libwebp's encoder merges into it: exact
// repeats, and lossy ones within its tolerance, pattern 10 being pattern 0
// with one sample 1 higher), and even when every frame is the same.
TEST(WebpCodec, AnimationKeepsEveryFrameAndDelay) {
  struct Case {
    std::vector<int> patterns;  // each frame's picture
    std::vector<int32_t> delays;
    int32_t quality;
  } cases[] = {{{0, 1, 1, 2}, {40, 60, 0, 80}, 1024},
               {{0, 1, 1, 2}, {40, 60, 30, 80}, 700},
               {{0, 0, 0}, {100, 100, 50}, 1024},
               {{0, 1}, {20, 30}, 1024},
               {{0, 10, 10, 0, 1}, {30, 40, 0, 50, 60}, 600}};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.quality << " " << c.delays.size());
    AnimationRequest request;
    request.info = {20, 14, 0, 7};
    request.quality = c.quality;
    std::unique_ptr<AnimationWriter> writer;
    ASSERT_EQ(kWebpExporter.startAnimation(request, &writer), noErr);
    for (size_t i = 0; i < c.delays.size(); ++i) {
      std::vector<uint8_t> canvas(20 * 14 * 4);
      for (size_t k = 0; k < canvas.size(); ++k) canvas[k] = uint8_t(k * (c.patterns[i] % 10 + 3));
      canvas[401] += c.patterns[i] / 10;
      const PixelView view{canvas.data(), 20 * 4, 20, 14, k32ARGBPixelFormat, 32};
      ASSERT_EQ(writer->AddFrame(view, c.delays[i]), noErr);
    }
    std::vector<uint8_t> file;
    ASSERT_EQ(writer->Finish(&file), noErr);
    const WebPData data = {file.data(), file.size()};
    WebPAnimDecoderOptions options;
    WebPAnimDecoderOptionsInit(&options);
    WebPAnimDecoder* decoder = WebPAnimDecoderNew(&data, &options);
    ASSERT_NE(decoder, nullptr);
    WebPAnimInfo info;
    WebPAnimDecoderGetInfo(decoder, &info);
    EXPECT_EQ(info.loop_count, 7u);
    std::vector<int32_t> delays;
    std::vector<std::vector<uint8_t>> canvases;
    int previous = 0;
    while (WebPAnimDecoderHasMoreFrames(decoder)) {
      uint8_t* rgba = nullptr;
      int timestamp = 0;
      ASSERT_TRUE(WebPAnimDecoderGetNext(decoder, &rgba, &timestamp));
      delays.push_back(timestamp - previous);
      canvases.emplace_back(rgba, rgba + 20 * 14 * 4);
      previous = timestamp;
    }
    WebPAnimDecoderDelete(decoder);
    EXPECT_EQ(delays, c.delays);
    ASSERT_EQ(canvases.size(), c.patterns.size());
    for (size_t i = 1; i < canvases.size(); ++i) {
      EXPECT_EQ(canvases[i] == canvases[i - 1], c.patterns[i] % 10 == c.patterns[i - 1] % 10) << i;
    }
  }
}

// Blocks that come and go on a clear canvas (the encoder disposes of
// sub-frames to the background, or draws them unblended): the reader's
// canvas is the written frame each time, though it converts only what it
// says changed.
TEST(WebpCodec, AnimationOfSmallChangesReadsBackExactly) {
  constexpr int32_t kWidth = 40, kHeight = 30, kFrames = 12;
  AnimationRequest request;
  request.info = {kWidth, kHeight, 0, 0};
  request.quality = 1024;
  std::unique_ptr<AnimationWriter> writer;
  ASSERT_EQ(kWebpExporter.startAnimation(request, &writer), noErr);
  std::mt19937 rng(5);
  std::vector<uint8_t> canvas(kWidth * kHeight * 4, 0);
  std::vector<std::vector<uint8_t>> written;
  PixelRect drawn;
  for (int32_t f = 0; f < kFrames; ++f) {
    auto paint = [&canvas](const PixelRect& r, uint32_t argb) {
      for (int32_t y = r.top; y < r.bottom; ++y) {
        for (int32_t x = r.left; x < r.right; ++x) {
          for (int c = 0; c < 4; ++c)
            canvas[(y * kWidth + x) * 4 + c] = uint8_t(argb >> (24 - 8 * c));
        }
      }
    };
    // Most frames take back the block before and draw one elsewhere.
    if (f % 4 != 3) paint(drawn, 0);
    const int32_t left = int32_t(rng() % 30), top = int32_t(rng() % 20);
    drawn = {left, top, left + 2 + int32_t(rng() % 9), top + 2 + int32_t(rng() % 9)};
    paint(drawn, 0xFF000000u | uint32_t(rng() & 0xFFFFFF));
    written.push_back(canvas);
    const PixelView view{canvas.data(), kWidth * 4, kWidth, kHeight, k32ARGBPixelFormat, 32};
    ASSERT_EQ(writer->AddFrame(view, 50), noErr);
  }
  std::vector<uint8_t> file;
  ASSERT_EQ(writer->Finish(&file), noErr);
  std::unique_ptr<AnimationReader> reader;
  ASSERT_EQ(kWebpImporter.openAnimation(Span(file), &reader), noErr);
  for (int32_t f = 0; f < kFrames; ++f) {
    PixelView read;
    FrameInfo frame;
    ASSERT_EQ(reader->NextFrame(&read, &frame), noErr);
    const std::vector<uint8_t> got(read.base, read.base + read.rowBytes * read.height);
    EXPECT_EQ(got, written[size_t(f)]) << "frame " << f;
    if (f > 0) {
      EXPECT_LT(frame.changed.Width(), kWidth) << "frame " << f;
    }
  }
}

// Frames whose end times pass 2^31 ms, repeats whose delays add up to 2^24
// ms or more, and a delay beyond the 2^24 ms a WebP frame holds: written,
// with each frame's duration as the file's frame headers say.
TEST(WebpCodec, AnimationTimesBeyondTheEncodersInts) {
  constexpr int32_t kLongest = 16777215;  // a WebP frame's longest duration
  struct Case {
    const char* what;
    std::vector<int> patterns;     // each frame's picture
    std::vector<int32_t> delays;   // as given; empty: kLongest each
    std::vector<int32_t> written;  // the file's durations; empty: the delays
  } cases[] = {
      {"200 frames ending past 2^31 ms", std::vector<int>(200), {}, {}},
      {"repeats of the longest delay", {0, 0, 1, 1, 1, 0}, {}, {}},
      // The encoder spreads the excess over frames of one transparent pixel.
      {"one delay beyond a frame's longest",
       {0, 1},
       {40000000, 30},
       {kLongest, kLongest, 40000000 - 2 * kLongest, 30}},
  };
  for (size_t i = 0; i < 200; i += 2) cases[0].patterns[i] = 1;
  for (Case& c : cases) {
    SCOPED_TRACE(c.what);
    if (c.delays.empty()) c.delays.assign(c.patterns.size(), kLongest);
    if (c.written.empty()) c.written = c.delays;
    AnimationRequest request;
    request.info = {4, 2, 0, 0};
    request.quality = 1024;
    std::unique_ptr<AnimationWriter> writer;
    ASSERT_EQ(kWebpExporter.startAnimation(request, &writer), noErr);
    for (size_t i = 0; i < c.patterns.size(); ++i) {
      std::vector<uint8_t> canvas(4 * 2 * 4, uint8_t(0xFF));
      canvas[5] = uint8_t(c.patterns[i] * 200);
      const PixelView view{canvas.data(), 4 * 4, 4, 2, k32ARGBPixelFormat, 32};
      ASSERT_EQ(writer->AddFrame(view, c.delays[i]), noErr) << i;
    }
    std::vector<uint8_t> file;
    ASSERT_EQ(writer->Finish(&file), noErr);
    const WebPData data = {file.data(), file.size()};
    WebPDemuxer* demux = WebPDemux(&data);
    ASSERT_NE(demux, nullptr);
    std::vector<int32_t> durations;
    WebPIterator frame;
    for (bool more = WebPDemuxGetFrame(demux, 1, &frame); more; more = WebPDemuxNextFrame(&frame)) {
      durations.push_back(frame.duration);
    }
    WebPDemuxReleaseIterator(&frame);
    WebPDemuxDelete(demux);
    EXPECT_EQ(durations, c.written);
  }
}

TEST(WebpCodec, RoundTrips) {
  test::OwnedGWorld source = test::MakeTestPicture(45, 31, /*varyAlpha=*/true);
  struct Case {
    int32_t quality, depth;
  } cases[] = {{1024, 24}, {1024, 32}, {2000, 32}, {900, 24}, {900, 32}, {300, 24}};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.quality << " " << c.depth);
    OSErr err = 1;
    std::vector<uint8_t> file = EncodeWith(kWebpExporter, *source, c.quality, c.depth, &err);
    ASSERT_EQ(err, noErr);
    WebPBitstreamFeatures features;
    ASSERT_EQ(WebPGetFeatures(file.data(), file.size(), &features), VP8_STATUS_OK);
    EXPECT_EQ(features.format, c.quality >= 1024 ? 2 : 1);  // 2 lossless, 1 lossy
    EXPECT_EQ(features.has_alpha != 0, c.depth == 32);
    test::Decoded d = DecodeWith(kWebpImporter, file, k32ARGBPixelFormat);
    ASSERT_EQ(d.err, noErr);
    EXPECT_EQ(d.header.width, 45);
    EXPECT_EQ(d.header.height, 31);
    EXPECT_EQ(d.header.preferredPixelFormat, 0u);
    int mismatches = 0, alphaMismatches = 0;
    for (int y = 0; y < 31; ++y) {
      for (int x = 0; x < 45; ++x) {
        const uint32_t want = ArgbAt(*source, x, y) | (c.depth == 32 ? 0 : 0xFF000000u);
        mismatches += ArgbAt(*d.image, x, y) != want;
        alphaMismatches += ArgbAt(*d.image, x, y) >> 24 != want >> 24;
      }
    }
    if (c.quality >= 1024) {
      EXPECT_EQ(mismatches, 0);  // colour under transparent pixels too
    } else {
      EXPECT_EQ(alphaMismatches, 0);
      EXPECT_GT(test::RgbPsnr(*source, *d.image), c.quality >= 900 ? 35.0 : 28.0);
    }
  }
}

// /q reaches libwebp as round(q * 100 / 1023): 895, 900 and 905 come to
// 87.49, 87.98 and 88.47, and each file is libwebp's own at the whole
// percent. 1023 is still lossy; 1024 is lossless.
TEST(WebpCodec, QualityIsRoundedToAWholePercent) {
  test::OwnedGWorld source = test::MakeTestPicture(64, 48);
  std::vector<uint8_t> rgb;
  for (int y = 0; y < 48; ++y) {
    for (int x = 0; x < 64; ++x) {
      const uint32_t argb = ArgbAt(*source, x, y);
      rgb.insert(rgb.end(), {uint8_t(argb >> 16), uint8_t(argb >> 8), uint8_t(argb)});
    }
  }
  const struct {
    int32_t quality;
    float percent;
  } cases[] = {{895, 87}, {900, 88}, {905, 88}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.quality);
    OSErr err = 1;
    const std::vector<uint8_t> file = EncodeWith(kWebpExporter, *source, c.quality, 24, &err);
    ASSERT_EQ(err, noErr);
    uint8_t* encoded = nullptr;
    const size_t size = WebPEncodeRGB(rgb.data(), 64, 48, 64 * 3, c.percent, &encoded);
    const std::vector<uint8_t> reference(encoded, encoded + size);
    WebPFree(encoded);
    EXPECT_EQ(file, reference);
  }
  for (int32_t quality : {1023, 1024}) {
    const std::vector<uint8_t> file = EncodeWith(kWebpExporter, *source, quality, 24);
    WebPBitstreamFeatures features;
    ASSERT_EQ(WebPGetFeatures(file.data(), file.size(), &features), VP8_STATUS_OK);
    EXPECT_EQ(features.format, quality >= 1024 ? 2 : 1) << quality;  // 2 lossless, 1 lossy
  }
}

// 16-bit buffers are written with 8 bits; grey depths as grey colour.
TEST(WebpCodec, SixteenBitAndGreySources) {
  test::OwnedGWorld deep = test::MakeGWorld(k64ARGBPixelFormat, 2, 1);
  const uint16_t samples[2][4] = {{0xFFFF, 0x8000, 0x0101, 0xFEFF}, {0x4000, 0x1234, 0xABCD, 0}};
  for (int x = 0; x < 2; ++x) {
    for (int c = 0; c < 4; ++c) test::SetSample16(*deep, x, 0, c, samples[x][c]);
  }
  std::vector<uint8_t> file = EncodeWith(kWebpExporter, *deep, 1024, 32);
  test::Decoded d = DecodeWith(kWebpImporter, file, k32ARGBPixelFormat);
  ASSERT_EQ(d.err, noErr);
  // A, R, G, B rounded to nearest: 0x8000 -> 128, 0x0101 -> 1, 0xFEFF -> 254,
  // 0x4000 -> 64, 0x1234 -> 18, 0xABCD -> 171.
  EXPECT_EQ(ArgbAt(*d.image, 0, 0), test::Argb(255, 128, 1, 254));
  EXPECT_EQ(ArgbAt(*d.image, 1, 0), test::Argb(64, 18, 171, 0));

  test::OwnedGWorld colour = test::MakeGWorld(k32ARGBPixelFormat, 1, 1);
  test::SetArgb(*colour, 0, 0, 0xFFFF0000u);
  test::Decoded grey =
      DecodeWith(kWebpImporter, EncodeWith(kWebpExporter, *colour, 1024, 8), k32ARGBPixelFormat);
  ASSERT_EQ(grey.err, noErr);
  EXPECT_EQ(ArgbAt(*grey.image, 0, 0), test::Argb(255, 76, 76, 76));
}

// A still image cut short, damaged coding or a cut inside the headers fails.
TEST(WebpCodec, DamagedInput) {
  test::OwnedGWorld source = test::MakeTestPicture(64, 96);
  const std::vector<uint8_t> whole = EncodeWith(kWebpExporter, *source, 900, 24);
  test::Decoded full = DecodeWith(kWebpImporter, whole, k32ARGBPixelFormat);
  ASSERT_EQ(full.err, noErr);

  const std::string printed = test::StderrOf([&] {
    EXPECT_EQ(DecodeWith(kWebpImporter, test::Truncated(whole, 0.6), k32ARGBPixelFormat).err,
              codecErr);

    ImageHeader header;
    std::vector<uint8_t> headerOnly(whole.begin(), whole.begin() + 16);
    EXPECT_EQ(kWebpImporter.readHeader(Span(headerOnly), &header), codecErr);
    // Lossless data with its entropy codes overwritten.
    std::vector<uint8_t> scrambled = EncodeWith(kWebpExporter, *source, 1024, 24);
    for (size_t i = 25; i < scrambled.size(); ++i) scrambled[i] = uint8_t(i * 37);
    EXPECT_EQ(DecodeWith(kWebpImporter, scrambled, k32ARGBPixelFormat).err, codecErr);
    EXPECT_EQ(DecodeWith(kWebpImporter, test::Truncated(FormatFile("animated.webp"), 0.7),
                         k32ARGBPixelFormat)
                  .err,
              codecErr);
  });
  EXPECT_EQ(printed, "");
}

}  // namespace
