// The real program in a control group with a 60 MB memory limit, made for
// the test below the test's own group (skipped where that cannot be done:
// no group folder of ours, or no right to make one).
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "test_support.h"

namespace fs = std::filesystem;

namespace {

bool WriteTo(const fs::path& file, const std::string& text) {
  std::ofstream out(file);
  out << text;
  out.flush();
  return bool(out);
}

// A child group of this process's own with the limit set; removed when it
// goes (its processes have ended by then).
class LimitedGroup {
 public:
  explicit LimitedGroup(uint64_t bytes) {
    std::ifstream list("/proc/self/cgroup");
    std::string line, v1, v2;
    while (std::getline(list, line)) {
      if (line.rfind("0::", 0) == 0) v2 = line.substr(3);
      const size_t memory = line.find(":memory:");
      if (memory != std::string::npos) v1 = line.substr(memory + 8);
    }
    const std::string name = "tavrel-test-" + std::to_string(getpid());
    if (!v1.empty() && fs::is_directory("/sys/fs/cgroup/memory" + v1)) {
      folder_ = fs::path("/sys/fs/cgroup/memory" + v1) / name;
      if (fs::create_directory(folder_, error_)) {
        made_ = WriteTo(folder_ / "memory.limit_in_bytes", std::to_string(bytes));
      }
    } else if (!v2.empty() && fs::exists("/sys/fs/cgroup" + v2 + "/cgroup.controllers")) {
      const fs::path parent = "/sys/fs/cgroup" + v2;
      folder_ = parent / name;
      WriteTo(parent / "cgroup.subtree_control", "+memory");
      if (fs::create_directory(folder_, error_)) {
        made_ = WriteTo(folder_ / "memory.max", std::to_string(bytes));
      }
    }
  }
  ~LimitedGroup() {
    if (!folder_.empty()) rmdir(folder_.c_str());
  }
  bool Made() const { return made_; }
  // Runs the program inside the group.
  test::RunResult Run(const std::vector<std::string>& args, const fs::path& cwd) const {
    std::vector<std::string> argv = {"/bin/sh", "-c", "echo $$ > \"$0\" && exec \"$@\"",
                                     (folder_ / "cgroup.procs").string(), TAVREL_BINARY};
    argv.insert(argv.end(), args.begin(), args.end());
    return test::RunProgram(argv, cwd.string());
  }

 private:
  fs::path folder_;
  std::error_code error_;
  bool made_ = false;
};

// Under the group's 60 MB what does not fit is refused with -108 and one
// line, where the kernel would kill the process (137) in the middle of its
// write: two whole buffers of 96 MB for a quarter turn, libwebp's working
// memory for 12 MP.
TEST(MemoryGroupRun, WhatIsBeyondTheGroupsLimitIsRefusedNotKilled) {
  LimitedGroup group(60 << 20);
  if (!group.Made()) GTEST_SKIP() << "no memory group can be made here";
  test::TempDir dir;
  const std::string source = test::DataPath("codecs/gradient_baseline.jpg").string();
  ASSERT_EQ(
      test::RunTavrel({"/w", "6000", "/h", "4000", "/o", "big.jpg", source}, dir.path().string())
          .status,
      0);
  const std::vector<std::vector<std::string>> runs = {
      {"/w", "6000", "/h", "4000", "/r", "90", "/o", "out.png", "big.jpg"},
      {"/w", "4000", "/h", "3000", "/c", "webp", "/o", "out.webp", "big.jpg"},
  };
  for (const std::vector<std::string>& args : runs) {
    SCOPED_TRACE(args[7]);
    const test::RunResult r = group.Run(args, dir.path());
    EXPECT_EQ(r.status, -108 & 0xFF) << r.err;
    EXPECT_EQ(r.err, "Error: not enough memory (-108)\n");
    for (const fs::directory_entry& entry : fs::directory_iterator(dir.path())) {
      EXPECT_NE(entry.path().filename().string().rfind(".tavrel-", 0), 0u) << entry.path();
    }
    EXPECT_FALSE(fs::exists(dir / args[7]));
  }
}

}  // namespace
