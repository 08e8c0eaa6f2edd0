// The output file under faults, with the real program: a full device, a
// kill at any moment, two runs writing the same file at once. The target is
// always either as it was or complete, and no temporary file is left behind
// except by a process that was killed (and the next write sweeps that one
// once it is old).
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "driver/command_line/checks.h"
#include "driver/job/image_job.h"
#include "platform/quicktime.h"
#include "png_files.h"
#include "resample/resampler_seam.h"
#include "test_support.h"

namespace fs = std::filesystem;

namespace {

bool IsTemporaryName(const std::string& name) {
  return name.rfind(".tavrel-", 0) == 0;
}

std::vector<std::string> Temporaries(const fs::path& folder) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder)) {
    const std::string name = entry.path().filename().string();
    if (IsTemporaryName(name)) names.push_back(name);
  }
  return names;
}

// Starts the program without waiting for it; its output goes to stdoutFd,
// or nowhere.
pid_t StartTavrel(const std::vector<std::string>& args, const fs::path& cwd, int stdoutFd = -1) {
  std::vector<std::string> argv{TAVREL_BINARY};
  argv.insert(argv.end(), args.begin(), args.end());
  const pid_t pid = fork();
  if (pid == 0) {
    const int null = open("/dev/null", O_RDWR);
    dup2(null, 0);
    dup2(stdoutFd >= 0 ? stdoutFd : null, 1);
    dup2(null, 2);
    if (chdir(cwd.c_str()) != 0) _exit(126);
    std::vector<char*> raw;
    for (std::string& a : argv) raw.push_back(a.data());
    raw.push_back(nullptr);
    execv(raw[0], raw.data());
    _exit(127);
  }
  return pid;
}

// Runs the program with its standard output on fd; its exit status.
int RunWithStdout(const std::vector<std::string>& args, const fs::path& cwd, int fd) {
  return test::WaitForExit(StartTavrel(args, cwd, fd));
}

// A folder with in.png, a test pattern of the given size.
class OutputFaults : public ::testing::Test {
 protected:
  void MakeInput(int32_t width, int32_t height) {
    ASSERT_TRUE(test::WritePng(dir_ / "in.png", test::MakeTestPattern(width, height, 8, 3)));
  }
  // Noise, so that the output does not compress and takes a while to write.
  void MakeNoiseInput(int32_t width, int32_t height) {
    test::PngPixels noise{width, height, 8, 3, {}, {}};
    std::mt19937 random(5);
    noise.samples.resize(size_t(width) * size_t(height) * 3);
    for (uint16_t& sample : noise.samples) sample = uint16_t(random() & 0xFF);
    ASSERT_TRUE(test::WritePng(dir_ / "in.png", noise));
  }
  // Runs to the end, writing name; gives its bytes.
  std::vector<uint8_t> Reference(const std::vector<std::string>& flags, const std::string& name) {
    std::vector<std::string> args = flags;
    args.insert(args.end(), {"/c", "png", "/o", name, "in.png"});
    const test::RunResult r = test::RunTavrel(args, dir_.path().string());
    EXPECT_EQ(r.status, 0) << r.err;
    return test::ReadFileBytes(dir_ / name);
  }
  std::vector<std::string> Job(const std::vector<std::string>& flags, const std::string& name) {
    std::vector<std::string> args = flags;
    args.insert(args.end(), {"/c", "png", "/o", name, "in.png"});
    return args;
  }

  test::TempDir dir_;
};

TEST_F(OutputFaults, AFullDeviceIsReportedAsTheWriteFailing) {
  MakeInput(8, 6);
  const test::RunResult r =
      test::RunTavrel({"/w", "4", "/c", "png", "/o", "/dev/full", "in.png"}, dir_.path().string());
  // dskFulErr, named with the output file as the writing stage does.
  EXPECT_EQ(r.status, -34 & 0xFF);
  EXPECT_EQ(r.err, "Error code: \"/dev/full\": -34\n");
}

