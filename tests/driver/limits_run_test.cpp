// Files of a few hundred bytes whose headers claim terabytes of pixels: the
// run answers -108 at once, with no output and without touching memory.
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "test_support.h"

namespace {

struct MeasuredRun {
  int status = -1;
  std::string err;
  double seconds = 0;
  int64_t peakKiB = 0;  // the child's largest resident set
};

// Runs tavrel with the words given and measures its time and peak memory.
MeasuredRun RunMeasured(const std::vector<std::string>& args, const test::TempDir& dir) {
  MeasuredRun run;
  const std::string errPath = (dir / "stderr").string();
  std::vector<std::string> argv{TAVREL_BINARY};
  argv.insert(argv.end(), args.begin(), args.end());
  std::vector<char*> words;
  for (std::string& a : argv) words.push_back(a.data());
  words.push_back(nullptr);
  const auto start = std::chrono::steady_clock::now();
  const pid_t pid = fork();
  if (pid < 0) return run;
  if (pid == 0) {
    const int in = open("/dev/null", O_RDONLY);
    const int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    dup2(in, 0);
    dup2(in, 1);
    dup2(err, 2);
    execv(words[0], words.data());
    _exit(127);
  }
  int status = 0;
  rusage usage{};
  while (wait4(pid, &status, 0, &usage) < 0 && errno == EINTR) {
  }
  run.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  run.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  run.peakKiB = usage.ru_maxrss;
  const std::vector<uint8_t> err = test::ReadFileBytes(errPath);
  run.err.assign(err.begin(), err.end());
  return run;
}

TEST(Limits, HeadersClaimingTerabytesAnswerOutOfMemoryFastAndSmall) {
  // 10^6 × 10^6 pixels: 4 TB as 32-bit ARGB, beyond any machine's memory.
  const char* files[] = {"png_1000000x1000000.png", "tiff_1000000x1000000.tif",
                         "heic_1000000x1000000.heic", "avif_1000000x1000000.avif"};
  // What the program needs for a small image, whatever the build (the
  // sanitizers' own tables included): the refused file may add little to it.
  test::TempDir dir;
  const std::string small = test::DataPath("formats/rgb8.heic").string();
  const MeasuredRun baseline =
      RunMeasured({"/w", "8", "/o", (dir / "small.jpg").string(), small}, dir);
  ASSERT_EQ(baseline.status, 0) << baseline.err;
  for (const char* file : files) {
    SCOPED_TRACE(file);
    const std::string output = (dir / "out.jpg").string();
    const MeasuredRun run =
        RunMeasured({"/w", "100", "/o", output, (test::DataPath("limits") / file).string()}, dir);
    EXPECT_EQ(run.status, 148);  // -108 as an exit status
    EXPECT_EQ(run.err, "Error: not enough memory (-108)\n");
    EXPECT_FALSE(std::filesystem::exists(output));
    EXPECT_LT(run.seconds, 2.0);
    EXPECT_LT(run.peakKiB, baseline.peakKiB + 32 * 1024);
  }
}

}  // namespace
