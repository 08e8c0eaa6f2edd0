// The report under faults, with the real program: a device that takes
// nothing, a file that stops growing (as on a full disk), a run ended by a
// signal. The report holds whole lines only, every output it lists exists,
// every output that exists is whole; a report that lost a line fails the
// run and says so, and a run cut short says that as the report's last line.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "png_files.h"
#include "test_support.h"

namespace fs = std::filesystem;

namespace {

constexpr int kInputs = 40;

std::string Text(const fs::path& path) {
  const std::vector<uint8_t> bytes = test::ReadFileBytes(path);
  return std::string(bytes.begin(), bytes.end());
}

// The value of a string field in a report line, or "" (null too).
std::string Field(const std::string& line, const std::string& name) {
  const std::string key = "\"" + name + "\":\"";
  const size_t start = line.find(key);
  if (start == std::string::npos) return "";
  const size_t from = start + key.size();
  return line.substr(from, line.find('"', from) - from);
}

// in/p<i>.png; appended, not concatenated: GCC 12 warns wrongly on the latter.
std::string InputName(int i) {
  std::string name = "in/p";
  name += std::to_string(i);
  name += ".png";
  return name;
}

// Starts a batch over in/ into out/ reporting to report; its standard error
// goes to err.txt. fileLimit, when not 0, caps the size of every file it
// writes, as a full disk would stop them: SIGXFSZ ignored, writes past the
// cap fail with EFBIG.
pid_t StartBatch(const fs::path& dir, const std::string& report, rlim_t fileLimit) {
  std::vector<std::string> argv = {TAVREL_BINARY, "//each",         "/w",       "8",   "/c", "png",
                                   "/o",          "out/{name}.png", "//report", report};
  for (int i = 0; i < kInputs; ++i) argv.push_back(InputName(i));
  const pid_t pid = fork();
  if (pid == 0) {
    const int null = open("/dev/null", O_RDWR);
    const int err = open((dir / "err.txt").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    dup2(null, 0);
    dup2(null, 1);
    dup2(err, 2);
    if (chdir(dir.c_str()) != 0) _exit(126);
    if (fileLimit != 0) {
      const rlimit limit{fileLimit, fileLimit};
      signal(SIGXFSZ, SIG_IGN);
      if (setrlimit(RLIMIT_FSIZE, &limit) != 0) _exit(125);
    }
    std::vector<char*> raw;
    for (std::string& a : argv) raw.push_back(a.data());
    raw.push_back(nullptr);
    execv(raw[0], raw.data());
    _exit(127);
  }
  return pid;
}

struct Fault {
  const char* what;
  std::string report;
  rlim_t fileLimit;  // bytes a file may hold; 0: no cap
  int signal;        // sent once the report has a line; 0: none
};

TEST(ReportFaults, TheReportIsWholeOrTheRunSaysItIsNot) {
  test::TempDir dir;
  // Noise, so that each input takes a while to read and a signal finds the
  // run busy; the outputs, 8 pixels wide, stay far below the cap.
  test::PngPixels noise{600, 400, 8, 3, {}, {}};
  std::mt19937 random(9);
  noise.samples.resize(size_t(noise.width) * size_t(noise.height) * 3);
  for (uint16_t& sample : noise.samples) sample = uint16_t(random() & 0xFF);
  fs::create_directories(dir / "in");
  ASSERT_TRUE(test::WritePng(dir / "in/p0.png", noise));
  for (int i = 1; i < kInputs; ++i) {
    fs::copy_file(dir / "in/p0.png", dir / InputName(i));
  }
  const test::RunResult single = test::RunTavrel(
      {"/w", "8", "/c", "png", "/o", "single.png", "in/p0.png"}, dir.path().string());
  ASSERT_EQ(single.status, 0) << single.err;
  const std::vector<uint8_t> whole = test::ReadFileBytes(dir / "single.png");
  ASSERT_LT(whole.size(), 1000u);

  const Fault faults[] = {
      {"a device that takes nothing", "/dev/full", 0, 0},
      {"a report that stops growing mid-line", "report.json", 1000, 0},
      {"SIGINT mid-run", "report.json", 0, SIGINT},
      {"SIGTERM mid-run", "report.json", 0, SIGTERM},
  };
  for (const Fault& fault : faults) {
    SCOPED_TRACE(fault.what);
    fs::remove_all(dir / "out");
    fs::remove(dir / "report.json");
    const pid_t pid = StartBatch(dir.path(), fault.report, fault.fileLimit);
    if (fault.signal != 0) {
      const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
      const auto hasLine = [&] {
        std::error_code ec;
        const uintmax_t size = fs::file_size(dir / "report.json", ec);
        return !ec && size > 0;
      };
      while (!hasLine() && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
      }
      kill(pid, fault.signal);
    }
    const int status = test::WaitForExit(pid);

    std::vector<std::string> lines;
    if (fault.report != "/dev/full") {
      const std::string report = Text(dir / "report.json");
      EXPECT_TRUE(report.empty() || report.back() == '\n') << "a half line ends it";
      std::istringstream in(report);
      for (std::string line; std::getline(in, line);) lines.push_back(line);
    }
    std::set<std::string> listed;
    for (const std::string& line : lines) {
      EXPECT_EQ(line.rfind("{\"version\":1,", 0), 0u) << line;
      EXPECT_EQ(line.back(), '}') << line;
      if (Field(line, "status") == "ok") listed.insert(Field(line, "output"));
    }
    std::error_code ec;
    int written = 0;
    for (const auto& entry : fs::directory_iterator(dir / "out", ec)) {
      ++written;
      EXPECT_TRUE(test::ReadFileBytes(entry.path()) == whole) << entry.path() << " is not whole";
    }
    for (const std::string& output : listed) EXPECT_TRUE(fs::exists(dir / output)) << output;

    if (fault.signal == 0) {
      EXPECT_EQ(status, -34 & 0xFF);  // dskFulErr, as an output on a full disk
      EXPECT_EQ(Text(dir / "err.txt"), "Error code: \"" + fault.report + "\": -34\n");
      EXPECT_LT(written, kInputs) << "the run went on past its report";
    } else {
      ASSERT_EQ(status, 128 + fault.signal) << "the run ended before the signal";
      ASSERT_FALSE(lines.empty());
      const std::string& last = lines.back();
      EXPECT_NE(
          last.find("\"input\":null,\"output\":null,\"status\":\"interrupted\",\"code\":-128"),
          std::string::npos)
          << last;
      EXPECT_EQ(std::count(lines.begin(), lines.end(), last), 1);
    }
  }
}

}  // namespace