TEST_F(OutputFaults, AKillLeavesTheOldFileOrTheWholeNewOne) {
  MakeNoiseInput(900, 700);
  const std::vector<std::string> flags = {"/%", "100"};
  const auto start = std::chrono::steady_clock::now();
  const std::vector<uint8_t> complete = Reference(flags, "complete.png");
  const auto whole = std::chrono::steady_clock::now() - start;
  ASSERT_GT(complete.size(), 1000000u) << "large enough to take a while to write";
  const std::vector<uint8_t> old = Reference({"/w", "10"}, "out.png");

  std::mt19937 random(77);
  const auto micros = std::chrono::duration_cast<std::chrono::microseconds>(whole).count();
  std::set<std::string> left;
  for (int round = 0; round < 6; ++round) {
    test::WriteFileBytes(dir_ / "out.png", old);
    const pid_t pid = StartTavrel(Job(flags, "out.png"), dir_.path());
    if (round % 2 == 0) {
      // Anywhere in the run.
      std::this_thread::sleep_for(std::chrono::microseconds(random() % (micros + micros / 4)));
    } else {
      // Inside the write: once its temporary file exists, within 3 ms.
      const std::string mine = ".tavrel-" + std::to_string(pid) + "-";
      const auto deadline = std::chrono::steady_clock::now() + 4 * whole;
      auto started = [&] {
        for (const std::string& name : Temporaries(dir_.path())) {
          if (name.rfind(mine, 0) == 0) return true;
        }
        return false;
      };
      while (!started() && std::chrono::steady_clock::now() < deadline) {
      }
      std::this_thread::sleep_for(std::chrono::microseconds(random() % 3000));
    }
    kill(pid, SIGKILL);
    test::WaitForExit(pid);

    const std::vector<uint8_t> now = test::ReadFileBytes(dir_ / "out.png");
    EXPECT_TRUE(now == old || now == complete) << "round " << round << ": " << now.size();
    // A killed writer cannot remove its temporary file: at most its one is
    // new. Earlier ones stay until a write that gets that far sweeps them.
    int fresh = 0;
    for (const std::string& name : Temporaries(dir_.path())) {
      if (!left.insert(name).second) continue;
      ++fresh;
      EXPECT_EQ(name.rfind(".tavrel-" + std::to_string(pid) + "-", 0), 0u) << name;
      // Aged as if the kill were an hour ago, so that a later write sweeps it.
      const timespec hourAgo{time(nullptr) - 3600, 0};
      const timespec times[2] = {hourAgo, hourAgo};
      utimensat(AT_FDCWD, (dir_ / name).c_str(), times, 0);
    }
    EXPECT_LE(fresh, 1) << "round " << round;
  }
  const test::RunResult last = test::RunTavrel(Job(flags, "out.png"), dir_.path().string());
  EXPECT_EQ(last.status, 0) << last.err;
  EXPECT_TRUE(test::ReadFileBytes(dir_ / "out.png") == complete);
  EXPECT_TRUE(Temporaries(dir_.path()).empty());
}

// Ended by a signal a caller sends (timeout(1), Ctrl-C, a service stop, a
// closed terminal or pipe) while the output is written: the process ends
// with that signal, the target is old or complete, and no temporary stays.
TEST_F(OutputFaults, ASignalDuringTheWriteRemovesTheTemporary) {
  MakeNoiseInput(900, 700);
  const std::vector<std::string> flags = {"/%", "100"};
  const std::vector<uint8_t> complete = Reference(flags, "complete.png");
  const std::vector<uint8_t> old = Reference({"/w", "10"}, "out.png");
  for (int signal : {SIGTERM, SIGINT, SIGHUP, SIGPIPE}) {
    test::WriteFileBytes(dir_ / "out.png", old);
    const pid_t pid = StartTavrel(Job(flags, "out.png"), dir_.path());
    const std::string mine = ".tavrel-" + std::to_string(pid) + "-";
    auto started = [&] {
      for (const std::string& name : Temporaries(dir_.path())) {
        if (name.rfind(mine, 0) == 0) return true;
      }
      return false;
    };
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!started() && std::chrono::steady_clock::now() < deadline) {
    }
    ASSERT_TRUE(started()) << strsignal(signal);
    kill(pid, signal);
    const int status = test::WaitForExit(pid);
    const std::vector<uint8_t> now = test::ReadFileBytes(dir_ / "out.png");
    EXPECT_TRUE(now == old || now == complete) << strsignal(signal);
    EXPECT_TRUE(Temporaries(dir_.path()).empty()) << strsignal(signal);
    // Ended by the signal, unless the run was done before it came.
    EXPECT_TRUE(status == 128 + signal || (status == 0 && now == complete)) << status;
  }
}

