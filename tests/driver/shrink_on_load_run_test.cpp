// "//shrink-on-load": a JPEG's output is the program's own resize of
// libjpeg's scaled decode, which djpeg -scale writes, at every
// instruction-set level of the resizer and with libjpeg's own SIMD off; and
// the report says the scale the rule chose.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "png_files.h"
#include "test_support.h"

namespace {

// A binary PNM (P5 grey or P6 RGB, 8 bits) as RGB samples.
bool ReadPnm(const std::filesystem::path& path, test::PngPixels* p) {
  const std::vector<uint8_t> bytes = test::ReadFileBytes(path);
  std::istringstream header(std::string(bytes.begin(), bytes.end()));
  std::string magic;
  int32_t maxValue = 0;
  header >> magic >> p->width >> p->height >> maxValue;
  if ((magic != "P5" && magic != "P6") || maxValue != 255) return false;
  const size_t start = size_t(header.tellg()) + 1;
  const size_t in = magic == "P6" ? 3 : 1;
  const size_t pixels = size_t(p->width) * size_t(p->height);
  if (bytes.size() < start + pixels * in) return false;
  *p = {p->width, p->height, 8, 3, {}, {}};
  for (size_t i = 0; i < pixels * 3; ++i) p->samples.push_back(bytes[start + i / 3 * in + i % in]);
  return true;
}

// Exif orientation 6: the stored picture turned a quarter clockwise.
test::PngPixels TurnedClockwise(const test::PngPixels& stored) {
  test::PngPixels upright{stored.height, stored.width, 8, 3, {}, {}};
  for (int32_t r = 0; r < upright.height; ++r) {
    for (int32_t c = 0; c < upright.width; ++c) {
      const uint16_t* s = stored.At(stored.height - 1 - c, r);
      upright.samples.insert(upright.samples.end(), s, s + 3);
    }
  }
  return upright;
}

struct ShrinkCase {
  const char* source;  // made below
  std::vector<std::string> flags;
  int32_t scale;  // the one the rule chooses
};

test::RunResult RunWith(const std::vector<std::string>& env, std::vector<std::string> words,
                        const std::string& cwd) {
  std::vector<std::string> argv{"env", "-u", "TAVREL_SIMD", "-u", "JSIMD_FORCENONE"};
  argv.insert(argv.end(), env.begin(), env.end());
  argv.push_back(TAVREL_BINARY);
  argv.insert(argv.end(), words.begin(), words.end());
  return test::RunProgram(argv, cwd);
}

TEST(ShrinkOnLoad, EqualsTheResizeOfTheScaledDecode) {
  test::TempDir dir;
  const std::string cwd = dir.path().string();
  const std::string photo = test::DataPath("exif/gps_DSCN0010.jpg").string();  // 640x480, 4:2:2
  auto make = [&](std::vector<std::string> argv) {
    ASSERT_EQ(test::RunProgram(argv, cwd).status, 0) << argv.front();
  };
  make({"djpeg", "-outfile", "photo.ppm", photo});
  make({"cjpeg", "-sample", "2x2", "-quality", "90", "-outfile", "420.jpg", "photo.ppm"});
  make({"cjpeg", "-sample", "1x1", "-quality", "90", "-outfile", "444.jpg", "photo.ppm"});
  make({"jpegtran", "-progressive", "-outfile", "progressive.jpg", "420.jpg"});
  make({"jpegtran", "-grayscale", "-outfile", "grey.jpg", "420.jpg"});
  // 450x600 stored, 4:2:0, Exif orientation 6: 600x450 upright; without
  // its ICC profile, so that its samples are drawn as decoded.
  make({"exiftool", "-q", "-q", "-icc_profile:all=", "-o", "rotated.jpg",
        test::DataPath("exif/orientation_landscape_6.jpg").string()});
  const ShrinkCase cases[] = {
      {"420.jpg", {"/w", "40"}, 8},  // 80x60 decoded is exactly twice 40x30
      {"420.jpg", {"/w", "41"}, 4},
      {photo.c_str(), {"/w", "100", "/k", "g"}, 2},
      {"444.jpg", {"//fill", "50", "50", "//centre", "/r", "90"}, 4},
      {"progressive.jpg", {"/w", "150", "/p", "hv"}, 2},
      {"grey.jpg", {"//fit", "64", "64"}, 4},
      {"rotated.jpg", {"//upright", "/w", "60", "/r", "270"}, 4},
      {"420.jpg", {"/w", "400"}, 1},
  };
  const std::vector<std::vector<std::string>> levels = {
      {"TAVREL_SIMD=plain"}, {"TAVREL_SIMD=sse2"}, {"TAVREL_SIMD=avx2"}, {"JSIMD_FORCENONE=1"}};
  for (const ShrinkCase& c : cases) {
    const std::string scale = std::to_string(c.scale);
    SCOPED_TRACE(std::string(c.source) + " at 1/" + scale);
    const bool upright = c.flags.front() == "//upright";
    // The reference: djpeg's scaled decode, put upright, resized as a PNG.
    make({"djpeg", "-scale", "1/" + scale, "-outfile", "scaled.pnm", c.source});
    test::PngPixels decoded;
    ASSERT_TRUE(ReadPnm(dir / "scaled.pnm", &decoded));
    ASSERT_TRUE(test::WritePng(dir / "scaled.png", upright ? TurnedClockwise(decoded) : decoded));
    std::vector<std::string> words(c.flags.begin() + (upright ? 1 : 0), c.flags.end());
    words.insert(words.end(), {"/c", "png", "/o", "reference.png", "scaled.png"});
    ASSERT_EQ(RunWith({}, words, cwd).status, 0);
    test::PngPixels reference;
    ASSERT_TRUE(test::ReadPng(dir / "reference.png", &reference));
    for (const std::vector<std::string>& level : levels) {
      SCOPED_TRACE(level.front());
      words = c.flags;
      words.insert(words.end(), {"//shrink-on-load", "//report", "-", "/c", "png", "/o",
                                 "shrunk.png", c.source});
      const test::RunResult run = RunWith(level, words, cwd);
      ASSERT_EQ(run.status, 0) << run.err;
      const char* said[] = {"", "1", "0.5", "", "0.25", "", "", "", "0.125"};
      EXPECT_NE(run.out.find(std::string("\"decode_scale\":") + said[c.scale] + ","),
                std::string::npos)
          << run.out;
      test::PngPixels shrunk;
      ASSERT_TRUE(test::ReadPng(dir / "shrunk.png", &shrunk));
      EXPECT_EQ(shrunk.width, reference.width);
      EXPECT_EQ(shrunk.height, reference.height);
      EXPECT_TRUE(shrunk.samples == reference.samples);
    }
  }
  // One decoding serves every entry: the one that needs the most decides.
  const test::RunResult sizes = RunWith({},
                                        {"//shrink-on-load", "//sizes", "40,100", "//report", "-",
                                         "/c", "png", "/o", "sizes-{w}.png", "420.jpg"},
                                        cwd);
  ASSERT_EQ(sizes.status, 0) << sizes.err;
  size_t halves = 0;
  for (size_t at = 0; (at = sizes.out.find("\"decode_scale\":0.5,", at)) != std::string::npos;
       ++at) {
    ++halves;
  }
  EXPECT_EQ(halves, 2u) << sizes.out;
}

}  // namespace
