// "//animated" run by the real program on animated WebP files made here
// with libwebp's encoder, GIFs with giflib's and JPEG XL files with libjxl's: every frame, its
// delay and the loop count reach the output; each lossless frame is the
// still resize of the composited source frame; a damaged animation writes
// nothing.
#include <gtest/gtest.h>
#include <webp/demux.h>
#include <webp/encode.h>
#include <webp/mux.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "codecs/gif/gif_files.h"
#include "codecs/gif/gif_frames.h"
#include "jxl_animation_file.h"
#include "test_support.h"

namespace {

struct Frame {
  std::vector<uint8_t> rgba;
  int delayMs = 0;
};
struct Animation {
  int width = 0;
  int height = 0;
  int loopCount = 0;
  std::vector<Frame> frames;  // composited, as a viewer shows them
};

// Frame i of a w x h pattern: a gradient that moves, a square that only
// some frames repaint, and a transparent band, so that the encoder has
// both whole and partial changes to find.
std::vector<uint8_t> Pattern(int w, int h, int i) {
  std::vector<uint8_t> rgba(size_t(w) * h * 4);
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      uint8_t* p = &rgba[(size_t(y) * w + x) * 4];
      const bool square = x >= 4 && x < 16 && y >= 4 && y < 16;
      p[0] = uint8_t(square ? 200 : (x * 7 + i * 40) & 255);
      p[1] = uint8_t(square ? 30 * (i / 2) : y * 9);
      p[2] = uint8_t((x + y) * 3);
      p[3] = uint8_t(y >= h - 5 ? 0 : y >= h - 8 ? 128 : 255);
    }
  }
  return rgba;
}

// A lossless still that keeps the colour under transparent pixels.
std::vector<uint8_t> EncodeStill(const std::vector<uint8_t>& rgba, int width, int height) {
  WebPConfig config;
  WebPConfigInit(&config);
  config.lossless = 1;
  config.exact = 1;
  WebPPicture picture;
  WebPPictureInit(&picture);
  picture.width = width;
  picture.height = height;
  picture.use_argb = 1;
  WebPPictureImportRGBA(&picture, rgba.data(), width * 4);
  WebPMemoryWriter writer;
  WebPMemoryWriterInit(&writer);
  picture.writer = WebPMemoryWrite;
  picture.custom_ptr = &writer;
  EXPECT_TRUE(WebPEncode(&config, &picture));
  std::vector<uint8_t> file(writer.mem, writer.mem + writer.size);
  WebPMemoryWriterClear(&writer);
  WebPPictureFree(&picture);
  return file;
}

std::vector<uint8_t> EncodeAnimation(const Animation& a) {
  WebPAnimEncoderOptions options;
  WebPAnimEncoderOptionsInit(&options);
  options.anim_params.loop_count = a.loopCount;
  WebPAnimEncoder* encoder = WebPAnimEncoderNew(a.width, a.height, &options);
  WebPConfig config;
  WebPConfigInit(&config);
  config.lossless = 1;
  config.exact = 1;
  int timestamp = 0;
  for (const Frame& f : a.frames) {
    WebPPicture picture;
    WebPPictureInit(&picture);
    picture.width = a.width;
    picture.height = a.height;
    picture.use_argb = 1;
    WebPPictureImportRGBA(&picture, f.rgba.data(), a.width * 4);
    EXPECT_TRUE(WebPAnimEncoderAdd(encoder, &picture, timestamp, &config));
    WebPPictureFree(&picture);
    timestamp += f.delayMs;
  }
  WebPAnimEncoderAdd(encoder, nullptr, timestamp, nullptr);
  WebPData data;
  WebPDataInit(&data);
  EXPECT_TRUE(WebPAnimEncoderAssemble(encoder, &data));
  std::vector<uint8_t> file(data.bytes, data.bytes + data.size);
  WebPDataClear(&data);
  WebPAnimEncoderDelete(encoder);
  return file;
}

