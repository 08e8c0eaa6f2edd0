// Files of a few hundred bytes whose headers claim terabytes of pixels: the
// run answers -108, with no output and without touching memory (its peak
// stays near a small image's).
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "test_support.h"

namespace {

TEST(Limits, HeadersClaimingTerabytesAnswerOutOfMemorySmall) {
  // 10^6 × 10^6 pixels: 4 TB as 32-bit ARGB, beyond any machine's memory.
  const char* files[] = {"png_1000000x1000000.png", "tiff_1000000x1000000.tif",
                         "heic_1000000x1000000.heic", "avif_1000000x1000000.avif"};
  // What the program needs for a small image, whatever the build (the
  // sanitizers' own tables included): the refused file may add little to it.
  test::TempDir dir;
  const std::string small = test::DataPath("formats/rgb8.heic").string();
  const test::RunResult baseline =
      test::RunTavrel({"/w", "8", "/o", (dir / "small.jpg").string(), small});
  ASSERT_EQ(baseline.status, 0) << baseline.err;
  for (const char* file : files) {
    SCOPED_TRACE(file);
    const std::string output = (dir / "out.jpg").string();
    const test::RunResult run =
        test::RunTavrel({"/w", "100", "/o", output, (test::DataPath("limits") / file).string()});
    EXPECT_EQ(run.status, 148);  // -108 as an exit status
    EXPECT_EQ(run.err, "Error: not enough memory (-108)\n");
    EXPECT_FALSE(std::filesystem::exists(output));
    EXPECT_LT(run.peakKiB, baseline.peakKiB + 32 * 1024);
  }
}

}  // namespace