// SIGKILL (the kernel's answer to a memory limit) lets no handler run: the
// temporary stays, and the next write into the folder removes it once it is
// old enough that no live writer can own it.
TEST_F(OutputFaults, ATemporaryLeftByAKilledRunIsSweptOnceOld) {
  MakeNoiseInput(2000, 1500);
  const pid_t pid = StartTavrel(Job({"/%", "100"}, "out.png"), dir_.path());
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (Temporaries(dir_.path()).empty() && std::chrono::steady_clock::now() < deadline) {
  }
  kill(pid, SIGKILL);
  test::WaitForExit(pid);
  const std::vector<std::string> left = Temporaries(dir_.path());
  ASSERT_EQ(left.size(), 1u);
  for (bool aged : {false, true}) {
    if (aged) {
      const timespec hourAgo{time(nullptr) - 3600, 0};
      const timespec times[2] = {hourAgo, hourAgo};
      utimensat(AT_FDCWD, (dir_ / left[0]).c_str(), times, 0);
    }
    const test::RunResult r = test::RunTavrel(Job({"/w", "10"}, "small.png"), dir_.path().string());
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(Temporaries(dir_.path()), aged ? std::vector<std::string>() : left);
  }
}

// Eight jobs writing ten sizes each hold 80 temporaries at once: a signal
// among them removes every one.
TEST_F(OutputFaults, ASignalDuringABatchRemovesEveryTemporary) {
  MakeNoiseInput(1500, 1000);
  std::vector<std::string> args = {
      "//jobs", "8",   "//sizes", "1400,1300,1200,1100,1000,900,800,700,600,500",
      "/c",     "png", "/o",      "{name}-{w}.png",
      "//each"};
  for (int i = 0; i < 8; ++i) {
    const std::string name = "in" + std::to_string(i) + ".png";
    fs::copy_file(dir_ / "in.png", dir_ / name);
    args.push_back(name);
  }
  const pid_t pid = StartTavrel(args, dir_.path());
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  size_t most = 0;
  while (most <= 64 && std::chrono::steady_clock::now() < deadline) {
    most = std::max(most, Temporaries(dir_.path()).size());
  }
  ASSERT_GT(most, 64u) << "fewer outputs written at once than the test needs";
  kill(pid, SIGTERM);
  const int status = test::WaitForExit(pid);
  EXPECT_EQ(Temporaries(dir_.path()), std::vector<std::string>()) << most;
  EXPECT_EQ(status, 128 + SIGTERM);
}

// /o naming the standard output writes to the descriptor the caller gave,
// whatever file it is: one already unlinked, one opened for appending.
TEST_F(OutputFaults, TheStandardOutputIsWrittenThroughItsDescriptor) {
  MakeInput(60, 40);
  const std::vector<uint8_t> image = Reference({"/w", "30"}, "reference.png");
  for (const char* name : {"/dev/stdout", "/proc/self/fd/1", "/dev/fd/1"}) {
    const fs::path unlinked = dir_ / "unlinked";
    const int anonymous = open(unlinked.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0600);
    ASSERT_GE(anonymous, 0);
    fs::remove(unlinked);
    EXPECT_EQ(
        RunWithStdout({"/w", "30", "/c", "png", "/o", name, "in.png"}, dir_.path(), anonymous), 0)
        << name;
    std::vector<uint8_t> got(image.size() + 1);
    EXPECT_EQ(pread(anonymous, got.data(), got.size(), 0), ssize_t(image.size())) << name;
    got.resize(image.size());
    EXPECT_TRUE(got == image) << name;
    close(anonymous);

    test::WriteFileBytes(dir_ / "log", {'l', 'o', 'g', '\n'});
    const int log = open((dir_ / "log").c_str(), O_WRONLY | O_APPEND);
    ASSERT_GE(log, 0);
    EXPECT_EQ(RunWithStdout({"/w", "30", "/c", "png", "/o", name, "in.png"}, dir_.path(), log), 0);
    close(log);
    std::vector<uint8_t> expected = {'l', 'o', 'g', '\n'};
    expected.insert(expected.end(), image.begin(), image.end());
    EXPECT_TRUE(test::ReadFileBytes(dir_ / "log") == expected) << name;
    for (const auto& entry : fs::directory_iterator(dir_.path())) {
      EXPECT_EQ(entry.path().filename().string().find("(deleted)"), std::string::npos);
    }
  }
}