// Every frame composited, with its delay; false when libwebp refuses the file.
bool DecodeAnimation(const std::vector<uint8_t>& file, Animation* a) {
  const WebPData data{file.data(), file.size()};
  WebPAnimDecoderOptions options;
  WebPAnimDecoderOptionsInit(&options);
  options.color_mode = MODE_RGBA;
  WebPAnimDecoder* decoder = WebPAnimDecoderNew(&data, &options);
  if (decoder == nullptr) return false;
  WebPAnimInfo info;
  WebPAnimDecoderGetInfo(decoder, &info);
  *a = {int(info.canvas_width), int(info.canvas_height), int(info.loop_count), {}};
  int previous = 0;
  bool good = true;
  while (good && WebPAnimDecoderHasMoreFrames(decoder)) {
    uint8_t* rgba = nullptr;
    int timestamp = 0;
    good = WebPAnimDecoderGetNext(decoder, &rgba, &timestamp) != 0;
    if (good) {
      a->frames.push_back({{rgba, rgba + size_t(a->width) * a->height * 4}, timestamp - previous});
    }
    previous = timestamp;
  }
  WebPAnimDecoderDelete(decoder);
  return good;
}

// The same animation as a lossless JPEG XL of whole frames.
std::vector<uint8_t> EncodeJxl(const Animation& a) {
  test::JxlAnimation jxl;
  jxl.width = a.width;
  jxl.height = a.height;
  jxl.loops = uint32_t(a.loopCount);
  for (const Frame& f : a.frames) {
    jxl.frames.push_back({0, 0, a.width, a.height, uint32_t(f.delayMs), f.rgba});
  }
  return test::EncodeJxlAnimation(jxl);
}

std::vector<uint8_t> WithIcc(const std::vector<uint8_t>& file, const std::vector<uint8_t>& icc) {
  const WebPData data{file.data(), file.size()};
  WebPMux* mux = WebPMuxCreate(&data, 1);
  const WebPData profile{icc.data(), icc.size()};
  EXPECT_EQ(WebPMuxSetChunk(mux, "ICCP", &profile, 1), WEBP_MUX_OK);
  WebPData assembled;
  WebPDataInit(&assembled);
  EXPECT_EQ(WebPMuxAssemble(mux, &assembled), WEBP_MUX_OK);
  std::vector<uint8_t> tagged(assembled.bytes, assembled.bytes + assembled.size);
  WebPDataClear(&assembled);
  WebPMuxDelete(mux);
  return tagged;
}

bool HasIcc(const std::vector<uint8_t>& file) {
  const WebPData data{file.data(), file.size()};
  WebPDemuxer* demux = WebPDemux(&data);
  const bool has = demux != nullptr && (WebPDemuxGetI(demux, WEBP_FF_FORMAT_FLAGS) & ICCP_FLAG);
  WebPDemuxDelete(demux);
  return has;
}

bool IsAnimated(const std::vector<uint8_t>& file) {
  const WebPData data{file.data(), file.size()};
  WebPDemuxer* demux = WebPDemux(&data);
  const bool animated =
      demux != nullptr && (WebPDemuxGetI(demux, WEBP_FF_FORMAT_FLAGS) & ANIMATION_FLAG);
  WebPDemuxDelete(demux);
  return animated;
}

class AnimatedRun : public ::testing::Test {
 protected:
  void SetUp() override {
    source_ = {48, 36, 3, {}};
    const int delays[] = {100, 40, 250, 70, 500};
    for (int i = 0; i < 5; ++i) source_.frames.push_back({Pattern(48, 36, i), delays[i]});
    file_ = EncodeAnimation(source_);
    test::WriteFileBytes(dir_ / "in.webp", file_);
  }
  test::RunResult Run(std::vector<std::string> args) {
    return test::RunTavrel(args, dir_.path().string());
  }
  bool Exists(const std::string& name) { return std::filesystem::exists(dir_ / name); }

  test::TempDir dir_;
  Animation source_;
  std::vector<uint8_t> file_;
};

// A little-endian TIFF block of one Orientation entry, as a WebP "EXIF"
// chunk holds it.
std::vector<uint8_t> OrientationExif(uint8_t orientation) {
  return {'I', 'I', 42, 0, 8, 0,           0, 0, 1, 0, 0x12, 0x01, 3,
          0,   1,   0,  0, 0, orientation, 0, 0, 0, 0, 0,    0,    0};
}

std::vector<uint8_t> WithChunk(const std::vector<uint8_t>& file, const char* fourcc,
                               const std::vector<uint8_t>& chunk) {
  if (chunk.empty()) return file;
  const WebPData data{file.data(), file.size()};
  WebPMux* mux = WebPMuxCreate(&data, 1);
  const WebPData bytes{chunk.data(), chunk.size()};
  EXPECT_EQ(WebPMuxSetChunk(mux, fourcc, &bytes, 1), WEBP_MUX_OK);
  WebPData assembled;
  WebPDataInit(&assembled);
  EXPECT_EQ(WebPMuxAssemble(mux, &assembled), WEBP_MUX_OK);
  std::vector<uint8_t> tagged(assembled.bytes, assembled.bytes + assembled.size);
  WebPDataClear(&assembled);
  WebPMuxDelete(mux);
  return tagged;
}

