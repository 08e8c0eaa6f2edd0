// Peak memory of a 24-megapixel resize against its two pixel buffers: the
// job holds the source and the destination and little else.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <string>
#include <vector>

#include "png_files.h"
#include "test_support.h"

namespace {

// Runs the program to its end; gives its peak resident size in bytes, or 0.
uint64_t PeakResidentBytes(const std::vector<std::string>& args, const std::string& cwd) {
  std::vector<std::string> argv{TAVREL_BINARY};
  argv.insert(argv.end(), args.begin(), args.end());
  const pid_t pid = fork();
  if (pid == 0) {
    const int null = open("/dev/null", O_RDWR);
    dup2(null, 0);
    dup2(null, 1);
    dup2(null, 2);
    if (chdir(cwd.c_str()) != 0) _exit(126);
    std::vector<char*> raw;
    for (std::string& a : argv) raw.push_back(a.data());
    raw.push_back(nullptr);
    execv(raw[0], raw.data());
    _exit(127);
  }
  int status = 0;
  rusage usage{};
  if (wait4(pid, &status, 0, &usage) != pid) return 0;
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return 0;
  return uint64_t(usage.ru_maxrss) * 1024;  // kilobytes on Linux
}

TEST(PeakMemory, TwentyFourMegapixelJpegResizeHoldsLittleBeyondItsBuffers) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "the address sanitizer's shadow memory and quarantine count as resident";
#endif
  test::TempDir dir;
  ASSERT_TRUE(test::WritePng(dir / "small.png", test::MakeTestPattern(600, 400, 8, 3)));
  const test::RunResult made = test::RunTavrel(
      {"/w", "6000", "/h", "4000", "/o", "big.jpg", "small.png"}, dir.path().string());
  ASSERT_EQ(made.status, 0) << made.err;

  const uint64_t peak = PeakResidentBytes({"/w", "1500", "/h", "1000", "/o", "out.jpg", "big.jpg"},
                                          dir.path().string());
  ASSERT_GT(peak, 0u);
  const uint64_t buffers = 6000ull * 4000 * 4 + 1500ull * 1000 * 4;
  // The libraries' code and the file's bytes come on top; measured some
  // 12 MB here. The bound is generous: a third buffer would break it.
  EXPECT_LT(peak, buffers + (48ull << 20)) << "peak " << peak << " against " << buffers;
}

}  // namespace
