// //web, //no-enlarge and //background through the real program. Outputs are
// decoded with the formats' own libraries (TurboJPEG, libpng, libwebp,
// libheif), never through the program's codecs.
#include <gtest/gtest.h>
#include <libheif/heif.h>
#include <turbojpeg.h>
#include <webp/decode.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "png_files.h"
#include "test_support.h"

namespace {

// A decoded picture as 8-bit RGBA (opaque where the file holds no alpha).
struct Decoded {
  int width = 0;
  int height = 0;
  bool alpha = false;
  int bitDepth = 8;
  std::vector<uint8_t> rgba;
  const uint8_t* At(int x, int y) const { return rgba.data() + (size_t(y) * width + x) * 4; }
};

bool DecodeJpeg(const std::vector<uint8_t>& bytes, Decoded* d) {
  tjhandle handle = tjInitDecompress();
  int subsampling = 0, colourspace = 0;
  bool good = tjDecompressHeader3(handle, bytes.data(), bytes.size(), &d->width, &d->height,
                                  &subsampling, &colourspace) == 0;
  if (good) {
    d->rgba.resize(size_t(d->width) * d->height * 4);
    good = tjDecompress2(handle, bytes.data(), bytes.size(), d->rgba.data(), d->width, 0, d->height,
                         TJPF_RGBA, 0) == 0;
  }
  tjDestroy(handle);
  return good;
}

bool DecodePng(const std::filesystem::path& path, Decoded* d) {
  test::PngPixels p;
  if (!test::ReadPng(path, &p)) return false;
  d->width = p.width;
  d->height = p.height;
  d->alpha = p.channels == 4;
  d->bitDepth = p.bitDepth;
  const int shift = p.bitDepth == 16 ? 8 : 0;
  for (int32_t y = 0; y < p.height; ++y) {
    for (int32_t x = 0; x < p.width; ++x) {
      const uint16_t* s = p.At(y, x);
      for (int c = 0; c < 4; ++c) {
        d->rgba.push_back(c < p.channels ? uint8_t(s[c] >> shift) : 255);
      }
    }
  }
  return true;
}

bool DecodeWebp(const std::vector<uint8_t>& bytes, Decoded* d) {
  WebPBitstreamFeatures features;
  if (WebPGetFeatures(bytes.data(), bytes.size(), &features) != VP8_STATUS_OK) return false;
  d->alpha = features.has_alpha != 0;
  uint8_t* rgba = WebPDecodeRGBA(bytes.data(), bytes.size(), &d->width, &d->height);
  if (rgba == nullptr) return false;
  d->rgba.assign(rgba, rgba + size_t(d->width) * d->height * 4);
  WebPFree(rgba);
  return true;
}

bool DecodeAvif(const std::vector<uint8_t>& bytes, Decoded* d) {
  heif_context* context = heif_context_alloc();
  heif_image_handle* handle = nullptr;
  heif_image* image = nullptr;
  bool good =
      heif_context_read_from_memory_without_copy(context, bytes.data(), bytes.size(), nullptr)
              .code == heif_error_Ok &&
      heif_context_get_primary_image_handle(context, &handle).code == heif_error_Ok &&
      heif_decode_image(handle, &image, heif_colorspace_RGB, heif_chroma_interleaved_RGBA, nullptr)
              .code == heif_error_Ok;
  if (good) {
    d->alpha = heif_image_handle_has_alpha_channel(handle) != 0;
    d->width = heif_image_get_width(image, heif_channel_interleaved);
    d->height = heif_image_get_height(image, heif_channel_interleaved);
    int stride = 0;
    const uint8_t* p = heif_image_get_plane_readonly(image, heif_channel_interleaved, &stride);
    for (int y = 0; y < d->height; ++y) {
      d->rgba.insert(d->rgba.end(), p + size_t(y) * stride, p + size_t(y) * stride + 4 * d->width);
    }
  }
  if (image != nullptr) heif_image_release(image);
  if (handle != nullptr) heif_image_handle_release(handle);
  heif_context_free(context);
  return good;
}

class WebOutput : public ::testing::Test {
 protected:
  test::RunResult Run(const std::vector<std::string>& args) {
    return test::RunTavrel(args, dir_.path().string());
  }
  bool Decode(const std::string& name, Decoded* d) {
    const std::filesystem::path path = dir_ / name;
    const std::string ext = path.extension().string();
    if (ext == ".png") return DecodePng(path, d);
    const std::vector<uint8_t> bytes = test::ReadFileBytes(path);
    if (ext == ".jpg") return DecodeJpeg(bytes, d);
    if (ext == ".webp") return DecodeWebp(bytes, d);
    return DecodeAvif(bytes, d);
  }
  test::TempDir dir_;
};

struct Source {
  std::string path;  // a file under tests/data, or one made here
  int uprightWidth, uprightHeight;
  bool turned;  // stored on its side
  bool alpha;
  bool deep;
};

// Every source is smaller than 64 wide: "/w 64" enlarges it unless //web.
TEST_F(WebOutput, SourcesIntoEachOutputWithAndWithoutWeb) {
  std::vector<Source> sources = {
      {test::DataPath("orientation/portrait_6.jpg").string(), 32, 43, true, false, false},
      {test::DataPath("pngsuite/basn6a08.png").string(), 32, 32, false, true, false},
      {test::DataPath("pngsuite/basn2c08.png").string(), 32, 32, false, false, false},
      {test::DataPath("pngsuite/basn6a16.png").string(), 32, 32, false, true, true},
  };
  if (test::RunProgram({"cwebp", "-quiet", "-lossless", "-exact",
                        test::DataPath("pngsuite/basn6a08.png").string(), "-o",
                        (dir_ / "alpha.webp").string()})
          .status == 0) {
    sources.push_back({(dir_ / "alpha.webp").string(), 32, 32, false, true, false});
  }
  for (const Source& source : sources) {
    for (const std::string ext : {"jpg", "png", "webp", "avif"}) {
      for (const bool web : {false, true}) {
        const std::string out = "out." + ext;
        std::vector<std::string> words = {"/w", "64", "/o", out, source.path};
        // Without //web the codec is named; with it the name chooses.
        if (web) {
          words.insert(words.begin(), "//web");
        } else if (ext != "jpg") {
          words.insert(words.begin(), {"/c", ext});
        }
        SCOPED_TRACE(source.path + " -> " + out + (web ? " //web" : ""));
        std::filesystem::remove(dir_ / out);
        const test::RunResult r = Run(words);
        ASSERT_EQ(r.status, 0) << r.err;
        Decoded d;
        ASSERT_TRUE(Decode(out, &d));
        // Upright and never enlarged with //web; as stored and enlarged without.
        const int storedWidth = source.turned ? source.uprightHeight : source.uprightWidth;
        const int storedHeight = source.turned ? source.uprightWidth : source.uprightHeight;
        EXPECT_EQ(d.width, web ? source.uprightWidth : 64);
        EXPECT_EQ(d.height,
                  web ? source.uprightHeight : (storedHeight * 64 + storedWidth / 2) / storedWidth);
        const bool keepsAlpha = web && source.alpha && ext != "jpg";
        EXPECT_EQ(d.alpha, keepsAlpha);
        if (ext == "png") {
          EXPECT_EQ(d.bitDepth, keepsAlpha && source.deep ? 16 : 8);
        }
        if (!source.alpha) continue;
        // The top left corner is transparent: kept so, or flattened onto
        // white with //web; without it the hidden colour (red) shows.
        const uint8_t* corner = d.At(0, 0);
        if (keepsAlpha) {
          EXPECT_LT(corner[3], 16);
        } else if (web) {
          for (int c = 0; c < 3; ++c) EXPECT_GE(corner[c], 235) << c;
        } else {
          // Left as resized: the colour under the transparency (red or
          // yellow in these sources, never white) shows.
          EXPECT_LT(std::min({corner[0], corner[1], corner[2]}), 128);
        }
      }
    }
  }
}

TEST_F(WebOutput, NoEnlargeScalesARequestLargerThanTheSourceDownToIt) {
  ASSERT_TRUE(test::WritePng(dir_ / "in.png", test::MakeTestPattern(40, 20, 8, 3)));
  struct Case {
    std::vector<std::string> words;
    int width, height;
  };
  const Case cases[] = {
      {{"/w", "80"}, 40, 20},
      {{"/w", "30"}, 30, 15},  // smaller: as asked
      {{"/w", "80", "/h", "10"}, 40, 5},
      {{"/w", "20", "/h", "30"}, 13, 20},
      {{"/%", "300"}, 40, 20},
      {{"//fit", "400", "400"}, 40, 20},
      {{"//fill", "80", "40"}, 40, 20},
      {{"//fill", "100", "20"}, 40, 8},  // the box shrinks, aspect kept
      {{"//fill", "10", "10"}, 10, 10},
  };
  for (const Case& c : cases) {
    std::vector<std::string> words = c.words;
    words.insert(words.end(), {"//no-enlarge", "/c", "png", "/o", "out.png", "in.png"});
    SCOPED_TRACE(c.words[0] + " " + c.words[1]);
    const test::RunResult r = Run(words);
    ASSERT_EQ(r.status, 0) << r.err;
    Decoded d;
    ASSERT_TRUE(Decode("out.png", &d));
    EXPECT_EQ(d.width, c.width);
    EXPECT_EQ(d.height, c.height);
  }
}

// Each output flattened onto the colour, compared with the same resize with
// its alpha kept (PNG at 32 or 64 bits) flattened here by the definition:
// to the bit in PNG, at 8 and 16 bits; within a few levels in JPEG.
TEST_F(WebOutput, BackgroundFlattensOntoTheColourAsDefined) {
  const uint32_t back[3] = {0x33, 0x66, 0x99};
  struct Case {
    std::string source;
    std::vector<std::string> words;  // the flattened output's
    std::vector<std::string> kept;   // the same resize, alpha kept
    std::string out;
    int tolerance;
  };
  const Case cases[] = {
      {"basn6a08.png", {"/b", "24", "/c", "png"}, {"/b", "32"}, "out.png", 0},
      {"basn6a16.png", {"/b", "48", "/c", "png"}, {"/b", "64"}, "out.png", 0},
      {"basn6a08.png", {"/q", "100", "//subsampling", "444"}, {"/b", "32"}, "out.jpg", 4},
      {"basn6a16.png",
       {"//web", "/q", "100", "//subsampling", "444"},
       {"//premultiply", "/b", "32"},
       "out.jpg",
       4},
  };
  for (const Case& c : cases) {
    const std::string source = test::DataPath("pngsuite/" + c.source).string();
    SCOPED_TRACE(c.source + " " + c.words[0] + " " + c.out);
    std::vector<std::string> kept = c.kept;
    kept.insert(kept.end(), {"/c", "png", "/w", "32", "/o", "kept.png", source});
    const test::RunResult k = Run(kept);
    ASSERT_EQ(k.status, 0) << k.err;
    test::PngPixels reference;
    ASSERT_TRUE(test::ReadPng(dir_ / "kept.png", &reference));
    ASSERT_EQ(reference.channels, 4);
    std::vector<std::string> words = c.words;
    words.insert(words.end(), {"//background", "336699", "/w", "32", "/o", c.out, source});
    const test::RunResult r = Run(words);
    ASSERT_EQ(r.status, 0) << r.err;
    test::PngPixels png;
    Decoded d;
    const bool lossless = c.out == "out.png";
    if (lossless) {
      ASSERT_TRUE(test::ReadPng(dir_ / c.out, &png));
      ASSERT_EQ(png.channels, 3);
      ASSERT_EQ(png.bitDepth, reference.bitDepth);
    } else {
      ASSERT_TRUE(Decode(c.out, &d));
    }
    const bool deep = reference.bitDepth == 16;
    const uint64_t full = deep ? 65535 : 255;
    int worst = 0;
    for (int y = 0; y < 32; ++y) {
      for (int x = 0; x < 32; ++x) {
        const uint16_t* s = reference.At(y, x);
        for (int ch = 0; ch < 3; ++ch) {
          const uint64_t b = deep ? back[ch] * 257 : back[ch];
          const int want = int((s[ch] * uint64_t(s[3]) + b * (full - s[3]) + full / 2) / full);
          const int got = lossless ? png.At(y, x)[ch] : d.At(x, y)[ch];
          worst = std::max(worst, std::abs(got - want));
        }
      }
    }
    EXPECT_LE(worst, c.tolerance);
  }
}

TEST_F(WebOutput, BackgroundOtherThanSixHexDigitsIsRefused) {
  ASSERT_TRUE(test::WritePng(dir_ / "in.png", test::MakeTestPattern(8, 8, 8, 3)));
  for (const std::string word : {"zzz", "12345", "#fff", "#ffffff", "1234567", "12345g", ""}) {
    SCOPED_TRACE(word);
    const test::RunResult r = Run({"//background", word, "/w", "4", "/o", "out.jpg", "in.png"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err.rfind("Invalid argument for flag \"-background\": \"" + word + "\"\n", 0), 0u)
        << r.err;
    EXPECT_NE(r.err.find("Usage:"), std::string::npos);
    EXPECT_FALSE(std::filesystem::exists(dir_ / "out.jpg"));
  }
  const test::RunResult good =
      Run({"//background", "aBcDeF", "/w", "4", "/o", "out.jpg", "in.png"});
  EXPECT_EQ(good.status, 0) << good.err;
}

// Under //web without /q each codec takes its web quality, the man page's
// numbers; /q, or //quality for a listed codec, still sets it.
TEST_F(WebOutput, EachCodecTakesItsWebQualityUnlessOneIsGiven) {
  ASSERT_TRUE(test::WritePng(dir_ / "in.png", test::MakeTestPattern(48, 36, 8, 3)));
  auto bytes = [&](const std::vector<std::string>& words, const std::string& name) {
    std::vector<std::string> all = {"//web", "/w", "40"};
    all.insert(all.end(), words.begin(), words.end());
    all.insert(all.end(), {"/o", name, "in.png"});
    const test::RunResult r = Run(all);
    EXPECT_EQ(r.status, 0) << r.err;
    return test::ReadFileBytes(dir_ / name);
  };
  const struct {
    std::string ext, percent;
  } cases[] = {{"avif", "60"}, {"webp", "80"}, {"jpg", "80"}, {"jxl", "75"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.ext);
    EXPECT_EQ(bytes({}, "web." + c.ext), bytes({"/q", c.percent}, "given." + c.ext));
  }
  EXPECT_NE(bytes({"/q", "75"}, "q75.webp"), bytes({}, "web.webp"));
  bytes({"//formats", "webp,jpg", "//quality", "webp=90"}, "listed.{ext}");
  EXPECT_EQ(test::ReadFileBytes(dir_ / "listed.webp"), bytes({"/q", "90"}, "q90.webp"));
  EXPECT_EQ(test::ReadFileBytes(dir_ / "listed.jpg"), bytes({}, "web.jpg"));
}

}  // namespace