// An animation as a GIF (giflib's), with the frames a viewer shows.
Animation GifAnimation(std::vector<uint8_t>* file) {
  const test::GifSpec spec = {
      30, 20, 2, {{0, 0, 30, 20, 1, 12}, {4, 4, 10, 8, 2, 25, 3, true}, {8, 2, 12, 12, 0, 7}}};
  *file = test::WriteGif(spec).bytes;
  test::GifFrames gif;
  EXPECT_TRUE(test::ReadGifFrames(*file, &gif));
  Animation a{gif.width, gif.height, gif.repeats + 1, {}};
  for (const test::GifFrames::Frame& f : gif.frames) {
    std::vector<uint8_t> rgba;
    for (uint32_t p : f.argb) {
      rgba.insert(rgba.end(), {uint8_t(p >> 16), uint8_t(p >> 8), uint8_t(p), uint8_t(p >> 24)});
    }
    a.frames.push_back({rgba, f.delayCs * 10});
  }
  return a;
}

// Each output's frames, read from the files the run wrote: name holds
// "{size}" where "//sizes" names several.
std::vector<Animation> Outputs(const test::TempDir& dir, const std::string& name,
                               const std::vector<std::string>& sizes) {
  std::vector<Animation> outputs;
  for (const std::string& w : sizes) {
    std::string path = name;
    if (size_t at = path.find("{size}"); at != std::string::npos) path.replace(at, 6, w);
    outputs.emplace_back();
    EXPECT_TRUE(DecodeAnimation(test::ReadFileBytes(dir / path), &outputs.back())) << path;
  }
  return outputs;
}

struct Geometry {
  std::vector<std::string> args;
  std::vector<std::string> sizes;  // of the outputs, as "//sizes" gives them
};

// Frame k of every animated output is the still run of the same options on
// the composited frame k, whatever reads the frames (WebP, JPEG XL, GIF),
// wherever the samples lie, however the picture is cut, turned or put
// upright, and for every output of "//sizes"; the delays and the loop
// count reach every output.
TEST_F(AnimatedRun, EveryFrameIsTheStillRunOfItsCompositedFrame) {
  std::vector<uint8_t> gif;
  const Animation fromGif = GifAnimation(&gif);
  test::WriteFileBytes(dir_ / "in.gif", gif);
  // Stored on its side: "//upright" turns every frame as it turns a still.
  const std::vector<uint8_t> exif = OrientationExif(6);
  test::WriteFileBytes(dir_ / "in.webp", WithChunk(file_, "EXIF", exif));
  test::WriteFileBytes(dir_ / "in.jxl", EncodeJxl(source_));
  struct Source {
    std::string input;
    const Animation* frames;
    std::vector<uint8_t> exif;
  };
  const Source sources[] = {
      {"in.webp", &source_, exif}, {"in.jxl", &source_, {}}, {"in.gif", &fromGif, {}}};
  const Geometry geometries[] = {
      {{"/w", "24", "/b", "8"}, {"24"}},
      {{"//fit", "20", "20", "/k", "G", "//linear", "//premultiply", "/b", "32"}, {"20"}},
      {{"//fill", "20", "14", "/p", "hwvp", "//background", "204060"}, {"20"}},
      {{"/h", "30", "/r", "90"}, {"30"}},
      {{"//upright", "/w", "22", "/r", "180"}, {"22"}},
      {{"//sizes", "24,13x19", "//upright", "/r", "270", "/b", "32"}, {"24", "13x19"}},
  };
  for (const Source& source : sources) {
    for (bool centred : {false, true}) {
      for (const Geometry& g : geometries) {
        std::vector<std::string> args = g.args;
        if (centred) args.push_back("//centre");
        args.insert(args.end(), {"/q", "101", "/c", "webp", "/o"});
        const std::string many = g.sizes.size() > 1 ? "{size}" : "";
        std::string line = source.input;
        for (const std::string& word : args) line += " " + word;
        SCOPED_TRACE(line);
        std::vector<std::string> animated = args;
        animated.insert(animated.end(), {"a" + many + ".webp", "//animated", source.input});
        const test::RunResult run = Run(animated);
        ASSERT_EQ(run.status, 0) << run.err;
        const std::vector<Animation> outputs = Outputs(dir_, "a" + many + ".webp", g.sizes);
        const Animation& in = *source.frames;
        for (size_t k = 0; k < in.frames.size(); ++k) {
          test::WriteFileBytes(
              dir_ / "frame.webp",
              WithChunk(EncodeStill(in.frames[k].rgba, in.width, in.height), "EXIF", source.exif));
          std::vector<std::string> still = args;
          still.insert(still.end(), {"s" + many + ".webp", "frame.webp"});
          ASSERT_EQ(Run(still).status, 0);
          const std::vector<Animation> stills = Outputs(dir_, "s" + many + ".webp", g.sizes);
          for (size_t o = 0; o < outputs.size(); ++o) {
            ASSERT_EQ(outputs[o].frames.size(), in.frames.size());
            EXPECT_EQ(outputs[o].loopCount, in.loopCount);
            EXPECT_EQ(outputs[o].frames[k].delayMs, in.frames[k].delayMs) << "frame " << k;
            EXPECT_TRUE(stills[o].frames[0].rgba == outputs[o].frames[k].rgba)
                << "output " << o << " frame " << k;
          }
        }
      }
    }
  }
}

