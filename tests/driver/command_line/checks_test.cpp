#include "driver/command_line/checks.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "driver/command_line/number_text.h"
#include "driver/job/error_line.h"
#include "driver/job/image_job.h"
#include "driver/job/process_state.h"

namespace {

struct Sized {
  int32_t width, height, errors;
  std::string messages;
};

Sized Size(int32_t sourceWidth, int32_t sourceHeight, int32_t width, int32_t height,
           float percent = 0) {
  JobSettings s;
  OutputGeometry g = StoredGeometry(sourceWidth, sourceHeight, 1);
  s.width = width;
  s.height = height;
  s.percentScale = percent;
  std::vector<Note> notes;
  ComputeOutputSize(s, &g, notes);
  Sized r{s.width, s.height, s.errorCount, {}};
  for (const Note& n : notes) r.messages += n.text;
  return r;
}

TEST(OutputSizeTest, MissingSideFollowsTheAspectRatio) {
  Sized w = Size(640, 480, 100, 0);
  EXPECT_EQ(w.height, 75);
  EXPECT_EQ(w.errors, 0);
  EXPECT_EQ(Size(640, 480, 0, 75).width, 100);
  EXPECT_EQ(Size(3, 2, 0, 1).width, 2);  // 1.5 rounds half up
  EXPECT_EQ(Size(2, 3, 0, 1).width, 1);  // 0.67 rounds to 1
  Sized both = Size(640, 480, 80, 50);
  EXPECT_EQ(both.width, 80);
  EXPECT_EQ(both.height, 50);
  // A negative height is taken as unsigned: 640 * 4294967295 / 480 is
  // 5726623060, whose low 32 bits are 1431655764.
  EXPECT_EQ(Size(640, 480, 0, -1).width, 1431655764);
  // An empty source side has no aspect ratio; nothing divides by zero.
  EXPECT_EQ(Size(0, 0, 10, 0).height, 0);
}

TEST(OutputSizeTest, PercentUsesTheSinglePrecisionHundredth) {
  Sized odd = Size(101, 101, 0, 0, 50);
  EXPECT_EQ(odd.width, 50);  // 50.4999999 + 0.5, not 51
  EXPECT_EQ(odd.height, 50);
  EXPECT_EQ(Size(640, 480, 0, 0, 25).height, 120);
  EXPECT_EQ(Size(640, 480, 0, 0, -50).width, -319);  // -319.99999 cut toward zero

  Sized redundant = Size(640, 480, 100, 0, 50);
  EXPECT_EQ(redundant.messages, "Redundant size specification with percent and width/height\n");
  EXPECT_EQ(redundant.errors, 1);
  EXPECT_EQ(redundant.width, 100);
  EXPECT_EQ(redundant.height, 75);

  Sized nothing = Size(640, 480, 0, 0);
  EXPECT_EQ(nothing.messages, "Insufficient size specification\n");
  EXPECT_EQ(nothing.errors, 1);

  // A tiny scale rounds both sides to 0: insufficient as well.
  EXPECT_EQ(Size(640, 480, 0, 0, 0.01f).errors, 1);
  // An infinite scale gives no size rather than undefined conversions.
  Sized infinite = Size(640, 480, 0, 0, std::numeric_limits<float>::infinity());
  EXPECT_EQ(infinite.width, 0);
  EXPECT_EQ(infinite.messages, "Insufficient size specification\n");
  Sized emptyInfinite = Size(0, 0, 0, 0, std::numeric_limits<float>::infinity());
  EXPECT_EQ(emptyInfinite.errors, 1);
}

TEST(OutputSizeTest, TruncationKeepsThirtyTwoBits) {
  EXPECT_EQ(TruncateKeeping32(75.9), 75);
  EXPECT_EQ(TruncateKeeping32(-1.5), -1);
  EXPECT_EQ(TruncateKeeping32(4294967296.0 * 3 + 5.7), 5);
  EXPECT_EQ(TruncateKeeping32(2147483648.0), -2147483647 - 1);
  EXPECT_EQ(TruncateKeeping32(-4294967297.0), -1);
  EXPECT_EQ(TruncateKeeping32(1e20), 1661992960);  // 10^20 mod 2^32, by Python
  EXPECT_EQ(TruncateKeeping32(0x1p200), 0);
  EXPECT_EQ(TruncateKeeping32(std::nan("")), 0);
  EXPECT_EQ(TruncateKeeping32(-std::numeric_limits<double>::infinity()), 0);

  EXPECT_EQ(TruncateSaturating(-0.99), 0);
  EXPECT_EQ(TruncateSaturating(3e9), 2147483647);
  EXPECT_EQ(TruncateSaturating(std::nan("")), 0);
}

std::string CheckedMessages(int32_t rotation, JobSettings* out = nullptr) {
  JobSettings s;  // no input: the checks take 2 x 2 bounds and probe nothing
  s.outputName = "o.png";
  s.width = 1;
  s.rotation = rotation;
  std::vector<Note> notes;
  RunChecks(s, notes);
  std::string text;
  for (const Note& n : notes) text += n.text;
  if (out != nullptr) *out = s;
  return text;
}

TEST(ChecksTest, RotationOnlyInMultiplesOfNinety) {
  for (int32_t degrees : {0, 90, -90, 450, -720, 2147483520}) {
    EXPECT_EQ(CheckedMessages(degrees), "No input file specified\n") << degrees;
  }
  for (int32_t degrees : {45, -1, 2147483647, -2147483647 - 1}) {
    EXPECT_EQ(CheckedMessages(degrees),
              "No input file specified\nOnly N * 90 degree rotation accommodated\n")
        << degrees;
  }
  JobSettings s;
  CheckedMessages(0, &s);
  EXPECT_EQ(s.errorCount, 1);
  ASSERT_EQ(s.outputs.size(), 1u);
  EXPECT_EQ(s.outputs[0].geometry.sourceWidth, 2);
  EXPECT_EQ(s.outputs[0].geometry.sourceHeight, 2);
  EXPECT_EQ(s.height, 1);  // 2 x 1 / 2, rounded

  EXPECT_EQ(QuarterTurns(-90), 3);
  EXPECT_EQ(QuarterTurns(450), 1);
  EXPECT_EQ(QuarterTurns(360), 0);
  EXPECT_EQ(QuarterTurns(-180), 2);
  EXPECT_EQ(QuarterTurns(-2147483647 - 1), 2);  // remainder -128, plus 360: 232
}

TEST(ErrorLineTest, OneLinePerCode) {
  const std::optional<std::string> name = "x.png";
  EXPECT_EQ(JobErrorLine(int32_t(0x80008001u), name),
            "Error \"x.png\": bad component instance (-2147450879)\n");
  EXPECT_EQ(JobErrorLine(-5000, name), "Error \"x.png\": access denied (-5000)\n");
  EXPECT_EQ(JobErrorLine(-2003, name), "Error \"x.png\": can't find handler (-2003)\n");
  EXPECT_EQ(JobErrorLine(-108, name), "Error: not enough memory (-108)\n");
  EXPECT_EQ(JobErrorLine(-50, name), "Error \"x.png\": parameter error (-50)\n");
  EXPECT_EQ(JobErrorLine(-43, name), "Error: \"x.png\": file not found (-43)\n");
  EXPECT_EQ(JobErrorLine(-35, name), "Error \"x.png\": no such volume (-35)\n");
  EXPECT_EQ(JobErrorLine(-8969, name), "Error code: \"x.png\": -8969\n");
  EXPECT_EQ(JobErrorLine(int32_t(0x80000000u), std::nullopt),
            "Error code: \"(null)\": -2147483648\n");

  EXPECT_EQ(FileForStage(kStageReading, "in", "out"), "in");
  EXPECT_EQ(FileForStage(kStageWriting, "in", "out"), "out");
  for (uint8_t stage : {kStageAllocating, kStageResampling, kStageReallocating, kStageRotating}) {
    EXPECT_EQ(FileForStage(stage, "in", "out"), std::nullopt);
  }
}

TEST(DestinationFormatTest, ByDepth) {
  EXPECT_EQ(DestinationFormatForDepth(48), FourCC("b48r"));
  EXPECT_EQ(DestinationFormatForDepth(64), FourCC("b64a"));
  for (int16_t depth : {32, 24, 16, 8, 40, 0, -48}) {
    EXPECT_EQ(DestinationFormatForDepth(depth), k32ARGBPixelFormat) << depth;
  }
}

}  // namespace