// An output that is a link to a file not made yet: the file is made where
// the link leads and the link stays; a folder it leads into that does not
// exist is reported as a missing folder.
TEST_F(OutputFaults, ALinkToNoFileYetIsWrittenThrough) {
  MakeInput(60, 40);
  const std::vector<uint8_t> image = Reference({"/w", "30"}, "reference.png");
  fs::create_directory(dir_ / "renders");
  fs::create_symlink("renders/out.png", dir_ / "out.png");
  EXPECT_EQ(test::RunTavrel(Job({"/w", "30"}, "out.png"), dir_.path().string()).status, 0);
  EXPECT_TRUE(fs::is_symlink(dir_ / "out.png"));
  EXPECT_TRUE(test::ReadFileBytes(dir_ / "renders" / "out.png") == image);

  fs::create_symlink("missing/out.png", dir_ / "lost.png");
  const test::RunResult lost = test::RunTavrel(Job({"/w", "30"}, "lost.png"), dir_.path().string());
  EXPECT_EQ(lost.status, -43 & 0xFF);
  EXPECT_EQ(lost.err, "Error: \"lost.png\": file not found (-43)\n");
  EXPECT_TRUE(fs::is_symlink(dir_ / "lost.png"));

  // A stranger's link in a sticky folder anyone may write is not followed,
  // as the kernel refuses to for an open.
  if (geteuid() != 0) return;
  fs::create_directory(dir_ / "shared");
  ASSERT_EQ(chmod((dir_ / "shared").c_str(), 01777), 0);
  fs::create_symlink("../renders/planted.png", dir_ / "shared" / "out.png");
  ASSERT_EQ(lchown((dir_ / "shared" / "out.png").c_str(), 65534, 65534), 0);
  const test::RunResult planted =
      test::RunTavrel(Job({"/w", "30"}, "shared/out.png"), dir_.path().string());
  EXPECT_EQ(planted.status, -5000 & 0xFF);
  EXPECT_FALSE(fs::exists(dir_ / "renders" / "planted.png"));
}

// An export that fails at once (its folder is missing) stops the resampler
// before it instead of letting it run to the end: enlarging a small image to
// 8000 rows, the resampler makes few more rows than its ring holds. (The
// drawer decodes on, as its failure would outrank the export's.)
TEST_F(OutputFaults, AnExportThatFailsAtOnceStopsTheResampler) {
  ASSERT_EQ(StartQuickTime(0), noErr);
  JobSettings job;
  job.inputPath = test::DataPath("codecs/gradient_baseline.jpg").string();
  job.width = 12000;
  job.height = 8000;
  auto rowsMade = [&](const fs::path& output, int32_t* code) {
    job.outputName = output.string();
    JobSettings checked = job;
    std::vector<Note> notes;
    RunChecks(checked, notes);
    const int64_t before = BandRowsMade();
    *code = RunImageJob(checked).code;
    return BandRowsMade() - before;
  };
  int32_t code = noErr;
  ASSERT_EQ(rowsMade(dir_ / "whole.jpg", &code), 8000);
  ASSERT_EQ(code, noErr);
  EXPECT_LT(rowsMade(dir_ / "missing" / "out.jpg", &code), 8000 / 20);
  EXPECT_EQ(code, -43);
  StopQuickTime();
}

TEST_F(OutputFaults, TwoRunsWritingOneFileLeaveOneWholeOutput) {
  MakeInput(600, 450);
  const std::vector<uint8_t> wide = Reference({"/w", "550"}, "wide.png");
  const std::vector<uint8_t> narrow = Reference({"/w", "400"}, "narrow.png");
  for (int round = 0; round < 3; ++round) {
    const pid_t first = StartTavrel(Job({"/w", "550"}, "out.png"), dir_.path());
    const pid_t second = StartTavrel(Job({"/w", "400"}, "out.png"), dir_.path());
    EXPECT_EQ(test::WaitForExit(first), 0);
    EXPECT_EQ(test::WaitForExit(second), 0);
    const std::vector<uint8_t> now = test::ReadFileBytes(dir_ / "out.png");
    EXPECT_TRUE(now == wide || now == narrow) << "round " << round << ": " << now.size();
    EXPECT_TRUE(Temporaries(dir_.path()).empty()) << "round " << round;
  }
}

}  // namespace
