// The HEIF and JPEG XL libraries are opened only by a run whose files need
// them, as the dynamic loader itself reports what it maps (LD_DEBUG=files).
#include <gtest/gtest.h>

#include <string>

#include "test_support.h"

namespace {

TEST(CodecLibraries, ARunMapsOnlyTheLibrariesOfTheFormatsItReadsAndWrites) {
  struct Case {
    const char* input;
    const char* output;
    bool heif;
    bool jxl;
  };
  const Case cases[] = {
      {"codecs/gradient_baseline.jpg", "out.jpg", false, false},
      {"formats/rgb8.heic", "out.png", true, false},
      {"formats/rgb_lossless.jxl", "out.png", false, true},
  };
  for (const Case& c : cases) {
    test::TempDir dir;
    const test::RunResult run =
        test::RunProgram({"env", "LD_DEBUG=files", TAVREL_BINARY, "/w", "16", "/o",
                          (dir / c.output).string(), test::DataPath(c.input).string()});
    ASSERT_EQ(run.status, 0) << c.input << run.err;
    EXPECT_EQ(run.err.find("file=libheif") != std::string::npos, c.heif) << c.input;
    EXPECT_EQ(run.err.find("file=libjxl") != std::string::npos, c.jxl) << c.input;
  }
}

}  // namespace
