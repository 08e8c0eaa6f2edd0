// The real program, run on small PNG files made with libpng: the command
// line's messages and statuses, the job's progress lines, its output files.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "driver/driver.h"
#include "png_files.h"
#include "test_support.h"

namespace {

using test::RunResult;
using test::RunTavrel;

constexpr char kNoWords[] =
    "No input file specified\nNo output file specified\nInsufficient size specification\n";

bool StartsWith(const std::string& text, const std::string& prefix) {
  return text.compare(0, prefix.size(), prefix) == 0;
}

// A folder holding in.png, 8 x 6, 8-bit RGBA, in which the program runs.
class TavrelRun : public ::testing::Test {
 protected:
  void SetUp() override {
    source_ = test::MakeTestPattern(8, 6, 8, 4);
    ASSERT_TRUE(test::WritePng(dir_ / "in.png", source_));
  }
  RunResult Run(const std::vector<std::string>& args) {
    return RunTavrel(args, dir_.path().string());
  }
  test::PngPixels Output(const std::string& name) {
    test::PngPixels p;
    EXPECT_TRUE(test::ReadPng(dir_ / name, &p)) << name;
    return p;
  }
  bool Exists(const std::string& name) { return std::filesystem::exists(dir_ / name); }

  test::TempDir dir_;
  test::PngPixels source_;
};

TEST_F(TavrelRun, NoWordsGivesThreeErrorsAndTheUsage) {
  RunResult r = RunTavrel({});
  EXPECT_EQ(r.status, 3);
  EXPECT_TRUE(StartsWith(r.err, kNoWords)) << r.err;
  EXPECT_GT(r.err.size(), sizeof kNoWords) << "the usage text follows";
  EXPECT_EQ(r.out, "");
}

TEST_F(TavrelRun, CommandLineErrorsAreCountedAndNothingIsWritten) {
  RunResult z = Run({"/z", "/w", "4", "/o", "out.png", "in.png"});
  EXPECT_EQ(z.status, 1);
  EXPECT_TRUE(StartsWith(z.err, "Unknown flag: -z\n")) << z.err;
  EXPECT_FALSE(Exists("out.png"));

  RunResult redundant = Run({"/%", "50", "/w", "100", "/o", "out.png", "in.png"});
  EXPECT_EQ(redundant.status, 1);
  EXPECT_TRUE(
      StartsWith(redundant.err, "Redundant size specification with percent and width/height\n"));

  RunResult rotation = Run({"/r", "45", "/w", "4", "/o", "out.png", "in.png"});
  EXPECT_EQ(rotation.status, 1);
  EXPECT_TRUE(StartsWith(rotation.err, "Only N * 90 degree rotation accommodated\n"));

  RunResult o = Run({"/w", "4", "in.png", "/o"});
  EXPECT_EQ(o.status, 2);
  EXPECT_TRUE(StartsWith(o.err, "Expected argument for flag \"-o\"\nNo output file specified\n"))
      << o.err;

  // 256 errors: the status must not wrap around to success.
  RunResult many = Run({"/" + std::string(256, 'j'), "/w", "4", "/o", "out.png", "in.png"});
  EXPECT_EQ(many.status, 255) << many.err.substr(0, 200);
  EXPECT_FALSE(Exists("out.png"));

  RunResult out = Run({"/w", "4", "in.png", "--out"});
  EXPECT_EQ(out.status, 1);
  EXPECT_TRUE(StartsWith(out.err, "Expected argument for flag \"-out\"\n")) << out.err;
  EXPECT_EQ(out.err.find("No output file specified"), std::string::npos);
  EXPECT_FALSE(Exists("out.png"));
}

TEST_F(TavrelRun, MissingInputIsACheckError) {
  RunResult r = Run({"/w", "4", "/o", "out.png", "x.jpg"});
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(StartsWith(r.err, "Error: \"x.jpg\": file not found (-43)\n")) << r.err;
  EXPECT_FALSE(Exists("out.png"));

  // The stand-in 2 x 2 bounds keep the size arithmetic going: a percent scale
  // gives 1 x 1, so only the probe and the output count.
  RunResult two = Run({"/%", "50", "x.jpg"});
  EXPECT_EQ(two.status, 2);
  EXPECT_TRUE(
      StartsWith(two.err, "Error: \"x.jpg\": file not found (-43)\nNo output file specified\n"))
      << two.err;

  test::WriteFileBytes(dir_ / "text.png", {'h', 'e', 'l', 'l', 'o'});
  RunResult notImage = Run({"/w", "4", "/o", "out.png", "text.png"});
  EXPECT_EQ(notImage.status, 1);
  EXPECT_TRUE(StartsWith(notImage.err, "Error code: \"text.png\": -2003\n")) << notImage.err;
}

TEST_F(TavrelRun, ProgressLinesForAQuarterTurn) {
  RunResult v = Run({"/v", "/r", "90", "/c", "png", "/o", "out.png", "in.png"});
  ASSERT_EQ(v.status, 1) << "no size: " << v.err;

  RunResult r = Run({"/v", "/w", "4", "/r", "90", "/c", "png", "/o", "out.png", "in.png"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err,
            "Reading \"in.png\"\nResizing 8x6 to 4x3\nReallocating GWorld 3x4 for rotation\n"
            "Rotating 90 degrees clockwise\nWriting \"out.png\"\n");

  RunResult t =
      Run({"/!", "/pvp", "/kG", "/w", "4", "/r", "90", "/c", "png", "/o", "out.png", "in.png"});
  EXPECT_EQ(t.status, 0) << t.err;
  EXPECT_EQ(t.err,
            "Reading \"in.png\"\nResizing 8x6 to 4x3\nAllocating GWorld 4x3\nResizing (0, 4, 2)\n"
            "Reallocating GWorld 3x4 for rotation\nRotating 90 degrees clockwise\n"
            "Writing \"out.png\"\n");

  RunResult half = Run({"/v", "/w", "4", "/r", "180", "/c", "png", "/o", "out.png", "in.png"});
  EXPECT_EQ(half.err,
            "Reading \"in.png\"\nResizing 8x6 to 4x3\nRotating 180 degrees clockwise\n"
            "Writing \"out.png\"\n");

  RunResult none = Run({"/v", "/w", "4", "/r", "-360", "/c", "png", "/o", "out.png", "in.png"});
  EXPECT_EQ(none.err, "Reading \"in.png\"\nResizing 8x6 to 4x3\nWriting \"out.png\"\n");

  RunResult quiet = Run({"/w", "4", "/r", "90", "/c", "png", "/o", "out.png", "in.png"});
  EXPECT_EQ(quiet.status, 0);
  EXPECT_EQ(quiet.err, "");
  EXPECT_EQ(quiet.out, "");
}

TEST_F(TavrelRun, TurnsMovePixelsExactly) {
  // The unturned output of the same resize is the reference: the turns must
  // be pure permutations of it (lossless PNG on both sides).
  RunResult plain = Run({"/w", "8", "/h", "6", "/c", "png", "/o", "plain.png", "in.png"});
  ASSERT_EQ(plain.status, 0) << plain.err;
  const test::PngPixels s = Output("plain.png");
  ASSERT_EQ(s.width, 8);
  struct Case {
    const char* degrees;
    int32_t width, height;
  };
  for (Case c : {Case{"90", 6, 8}, Case{"180", 8, 6}, Case{"-90", 6, 8}, Case{"450", 6, 8}}) {
    SCOPED_TRACE(c.degrees);
    RunResult r =
        Run({"/v", "/w", "8", "/h", "6", "/r", c.degrees, "/c", "png", "/o", "out.png", "in.png"});
    ASSERT_EQ(r.status, 0) << r.err;
    const test::PngPixels out = Output("out.png");
    ASSERT_EQ(out.width, c.width);
    ASSERT_EQ(out.height, c.height);
    ASSERT_EQ(out.channels, 3);  // depth 24: colour without alpha
    const std::string turn = c.degrees;
    bool same = true;
    for (int32_t y = 0; y < out.height; ++y)
      for (int32_t x = 0; x < out.width; ++x) {
        const uint16_t* from = turn == "180"   ? s.At(s.height - 1 - y, s.width - 1 - x)
                               : turn == "-90" ? s.At(x, s.width - 1 - y)
                                               : s.At(s.height - 1 - x, y);
        if (!std::equal(from, from + 3, out.At(y, x)) && same) {
          same = false;
          ADD_FAILURE() << "first difference at row " << y << " column " << x << ": "
                        << out.At(y, x)[0] << "," << out.At(y, x)[1] << "," << out.At(y, x)[2]
                        << " instead of " << from[0] << "," << from[1] << "," << from[2];
        }
      }
    if (turn == "-90") {
      EXPECT_NE(r.err.find("Rotating 270 degrees clockwise\n"), std::string::npos);
    }
  }
}

TEST_F(TavrelRun, SixteenBitDepthsWriteSixteenBitPng) {
  const test::PngPixels wide = test::MakeTestPattern(5, 3, 16, 3);
  ASSERT_TRUE(test::WritePng(dir_ / "wide.png", wide));
  RunResult rgb =
      Run({"/b", "48", "/w", "5", "/r", "270", "/c", "png", "/o", "o48.png", "wide.png"});
  ASSERT_EQ(rgb.status, 0) << rgb.err;
  const test::PngPixels o48 = Output("o48.png");
  EXPECT_EQ(o48.bitDepth, 16);
  EXPECT_EQ(o48.channels, 3);
  ASSERT_EQ(o48.width, 3);
  ASSERT_EQ(o48.height, 5);
  // Through the resampler's 14-bit intermediate samples a 16-bit value may
  // move by a few units, never to another pixel's value.
  int32_t worst = 0;
  for (int32_t y = 0; y < 5; ++y)
    for (int32_t x = 0; x < 3; ++x)
      for (int32_t c = 0; c < 3; ++c)
        worst = std::max(worst, std::abs(int32_t(wide.At(x, 4 - y)[c]) - o48.At(y, x)[c]));
  EXPECT_LE(worst, 4) << "16-bit samples through a 1:1 resize and a three-quarter turn";

  RunResult argb = Run({"/b", "64", "/%", "100", "/c", "png", "/o", "o64.png", "in.png"});
  ASSERT_EQ(argb.status, 0) << argb.err;
  const test::PngPixels o64 = Output("o64.png");
  EXPECT_EQ(o64.bitDepth, 16);
  EXPECT_EQ(o64.channels, 4);
  EXPECT_EQ(o64.width, 8);
  // 8-bit samples widened to 16 bits: about v * 257.
  EXPECT_NEAR(o64.At(2, 3)[1], source_.At(2, 3)[1] * 257, 4);
  EXPECT_EQ(o64.At(2, 3)[3], 65535);

  RunResult eight = Run({"/b", "32", "/w", "8", "/c", "png", "/o", "o32.png", "wide.png"});
  ASSERT_EQ(eight.status, 0) << eight.err;
  EXPECT_EQ(Output("o32.png").bitDepth, 8);
}

// Files of several compressed strips, noisy (ISA-L's) and smooth
// (libdeflate's), pass pngcheck and read with libpng.
TEST_F(TavrelRun, LargePngOutputsPassPngcheck) {
  test::PngPixels noisy = test::MakeTestPattern(900, 700, 16, 3);
  uint32_t seed = 7;
  for (uint16_t& v : noisy.samples) v = uint16_t((seed = seed * 1103515245u + 12345u) >> 16);
  ASSERT_TRUE(test::WritePng(dir_ / "noisy.png", noisy));
  ASSERT_TRUE(test::WritePng(dir_ / "smooth.png", test::MakeTestPattern(900, 700, 16, 3)));
  for (const char* input : {"noisy.png", "smooth.png"}) {
    for (const char* depth : {"24", "48"}) {
      SCOPED_TRACE(std::string(input) + " depth " + depth);
      RunResult run = Run({"/b", depth, "/%", "100", "/c", "png", "/o", "out.png", input});
      ASSERT_EQ(run.status, 0) << run.err;
      RunResult check = test::RunProgram({"pngcheck", "-q", (dir_ / "out.png").string()});
      EXPECT_EQ(check.status, 0) << check.out << check.err;
      const test::PngPixels out = Output("out.png");
      EXPECT_EQ(out.width, 900);
      EXPECT_EQ(out.bitDepth, std::string(depth) == "48" ? 16 : 8);
    }
  }
}

TEST_F(TavrelRun, OutputSizesFromTheCommandLine) {
  const test::PngPixels big = test::MakeTestPattern(640, 480, 8, 3);
  ASSERT_TRUE(test::WritePng(dir_ / "big.png", big));
  RunResult w = Run({"/v", "/w", "100", "/c", "png", "/o", "w.png", "big.png"});
  EXPECT_TRUE(StartsWith(w.err, "Reading \"big.png\"\nResizing 640x480 to 100x75\n")) << w.err;
  EXPECT_EQ(Output("w.png").height, 75);

  RunResult hw = Run({"//resampleHeightWidth", "50", "80", "/c", "png", "/o", "hw.png", "big.png"});
  ASSERT_EQ(hw.status, 0) << hw.err;
  EXPECT_EQ(Output("hw.png").width, 80);
  EXPECT_EQ(Output("hw.png").height, 50);

  const test::PngPixels odd = test::MakeTestPattern(101, 7, 8, 3);
  ASSERT_TRUE(test::WritePng(dir_ / "odd.png", odd));
  RunResult percent = Run({"/%", "50", "/c", "png", "--out", "p.png", "odd.png"});
  ASSERT_EQ(percent.status, 0) << percent.err;
  EXPECT_EQ(Output("p.png").width, 50);
  EXPECT_EQ(Output("p.png").height, 3);  // 7 x 50 x 0.01f is just below 3.5

  RunResult lw = Run({"--resampleWidth", "300", "/c", "png", "/o", "lw.png", "big.png"});
  ASSERT_EQ(lw.status, 0) << lw.err;
  EXPECT_EQ(Output("lw.png").width, 300);
  EXPECT_EQ(Output("lw.png").height, 225);
}

TEST_F(TavrelRun, UsageVersionAndUnknownsDoNotStopTheJob) {
  RunResult help = Run({"--help", "/w", "4", "/c", "png", "/o", "h.png", "in.png"});
  EXPECT_EQ(help.status, 0) << help.err;
  EXPECT_TRUE(Exists("h.png"));
  EXPECT_FALSE(help.err.empty()) << "the usage text";

  RunResult question = Run({"/?", "/kx", "--Out", "/w", "4", "/c", "png", "/o", "q.png", "in.png"});
  EXPECT_EQ(question.status, 0) << question.err;
  EXPECT_NE(question.err.find("Unknown kernel 'x'\n"), std::string::npos);
  EXPECT_NE(question.err.find("Unknown flag: --Out\n"), std::string::npos);
  EXPECT_TRUE(Exists("q.png"));

  RunResult version = Run({"/V"});
  EXPECT_TRUE(StartsWith(version.err, "tavrel $Revision: 1.31 $")) << version.err;
  EXPECT_EQ(version.status, 3);

  // "--Out x" makes x the input.
  RunResult outCase = Run({"/w", "4", "/o", "o.png", "in.png", "--Out", "x"});
  EXPECT_EQ(outCase.status, 1);
  EXPECT_NE(outCase.err.find("Error: \"x\": file not found (-43)\n"), std::string::npos);
}

TEST_F(TavrelRun, JobFailuresNameTheFileOfTheirStage) {
  RunResult folder = Run({"/w", "4", "/c", "png", "/o", "missing/out.png", "in.png"});
  EXPECT_EQ(folder.err, "Error: \"missing/out.png\": file not found (-43)\n");
  EXPECT_EQ(folder.status, 256 - 43);

  RunResult codec = Run({"/w", "4", "/c", "xyz", "/o", "out.xyz", "in.png"});
  EXPECT_EQ(codec.err, "Error \"out.xyz\": can't find handler (-2003)\n");
  EXPECT_EQ(codec.status, (-2003) & 0xFF);
  EXPECT_FALSE(Exists("out.xyz"));

  RunResult negative = Run({"/w", "-5", "/h", "5", "/c", "png", "/o", "out.png", "in.png"});
  EXPECT_EQ(negative.err, "Error \"(null)\": parameter error (-50)\n");
  EXPECT_EQ(negative.status, 256 - 50);

  RunResult huge =
      Run({"/w", "2000000000", "/h", "2000000000", "/c", "png", "/o", "out.png", "in.png"});
  EXPECT_EQ(huge.err, "Error: not enough memory (-108)\n");
  EXPECT_EQ(huge.status, 256 - 108);
  EXPECT_FALSE(Exists("out.png"));

  test::WriteFileBytes(dir_ / "existing.png", {'k', 'e', 'e', 'p'});
  RunResult keep = Run({"/w", "4", "/c", "xyz", "/o", "existing.png", "in.png"});
  EXPECT_EQ(keep.status, (-2003) & 0xFF);
  EXPECT_EQ(test::ReadFileBytes(dir_ / "existing.png"), (std::vector<uint8_t>{'k', 'e', 'e', 'p'}));
}

TEST_F(TavrelRun, AbsolutePathsAreInputsNotFlags) {
  const std::string input = (dir_ / "in.png").string();
  const std::string output = (dir_ / "abs.png").string();
  RunResult r = RunTavrel({"/w", "4", "/c", "png", "/o", output, input});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(Output("abs.png").width, 4);

  const std::string missing = (dir_ / "none.png").string();
  RunResult m = RunTavrel({"/w", "4", "/c", "png", "/o", output, missing});
  EXPECT_EQ(m.status, 1);
  EXPECT_TRUE(StartsWith(m.err, "Error: \"" + missing + "\": file not found (-43)\n")) << m.err;
}

}  // namespace

namespace {

TEST(ExitStatus, IsTheLowByteButNeverZeroForAFailure) {
  EXPECT_EQ(ExitStatus(0), 0);
  EXPECT_EQ(ExitStatus(3), 3);
  EXPECT_EQ(ExitStatus(-8969), 247);
  EXPECT_EQ(ExitStatus(256), 255);
  EXPECT_EQ(ExitStatus(int32_t(0x80000000)), 255);
}

}  // namespace