// Into GIF: every frame, its delay in centiseconds (rounded so that the
// total keeps), the loop count as repeats after the first showing, and
// each frame close to the same resize written as lossless WebP, with the
// same pixels transparent (alpha below half) as a hole moves over the
// frames, so that pixels turn transparent and the frame before them is
// disposed to the background.
TEST_F(AnimatedRun, GifKeepsEveryFrameDelayAndLoopCount) {
  Animation source = {48, 36, 3, {}};
  const int delays[] = {100, 33, 33, 34, 255};
  for (int i = 0; i < 5; ++i) {
    std::vector<uint8_t> rgba = Pattern(48, 36, i);
    for (int y = 8; y < 20; ++y) {
      for (int x = 6 * i; x < 6 * i + 12; ++x) rgba[(size_t(y) * 48 + x) * 4 + 3] = 0;
    }
    source.frames.push_back({rgba, delays[i]});
  }
  test::WriteFileBytes(dir_ / "hole.webp", EncodeAnimation(source));
  const std::vector<std::string> args = {"/w", "40", "/b", "32", "//animated"};
  auto run = [&](std::vector<std::string> more) {
    more.insert(more.begin(), args.begin(), args.end());
    more.push_back("hole.webp");
    const test::RunResult r = Run(more);
    EXPECT_EQ(r.status, 0) << r.err;
  };
  run({"/c", "gif", "/o", "out.gif"});
  run({"/q", "101", "/c", "webp", "/o", "reference.webp"});
  test::GifFrames gif;
  ASSERT_TRUE(test::ReadGifFrames(test::ReadFileBytes(dir_ / "out.gif"), &gif));
  Animation reference;
  ASSERT_TRUE(DecodeAnimation(test::ReadFileBytes(dir_ / "reference.webp"), &reference));
  EXPECT_EQ(gif.width, 40);
  EXPECT_EQ(gif.height, 30);
  EXPECT_EQ(gif.repeats, 2);
  ASSERT_EQ(gif.frames.size(), 5u);
  ASSERT_EQ(reference.frames.size(), 5u);
  const int delaysCs[] = {10, 3, 4, 3, 26};  // ends at 10, 13, 17, 20, 46
  int disposed = 0;
  for (size_t i = 0; i < 5; ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(gif.frames[i].delayCs, delaysCs[i]);
    disposed += gif.frames[i].disposal == 2;
    int alphaMismatches = 0;
    int64_t difference = 0, opaque = 0;
    for (size_t p = 0; p < gif.frames[i].argb.size(); ++p) {
      const uint8_t* want = &reference.frames[i].rgba[p * 4];
      const uint32_t got = gif.frames[i].argb[p];
      alphaMismatches += (want[3] >= 128) != (got >> 24 == 255);
      if (want[3] < 128 || got >> 24 != 255) continue;
      ++opaque;
      for (int c = 0; c < 3; ++c) difference += std::abs(want[c] - int(got >> (16 - 8 * c) & 255));
    }
    EXPECT_EQ(alphaMismatches, 0);
    EXPECT_LE(double(difference) / double(3 * opaque), 6.0);
  }
  EXPECT_GT(disposed, 0);
}

