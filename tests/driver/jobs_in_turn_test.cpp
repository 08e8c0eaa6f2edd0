// A job that shares the cores with as many others runs a small image's
// stages one after another on its own thread, starting none; a larger
// image, or a small one enlarged past the heap's blocks, still streams.
// Either way the file is the one a job alone on the machine writes; and
// the jobs that follow on a thread reuse the first one's rows block.
#include <gtest/gtest.h>

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
  int64_t threads = 0;  // the pipeline's, for drawing and resampling
  std::vector<uint8_t> output;
};

Ran RunWithJobsAtOnce(const fs::path& in, const fs::path& out, int32_t width, int32_t height,
                      int32_t jobs) {
  JobSettings s;
  s.inputPath = in.string();
  s.outputName = out.string();
  s.width = width;
  s.height = height;
  std::vector<Note> notes;
  RunChecks(s, notes);
  EXPECT_EQ(s.errorCount, 0);
  SetImageJobsAtOnce(jobs);
  const int64_t before = PipelineThreadsStarted();
  EXPECT_EQ(RunImageJob(s).code, noErr) << in;
  SetImageJobsAtOnce(1);
  return {PipelineThreadsStarted() - before, test::ReadFileBytes(out)};
}

TEST(JobsInTurn, OnlySmallImagesOfAFullBatchRunWithoutThreads) {
  ASSERT_EQ(StartQuickTime(0), noErr);
  test::TempDir dir;
  const struct {
    const char* name;
    int32_t width, height;        // the source's
    int32_t outWidth, outHeight;  // the output's
    bool inTurn;
  } cases[] = {
      {"small, reduced", 300, 200, 75, 50, true},
      {"whole source past the heap's blocks", 1100, 1000, 110, 100, false},
      {"output past the heap's blocks", 300, 200, 2400, 1600, false},
  };
  const int32_t cores = UsableCores();
  for (const auto& c : cases) {
    const fs::path in = dir / (std::string(c.name) + ".png");
    ASSERT_TRUE(test::WritePng(in, test::MakeTestPattern(c.width, c.height, 8, 4)));
    const Ran batch = RunWithJobsAtOnce(in, dir / "batch.png", c.outWidth, c.outHeight, cores);
    EXPECT_EQ(batch.threads == 0, c.inTurn) << c.name;
    if (cores > 1) {
      const Ran alone = RunWithJobsAtOnce(in, dir / "alone.png", c.outWidth, c.outHeight, 1);
      EXPECT_GT(alone.threads, 0) << c.name;
      EXPECT_EQ(batch.output, alone.output) << c.name;
    }
  }
}

TEST(JobsInTurn, LaterJobsReuseTheFirstOnesRows) {
  ASSERT_EQ(StartQuickTime(0), noErr);
  test::TempDir dir;
  const fs::path in = dir / "in.png";
  ASSERT_TRUE(test::WritePng(in, test::MakeTestPattern(300, 200, 8, 4)));
  RunWithJobsAtOnce(in, dir / "first.png", 75, 50, UsableCores());
  const int64_t before = FreshRowsBlocks();
  for (int i = 0; i < 3; ++i) RunWithJobsAtOnce(in, dir / "next.png", 75, 50, UsableCores());
  EXPECT_EQ(FreshRowsBlocks() - before, 0);
}

}  // namespace
