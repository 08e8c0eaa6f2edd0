// On one usable core a small image's stages run one after another on the
// job's thread, starting none; a larger image, or a small one enlarged past
// the heap's blocks, still streams, and so does every image where there
// are more cores. Either way the file is the same; and the jobs that follow
// on a thread reuse the first one's rows block.
#include <gtest/gtest.h>
#include <sched.h>

#include <filesystem>
#include <string>
#include <vector>

#include "base/large_block_seam.h"
#include "base/usable_cores.h"
#include "driver/command_line/checks.h"
#include "driver/job/image_job.h"
#include "pipeline/pipeline_seam.h"
#include "platform/quicktime.h"
#include "png_files.h"
#include "test_support.h"

namespace fs = std::filesystem;

namespace {

struct Ran {
  int32_t code = 1;
  int64_t threads = 0;          // the pipeline's, for drawing and resampling
  std::vector<uint8_t> output;  // empty when none was written
};

// The job on this thread, held to its first usable core when oneCore.
Ran RunJob(const fs::path& in, const fs::path& out, int32_t width, int32_t height, bool oneCore) {
  JobSettings s;
  s.inputPath = in.string();
  s.outputName = out.string();
  s.width = width;
  s.height = height;
  std::vector<Note> notes;
  RunChecks(s, notes);
  EXPECT_EQ(s.errorCount, 0) << in;
  cpu_set_t all;
  EXPECT_EQ(sched_getaffinity(0, sizeof all, &all), 0);
  if (oneCore) {
    cpu_set_t one;
    CPU_ZERO(&one);
    int cpu = 0;
    while (!CPU_ISSET(cpu, &all)) ++cpu;
    CPU_SET(cpu, &one);
    EXPECT_EQ(sched_setaffinity(0, sizeof one, &one), 0);
  }
  fs::remove(out);
  const int64_t before = PipelineThreadsStarted();
  const int32_t code = RunImageJob(s).code;
  const int64_t threads = PipelineThreadsStarted() - before;
  EXPECT_EQ(sched_setaffinity(0, sizeof all, &all), 0);
  return {code, threads, fs::exists(out) ? test::ReadFileBytes(out) : std::vector<uint8_t>()};
}

TEST(JobsInTurn, OnlySmallImagesOnOneCoreRunWithoutThreads) {
  ASSERT_EQ(StartQuickTime(0), noErr);
  test::TempDir dir;
  const struct {
    const char* name;
    int32_t width, height;        // the source's
    int32_t outWidth, outHeight;  // the output's
    bool inTurn;                  // on one core
  } cases[] = {
      {"small, reduced", 300, 200, 75, 50, true},
      {"whole source past the heap's blocks", 1100, 1000, 110, 100, false},
      {"output past the heap's blocks", 300, 200, 2400, 1600, false},
  };
  const bool manyCores = UsableCores() > 1;
  for (const auto& c : cases) {
    const fs::path in = dir / (std::string(c.name) + ".png");
    ASSERT_TRUE(test::WritePng(in, test::MakeTestPattern(c.width, c.height, 8, 4)));
    const Ran one = RunJob(in, dir / "one.png", c.outWidth, c.outHeight, true);
    EXPECT_EQ(one.code, noErr) << c.name;
    EXPECT_EQ(one.threads == 0, c.inTurn) << c.name;
    if (manyCores) {
      const Ran many = RunJob(in, dir / "many.png", c.outWidth, c.outHeight, false);
      EXPECT_GT(many.threads, 0) << c.name;
      EXPECT_EQ(one.output, many.output) << c.name;
    }
  }
}

// Sources whose importers draw their rows in order, and damaged ones: the
// ring drawn whole before the resize ends as the streaming job does.
TEST(JobsInTurn, EveryImporterEndsAsWhenStreaming) {
  ASSERT_EQ(StartQuickTime(0), noErr);
  if (UsableCores() < 2) GTEST_SKIP() << "one core: nothing streams";
  test::TempDir dir;
  const std::vector<uint8_t> baseline =
      test::ReadFileBytes(test::DataPath("codecs/gradient_baseline.jpg"));
  test::WriteFileBytes(
      dir / "cut.jpg",
      std::vector<uint8_t>(baseline.begin(), baseline.begin() + baseline.size() * 9 / 10));
  const fs::path sources[] = {test::DataPath("codecs/gradient_baseline.jpg"),
                              test::DataPath("codecs/gradient_progressive.jpg"),
                              dir / "cut.jpg",
                              test::DataPath("formats/rgb_lossy.webp"),
                              test::DataPath("formats/rgb16_zip.tif"),
                              test::DataPath("formats/rgb8_packbits_tiled.tif"),
                              test::DataPath("hostile/tiff_strip_past_end.tif")};
  for (const fs::path& in : sources) {
    const Ran one = RunJob(in, dir / "one.png", 40, 30, true);
    const Ran many = RunJob(in, dir / "many.png", 40, 30, false);
    EXPECT_EQ(one.code, many.code) << in;
    EXPECT_EQ(one.output, many.output) << in;
  }
}

TEST(JobsInTurn, LaterJobsReuseTheFirstOnesRows) {
  ASSERT_EQ(StartQuickTime(0), noErr);
  test::TempDir dir;
  const fs::path in = dir / "in.png";
  ASSERT_TRUE(test::WritePng(in, test::MakeTestPattern(300, 200, 8, 4)));
  // In turn on one core, else streaming through rings; each from this thread.
  for (const bool oneCore : {true, false}) {
    RunJob(in, dir / "first.png", 75, 50, oneCore);
    const int64_t before = FreshRowsBlocks();
    for (int i = 0; i < 3; ++i) RunJob(in, dir / "next.png", 75, 50, oneCore);
    EXPECT_EQ(FreshRowsBlocks() - before, 0) << oneCore;
  }
}

}  // namespace