// A profile is converted to sRGB as a still's is (the first frame of the
// still run is the animation's first), or travels with "/m", the samples
// as stored.
TEST_F(AnimatedRun, ColoursAreMatchedAsForAStill) {
  const std::vector<uint8_t> icc =
      test::ReadFileBytes("/usr/share/color/icc/compatibleWithAdobeRGB1998.icc");
  ASSERT_FALSE(icc.empty());
  test::WriteFileBytes(dir_ / "tagged.webp", WithIcc(file_, icc));
  const std::vector<std::string> size = {"/w", "24", "/q", "101", "/c", "webp", "/o"};
  auto run = [&](std::vector<std::string> args, const std::string& out, const std::string& in) {
    args.insert(args.begin(), size.begin(), size.end());
    args.insert(args.begin() + long(size.size()), out);
    args.push_back(in);
    EXPECT_EQ(Run(args).status, 0) << out;
    Animation a;
    EXPECT_TRUE(DecodeAnimation(test::ReadFileBytes(dir_ / out), &a)) << out;
    return a;
  };
  const Animation plain = run({"//animated"}, "plain.webp", "in.webp");
  const Animation matched = run({"//animated"}, "matched.webp", "tagged.webp");
  const Animation first = run({}, "first.webp", "tagged.webp");
  const Animation kept = run({"//animated", "/m"}, "kept.webp", "tagged.webp");
  ASSERT_EQ(matched.frames.size(), 5u);
  ASSERT_EQ(first.frames.size(), 1u);
  ASSERT_EQ(kept.frames.size(), 5u);
  EXPECT_TRUE(matched.frames[0].rgba == first.frames[0].rgba);
  EXPECT_FALSE(matched.frames[0].rgba == plain.frames[0].rgba);
  EXPECT_FALSE(HasIcc(test::ReadFileBytes(dir_ / "matched.webp")));
  EXPECT_TRUE(kept.frames[2].rgba == plain.frames[2].rgba);
  EXPECT_TRUE(HasIcc(test::ReadFileBytes(dir_ / "kept.webp")));
}

// Without more than one frame to read the run is the still one, byte for
// byte, whatever the options: a still WebP, PNG and JPEG, and a format
// whose codec reads no animation.
TEST_F(AnimatedRun, AStillGivesTheStillOutput) {
  uint8_t* encoded = nullptr;
  const size_t size = WebPEncodeRGBA(source_.frames[0].rgba.data(), 48, 36, 48 * 4, 80, &encoded);
  test::WriteFileBytes(dir_ / "still.webp", std::vector<uint8_t>(encoded, encoded + size));
  WebPFree(encoded);
  ASSERT_EQ(Run({"/w", "24", "/c", "png", "/o", "still.png", "still.webp"}).status, 0);
  std::filesystem::copy_file(test::DataPath("orientation/landscape_6.jpg"), dir_ / "still.jpg");
  for (const std::string input : {"still.webp", "still.png", "still.jpg"}) {
    for (const std::vector<std::string>& options :
         {std::vector<std::string>{"/w", "20", "/o"},
          std::vector<std::string>{"//sizes", "20,13", "//centre", "//upright", "/o"}}) {
      SCOPED_TRACE(input + " " + options[0]);
      const std::string name = options.size() > 3 ? "{w}.webp" : ".webp";
      std::vector<std::string> plain = options, animated = options;
      plain.insert(plain.end(), {"plain" + name, "/c", "webp", input});
      animated.insert(animated.end(), {"animated" + name, "//animated", "/c", "webp", input});
      ASSERT_EQ(Run(plain).status, 0);
      const test::RunResult run = Run(animated);
      ASSERT_EQ(run.status, 0) << run.err;
      for (const std::string& w : {std::string(), std::string("20")}) {
        if (w.empty() == (options.size() > 3)) continue;
        const std::vector<uint8_t> out = test::ReadFileBytes(dir_ / ("animated" + w + ".webp"));
        EXPECT_EQ(out, test::ReadFileBytes(dir_ / ("plain" + w + ".webp")));
        EXPECT_FALSE(IsAnimated(out));
      }
    }
  }
}

