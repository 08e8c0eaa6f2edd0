// Peak memory of a 24-megapixel resize against its two pixel buffers: the
// job holds the source and the destination and little else.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "png_files.h"
#include "test_support.h"

namespace {

TEST(PeakMemory, TwentyFourMegapixelJpegResizeHoldsLittleBeyondItsBuffers) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "the address sanitizer's shadow memory and quarantine count as resident";
#endif
  test::TempDir dir;
  ASSERT_TRUE(test::WritePng(dir / "small.png", test::MakeTestPattern(600, 400, 8, 3)));
  const test::RunResult made = test::RunTavrel(
      {"/w", "6000", "/h", "4000", "/o", "big.jpg", "small.png"}, dir.path().string());
  ASSERT_EQ(made.status, 0) << made.err;

  const test::RunResult run = test::RunTavrel(
      {"/w", "1500", "/h", "1000", "/o", "out.jpg", "big.jpg"}, dir.path().string());
  ASSERT_EQ(run.status, 0) << run.err;
  const uint64_t peak = uint64_t(run.peakKiB) * 1024;  // kilobytes on Linux
  const uint64_t buffers = 6000ull * 4000 * 4 + 1500ull * 1000 * 4;
  // The libraries' code and the file's bytes come on top; measured some
  // 12 MB here. The bound is generous: a third buffer would break it.
  EXPECT_LT(peak, buffers + (48ull << 20)) << "peak " << peak << " against " << buffers;
}

}  // namespace
