// A large PNG is decoded straight from its file: the run holds the two
// pixel buffers and little more, never the file's bytes as well. Large
// outputs stream into their file: the run holds less than the file.
#include <gtest/gtest.h>
#include <png.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "test_support.h"

namespace {

// 8-bit RGB noise, which no compressor shrinks: the file is about as large
// as its pixels.
[[maybe_unused]] bool WriteNoisyPng(const std::string& path, uint32_t width, uint32_t height) {
  std::vector<uint8_t> pixels(size_t(width) * height * 3);
  uint64_t state = 0x9E3779B97F4A7C15u;
  for (uint8_t& p : pixels) {
    state = state * 6364136223846793005u + 1442695040888963407u;
    p = uint8_t(state >> 56);
  }
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  image.width = width;
  image.height = height;
  image.format = PNG_FORMAT_RGB;
  const bool written = png_image_write_to_file(&image, path.c_str(), 0, pixels.data(), 0, nullptr);
  png_image_free(&image);
  return written;
}

TEST(PngMemoryRun, LargePngTakesLittleMoreThanItsTwoBuffers) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "the sanitizer's shadow memory hides what the program takes";
#else
  test::TempDir dir;
  const std::string input = (dir / "noise.png").string();
  ASSERT_TRUE(WriteNoisyPng(input, 4000, 3000));
  ASSERT_GT(std::filesystem::file_size(input), 30u * 1000 * 1000);
  const std::string output = (dir / "half.png").string();
  const test::RunResult run = test::RunTavrel({"/w", "2000", "/h", "1500", "/o", output, input});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_TRUE(std::filesystem::exists(output));
  constexpr int64_t kBuffersKiB = (int64_t(4000) * 3000 * 4 + int64_t(2000) * 1500 * 4) / 1024;
  EXPECT_LT(run.peakKiB, kBuffersKiB + 24 * 1024);
#endif
}

// Noise makes files larger than everything else the run holds: 16-bit PNG
// some 32 MB, JPEG at full quality some 25 MB, peaks some 18 and 14 MB.
// Holding the encoded file whole would take more than its size.
TEST(PngMemoryRun, LargeOutputsAreNotHeldWhole) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "the sanitizer's shadow memory hides what the program takes";
#else
  test::TempDir dir;
  const std::string input = (dir / "noise.png").string();
  ASSERT_TRUE(WriteNoisyPng(input, 3000, 2000));
  const std::vector<std::vector<std::string> > runs = {{"/b", "48", "/c", "png"},
                                                       {"/q", "100", "/c", "jpg"}};
  for (std::vector<std::string> args : runs) {
    const std::string output = (dir / ("out." + args.back())).string();
    args.insert(args.end(), {"/w", "3000", "/h", "2000", "/o", output, input});
    const test::RunResult run = test::RunTavrel(args);
    ASSERT_EQ(run.status, 0) << run.err;
    const uint64_t size = std::filesystem::file_size(output);
    EXPECT_GT(size, 20u << 20) << output;
    EXPECT_LT(uint64_t(run.peakKiB) * 1024, size) << output;
  }
#endif
}

}  // namespace