// A frame cut short fails the run with the codec's error: no animation cut
// short, no file at all.
TEST_F(AnimatedRun, ADamagedAnimationWritesNothing) {
  ASSERT_TRUE(IsAnimated(file_));
  std::vector<uint8_t> cut(file_.begin(), file_.begin() + file_.size() * 2 / 3);
  test::WriteFileBytes(dir_ / "cut.webp", cut);
  std::vector<uint8_t> damaged = file_;
  // The last frame's image data, after its chunk headers, overwritten.
  for (size_t i = damaged.size() - 40; i < damaged.size(); ++i) damaged[i] ^= 0x5A;
  test::WriteFileBytes(dir_ / "damaged.webp", damaged);
  const std::vector<uint8_t> jxl = EncodeJxl(source_);
  test::WriteFileBytes(dir_ / "cut.jxl", std::vector<uint8_t>(jxl.begin(), jxl.end() - 20));
  for (const std::string input : {"cut.webp", "damaged.webp", "cut.jxl"}) {
    SCOPED_TRACE(input);
    const test::RunResult run =
        Run({"/w", "24", "//animated", "/c", "webp", "/o", "out.webp", input});
    EXPECT_NE(run.status, 0);
    EXPECT_NE(run.err.find("-8969"), std::string::npos) << run.err;
    EXPECT_FALSE(Exists("out.webp"));
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir_.path()), {}), 4);
  }
}

// An animated GIF: its frames, delays (10 ms shown as 100 ms) and loop count
// (3 repeats: 4 plays) reach the WebP, and a GIF; a damaged frame fails the run with
// nothing written; a GIF of one frame gives the still output.
TEST(AnimatedGifRun, FramesDelaysAndLoopReachWebpAndGif) {
  test::TempDir dir;
  const test::GifSpec spec = {
      30, 20, 3, {{0, 0, 30, 20, 1, 1}, {4, 4, 10, 8, 2, 25, 3, true}, {8, 2, 12, 12, 0, 7}}};
  const test::WrittenGif gif = test::WriteGif(spec);
  test::WriteFileBytes(dir / "in.gif", gif.bytes);
  std::vector<uint8_t> damaged = gif.bytes;
  damaged[gif.dataStart[1]] = 0x11;  // an end code among the second frame's first codes
  test::WriteFileBytes(dir / "damaged.gif", damaged);
  const test::GifSpec one = {30, 20, -1, {{2, 2, 20, 12, 0, 10, 5, true}}};
  test::WriteFileBytes(dir / "one.gif", test::WriteGif(one).bytes);
  auto run = [&](const std::string& input, const std::string& output, bool animated) {
    std::vector<std::string> args = {"/w", "15", "/c", "webp", "/o", output, input};
    if (animated) args.insert(args.begin(), "//animated");
    return test::RunTavrel(args, dir.path().string());
  };

  const test::RunResult good = run("in.gif", "out.webp", true);
  ASSERT_EQ(good.status, 0) << good.err;
  Animation out;
  ASSERT_TRUE(DecodeAnimation(test::ReadFileBytes(dir / "out.webp"), &out));
  EXPECT_EQ(out.width, 15);
  EXPECT_EQ(out.height, 10);
  EXPECT_EQ(out.loopCount, 4);
  ASSERT_EQ(out.frames.size(), 3u);
  EXPECT_EQ(out.frames[0].delayMs, 100);
  EXPECT_EQ(out.frames[1].delayMs, 250);
  EXPECT_EQ(out.frames[2].delayMs, 70);
  // And into GIF: the same frames, delays and count of repeats.
  const test::RunResult gifRun = test::RunTavrel(
      {"//animated", "/w", "15", "/c", "gif", "/o", "out.gif", "in.gif"}, dir.path().string());
  ASSERT_EQ(gifRun.status, 0) << gifRun.err;
  test::GifFrames written;
  ASSERT_TRUE(test::ReadGifFrames(test::ReadFileBytes(dir / "out.gif"), &written));
  EXPECT_EQ(written.repeats, 3);
  ASSERT_EQ(written.frames.size(), 3u);
  EXPECT_EQ(written.frames[0].delayCs, 10);
  EXPECT_EQ(written.frames[1].delayCs, 25);
  EXPECT_EQ(written.frames[2].delayCs, 7);

  const test::RunResult bad = run("damaged.gif", "bad.webp", true);
  EXPECT_NE(bad.status, 0);
  EXPECT_NE(bad.err.find("-8969"), std::string::npos) << bad.err;
  EXPECT_FALSE(std::filesystem::exists(dir / "bad.webp"));

  ASSERT_EQ(run("one.gif", "still.webp", false).status, 0);
  ASSERT_EQ(run("one.gif", "animated.webp", true).status, 0);
  EXPECT_EQ(test::ReadFileBytes(dir / "animated.webp"), test::ReadFileBytes(dir / "still.webp"));
}

}  // namespace
