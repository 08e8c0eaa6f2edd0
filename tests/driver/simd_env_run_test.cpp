// The program as a whole at each instruction-set level that TAVREL_SIMD
// names: the same output bytes for 8-bit and 16-bit jobs, with every kernel,
// wrapped and pinched edges, quarter turns of every pixel size, linear light
// and premultiplied alpha.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "png_files.h"
#include "test_support.h"

namespace {

struct SimdJob {
  const char* name;
  int32_t bitDepth, channels, width, height;  // the source PNG; 0 bits: a JPEG photo
  std::vector<std::string> flags;
};

// Random samples, alpha too, so that every channel takes part.
test::PngPixels RandomPng(const SimdJob& job, std::mt19937& rng) {
  test::PngPixels p{job.width, job.height, job.bitDepth, job.channels, {}, {}};
  std::uniform_int_distribution<uint32_t> sample(0, job.bitDepth == 16 ? 65535 : 255);
  p.samples.resize(size_t(job.width) * size_t(job.height) * size_t(job.channels));
  for (uint16_t& s : p.samples) s = uint16_t(sample(rng));
  return p;
}

TEST(SimdEnvironment, OutputsAreIdenticalAtEveryLevel) {
  const SimdJob jobs[] = {
      {"8-bit RGBA, wrap and pinch, turned",
       8,
       4,
       83,
       41,
       {"/c", "png", "/b", "32", "/p", "hwvp", "/w", "150", "/h", "67", "/r", "90"}},
      {"16-bit RGB, wrapped both ways, turned back",
       16,
       3,
       97,
       58,
       {"/c", "png", "/b", "48", "/k", "g", "/p", "hv", "/w", "45", "/h", "71", "/r", "270"}},
      {"16-bit RGBA, wide gaussian, turned",
       16,
       4,
       61,
       39,
       {"/c", "tiff", "/b", "64", "/k", "G", "/p", "vp", "/w", "77", "/r", "-90"}},
      {"8-bit grey output", 8, 3, 70, 70, {"/c", "png", "/b", "8", "/%", "140"}},
      {"JPEG photo, turned", 0, 0, 0, 0, {"/w", "203", "/r", "90", "/q", "90"}},
      {"8-bit RGBA, linear and premultiplied, wrapped",
       8,
       4,
       83,
       41,
       {"/c", "png", "/b", "32", "/p", "hw", "/w", "50", "/h", "29", "//linear", "//premultiply"}},
      {"16-bit RGBA premultiplied into 16-bit RGB, turned",
       16,
       4,
       61,
       39,
       {"/c", "png", "/b", "48", "/w", "77", "/h", "30", "/r", "90", "//premultiply"}},
      {"JPEG photo in linear light", 0, 0, 0, 0, {"/w", "203", "//linear"}},
  };
  // The levels, then unset (the processor's best) and an unknown value.
  const char* const settings[] = {"plain", "sse2", "avx2", nullptr, "avx512"};
  std::mt19937 rng(15);
  for (const SimdJob& job : jobs) {
    SCOPED_TRACE(job.name);
    test::TempDir dir;
    std::string input = test::DataPath("exif/gps_DSCN0010.jpg").string();
    if (job.bitDepth != 0) {
      input = "in.png";
      ASSERT_TRUE(test::WritePng(dir / input, RandomPng(job, rng)));
    }
    std::vector<uint8_t> plain;
    for (const char* setting : settings) {
      const std::string output = std::string("out-") + (setting ? setting : "unset");
      std::vector<std::string> argv{"env", "-u", "TAVREL_SIMD"};
      if (setting != nullptr) argv.push_back(std::string("TAVREL_SIMD=") + setting);
      argv.push_back(TAVREL_BINARY);
      argv.insert(argv.end(), job.flags.begin(), job.flags.end());
      argv.insert(argv.end(), {"/o", output, input});
      const test::RunResult run = test::RunProgram(argv, dir.path().string());
      ASSERT_EQ(run.status, 0) << output << ": " << run.err;
      const std::vector<uint8_t> bytes = test::ReadFileBytes(dir / output);
      ASSERT_FALSE(bytes.empty()) << output;
      if (plain.empty()) {
        plain = bytes;
      } else {
        EXPECT_TRUE(bytes == plain) << output << " differs from out-plain";
      }
    }
  }
}

}  // namespace
