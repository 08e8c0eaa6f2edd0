// Several outputs from one reading: each file must be, byte for byte, what
// the job with that output alone writes, whichever way the source is read
// (a ring that every resize follows, a whole buffer, put upright first),
// with turned, filled, deep and metadata-carrying outputs among them, and
// with the stages overlapped or one after another.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "base/encoder_turns_seam.h"
#include "driver/command_line/checks.h"
#include "driver/job/image_job.h"
#include "platform/quicktime.h"
#include "png_files.h"
#include "resample/resampler_seam.h"
#include "test_support.h"

namespace fs = std::filesystem;

namespace {

struct Size {
  int32_t width, height;
  BoxRule box;
};

JobSettings Checked(JobSettings s) {
  std::vector<Note> notes;
  RunChecks(s, notes);
  EXPECT_EQ(s.errorCount, 0) << *s.inputPath;
  return s;
}

// The base settings at one size, checked as the driver checks them.
JobSettings AtSize(JobSettings s, const Size& size, const fs::path& out) {
  s.outputName = out.string();
  if (size.box == BoxRule::kNone) {
    s.width = size.width;
    s.height = size.height;
  } else {
    s.boxRule = size.box;
    s.boxWidth = size.width;
    s.boxHeight = size.height;
  }
  return Checked(s);
}

struct Case {
  const char* name;
  fs::path input;
  std::vector<std::string> options;  // what sets the settings apart
};

JobSettings Base(const Case& c) {
  JobSettings s;
  s.inputPath = c.input.string();
  for (const std::string& option : c.options) {
    if (option == "m") s.copyMetadata = true;
    if (option == "upright") s.upright = true;
    if (option == "r90") s.rotation = 90;
    if (option == "linear") s.filterSpace.linear = true;
    if (option == "vwrap") s.verticalEdge = EdgeMode(3);
    if (option == "png64") s.exportSettings = {FourCC("png "), 0, 64, 768};
  }
  return s;
}

TEST(SeveralSizes, EachOutputIsTheSingleRunsBytesFromOneReading) {
  ASSERT_EQ(StartQuickTime(0), noErr);
  test::TempDir dir;
  const fs::path png16 = dir / "rgba16.png";
  ASSERT_TRUE(test::WritePng(png16, test::MakeTestPattern(90, 300, 16, 4)));
  const Case cases[] = {
      {"JPEG through a ring, with metadata", test::DataPath("exif/Nikon_D70.jpg"), {"m"}},
      {"turned in linear light", test::DataPath("exif/Canon_40D.jpg"), {"r90", "linear"}},
      {"put upright first", test::DataPath("orientation/portrait_6.jpg"), {"upright", "m"}},
      {"interlaced, read whole", test::DataPath("pngsuite/basi6a16.png"), {}},
      {"vertical wrap, read whole", png16, {"vwrap", "png64"}},
      {"16-bit ring to 16-bit PNG", png16, {"png64"}},
  };
  const Size sizes[] = {{64, 0, BoxRule::kNone},
                        {0, 40, BoxRule::kNone},
                        {30, 30, BoxRule::kFill},
                        {50, 20, BoxRule::kNone},
                        {45, 45, BoxRule::kFit}};
  for (bool overlap : {true, false}) {
    SetImageJobOverlap(overlap);
    for (const Case& c : cases) {
      SCOPED_TRACE(std::string(c.name) + (overlap ? ", overlapped" : ", in turn"));
      const JobSettings base = Base(c);
      JobSettings several;
      std::vector<fs::path> singles;
      for (size_t i = 0; i < std::size(sizes); ++i) {
        const std::string ext = base.exportSettings.codec == FourCC("png ") ? ".png" : ".jpg";
        singles.push_back(dir / ("single" + std::to_string(i) + ext));
        const JobSettings one = AtSize(base, sizes[i], singles.back());
        ASSERT_EQ(RunImageJob(one).code, noErr);
        if (i == 0) {
          several = one;
          several.outputs.clear();
        }
        several.outputs.push_back(one.outputs[0]);
        several.outputs.back().path = (dir / ("several" + std::to_string(i) + ext)).string();
      }
      const int64_t preparedBefore = ResizesPrepared();
      const JobResult result = RunImageJob(several);
      ASSERT_EQ(result.code, noErr);
      ASSERT_EQ(result.outputs.size(), std::size(sizes));
      // One table each, built once: none is prepared again for another.
      EXPECT_EQ(ResizesPrepared() - preparedBefore, int64_t(std::size(sizes)));
      for (size_t i = 0; i < singles.size(); ++i) {
        EXPECT_EQ(result.outputs[i].code, noErr);
        EXPECT_EQ(test::ReadFileBytes(several.outputs[i].path), test::ReadFileBytes(singles[i]))
            << "size " << i;
      }
    }
  }
  SetImageJobOverlap(true);
}

TEST(SeveralSizes, AFailedReadingFailsEveryOutputAndWritesNone) {
  ASSERT_EQ(StartQuickTime(0), noErr);
  test::TempDir dir;
  const fs::path png = dir / "pattern.png", jpeg = dir / "pattern.jpg";
  ASSERT_TRUE(test::WritePng(png, test::MakeTestPattern(90, 300, 8, 3)));
  JobSettings convert;
  convert.inputPath = png.string();
  ASSERT_EQ(RunImageJob(AtSize(convert, {90, 300, BoxRule::kNone}, jpeg)).code, noErr);
  std::vector<uint8_t> bytes = test::ReadFileBytes(jpeg);
  bytes.resize(bytes.size() * 6 / 10);
  const fs::path cut = dir / "cut.jpg";
  test::WriteFileBytes(cut, bytes);
  JobSettings base;
  base.inputPath = cut.string();
  JobSettings several = AtSize(base, {64, 0, BoxRule::kNone}, dir / "unused.jpg");
  several.outputs.clear();
  for (int32_t width : {64, 20, 300}) {
    const JobSettings one = AtSize(base, {width, 0, BoxRule::kNone}, dir / "x.jpg");
    several.outputs.push_back(one.outputs[0]);
    several.outputs.back().path = (dir / (std::to_string(width) + ".jpg")).string();
  }
  const JobResult result = RunImageJob(several);
  EXPECT_NE(result.code, noErr);
  ASSERT_EQ(result.outputs.size(), 3u);
  for (const JobOutput& output : several.outputs) EXPECT_FALSE(fs::exists(output.path));
  for (const OutputResult& output : result.outputs) {
    EXPECT_EQ(output.code, result.code);
    EXPECT_EQ(output.stage, kStageReading);
  }
}

// Four AVIF sizes of one picture wait for their turns at the encoder: never
// more at once than allowed, every one through the turns, and each file
// still the single run's bytes.
TEST(SeveralSizes, HeavyEncodersTakeTurnsAndWriteTheSingleRunsBytes) {
  ASSERT_EQ(StartQuickTime(0), noErr);
  test::TempDir dir;
  const fs::path png = dir / "pattern.png";
  ASSERT_TRUE(test::WritePng(png, test::MakeTestPattern(320, 240, 8, 3)));
  JobSettings base;
  base.inputPath = png.string();
  base.exportSettings = {FourCC("AVIF"), 0, 24, 512};
  JobSettings several;
  std::vector<fs::path> singles;
  for (int32_t width : {64, 96, 128, 160}) {
    singles.push_back(dir / ("single" + std::to_string(width) + ".avif"));
    const JobSettings one = AtSize(base, {width, 0, BoxRule::kNone}, singles.back());
    ASSERT_EQ(RunImageJob(one).code, noErr);
    if (width == 64) {
      several = one;
      several.outputs.clear();
    }
    several.outputs.push_back(one.outputs[0]);
    several.outputs.back().path = (dir / ("several" + std::to_string(width) + ".avif")).string();
  }
  for (int32_t allowed : {1, 2}) {
    SCOPED_TRACE(allowed);
    SetHeavyEncodersAtOnce(allowed);
    ResetMostHeavyEncodersAtOnce();
    EXPECT_EQ(RunImageJob(several).code, noErr);
    EXPECT_GE(MostHeavyEncodersAtOnce(), 1);
    EXPECT_LE(MostHeavyEncodersAtOnce(), allowed);
    for (size_t i = 0; i < singles.size(); ++i) {
      EXPECT_EQ(test::ReadFileBytes(several.outputs[i].path), test::ReadFileBytes(singles[i]))
          << singles[i];
    }
  }
  SetHeavyEncodersAtOnce(0);
}

}  // namespace
