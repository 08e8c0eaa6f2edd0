// Writing whole files against a hostile folder: a link planted at the
// temporary file's name, and temporary files that killed writers left.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <string>
#include <vector>

#include "base/stale_temporaries.h"
#include "base/stale_temporaries_seam.h"
#include "stream/file_write.h"
#include "stream/file_write_seam.h"
#include "test_support.h"

namespace fs = std::filesystem;

namespace {

std::vector<uint8_t> Bytes(const std::string& s) {
  return std::vector<uint8_t>(s.begin(), s.end());
}

std::vector<std::string> SortedNames(const fs::path& folder) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder)) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

// Where the planted links point, and how many creations to plant one before.
std::string victimPath;
int plantsLeft = 0;

// Plants a link to the victim at the exact name the writer is about to
// create, as an attacker racing the writer would.
int PlantLinkFirst(const char* path, int flags, mode_t mode) {
  if ((flags & O_CREAT) && plantsLeft > 0) {
    --plantsLeft;
    if (symlink(victimPath.c_str(), path) != 0) return -1;
  }
  return ::open(path, flags, mode);
}

class PlantedLinks {
 public:
  PlantedLinks(const fs::path& victim, int count) : saved_(CurrentFileWriteCalls()) {
    victimPath = victim.string();
    plantsLeft = count;
    CurrentFileWriteCalls().open = PlantLinkFirst;
  }
  ~PlantedLinks() { CurrentFileWriteCalls() = saved_; }

 private:
  FileWriteCalls saved_;
};

TEST(WriteFileWholeFaults, ALinkAtTheTemporaryNameCannotRedirectTheWrite) {
  test::TempDir dir;
  test::WriteFileBytes(dir / "victim", Bytes("precious"));
  test::WriteFileBytes(dir / "out.jpg", Bytes("old"));
  {
    PlantedLinks planted(dir / "victim", 1);
    ASSERT_EQ(WriteFileWhole((dir / "out.jpg").string(), Bytes("new image")), noErr);
  }
  EXPECT_EQ(test::ReadFileBytes(dir / "victim"), Bytes("precious"));
  EXPECT_EQ(test::ReadFileBytes(dir / "out.jpg"), Bytes("new image"));
  // The planted link is not ours to remove; nothing else is left.
  const std::vector<std::string> names = SortedNames(dir.path());
  ASSERT_EQ(names.size(), 3u);
  EXPECT_EQ(names[1], "out.jpg");
  EXPECT_EQ(names[2], "victim");
  EXPECT_TRUE(fs::is_symlink(dir / names[0])) << names[0];

  // A folder where every fresh name is taken: the write gives up and the
  // target stays as it was.
  {
    PlantedLinks planted(dir / "victim", 1000);
    EXPECT_NE(WriteFileWhole((dir / "out.jpg").string(), Bytes("newer")), noErr);
  }
  EXPECT_EQ(test::ReadFileBytes(dir / "victim"), Bytes("precious"));
  EXPECT_EQ(test::ReadFileBytes(dir / "out.jpg"), Bytes("new image"));
}

TEST(WriteFileWholeFaults, TemporaryNamesAreRecognisedExactly) {
  int64_t pid = 0;
  EXPECT_TRUE(ParseTemporaryName(".tavrel-4242-0-123456789", &pid));
  EXPECT_EQ(pid, 4242);
  for (const char* name : {".tavrel-4242-0", ".tavrel-4242-0-12x", "x.tavrel-4242-0-1",
                           ".tavrel--0-1", ".tavrel-4242-0-1-", ".tavrel-42 -0-1",
                           "tavrel-4242-0-1", ".tavrel-99999999999999999999-0-1"}) {
    EXPECT_FALSE(ParseTemporaryName(name, &pid)) << name;
  }
}

// The id of a process that has ended.
pid_t EndedProcess() {
  pid_t pid = fork();
  if (pid == 0) _exit(0);
  int status = 0;
  waitpid(pid, &status, 0);
  return pid;
}

void MakeOld(const fs::path& path) {
  const timespec hourAgo{time(nullptr) - 3600, 0};
  const timespec times[2] = {hourAgo, hourAgo};
  ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW), 0) << path;
}

TEST(WriteFileWholeFaults, OnlyOldTemporariesOfEndedWritersAreSwept) {
  test::TempDir dir;
  const std::string dead = std::to_string(EndedProcess());
  const std::string alive = std::to_string(getpid());
  const std::string stale = ".tavrel-" + dead + "-0-111";
  test::WriteFileBytes(dir / stale, Bytes("half an image"));
  MakeOld(dir / stale);
  // Kept: too recent, a live writer (ourselves, init), not the exact name,
  // not a regular file, two names for one file.
  const std::string recent = ".tavrel-" + dead + "-1-222";
  test::WriteFileBytes(dir / recent, Bytes("x"));
  const std::vector<std::string> keptOld = {".tavrel-" + alive + "-0-333", ".tavrel-1-0-444",
                                            ".tavrel-" + dead + "-0-555.jpg", "holiday.jpg"};
  for (const std::string& name : keptOld) {
    test::WriteFileBytes(dir / name, Bytes("x"));
    MakeOld(dir / name);
  }
  const std::string link = ".tavrel-" + dead + "-2-666";
  fs::create_symlink(dir / "holiday.jpg", dir / link);
  MakeOld(dir / link);
  const std::string folder = ".tavrel-" + dead + "-3-777";
  fs::create_directory(dir / folder);
  MakeOld(dir / folder);
  const std::string linked = ".tavrel-" + dead + "-4-888";
  fs::create_hard_link(dir / "holiday.jpg", dir / linked);
  std::vector<std::string> kept = {recent, link, folder, linked};
  if (geteuid() == 0) {
    // Another user's file, which root could remove but must not.
    const std::string foreign = ".tavrel-" + dead + "-5-999";
    test::WriteFileBytes(dir / foreign, Bytes("x"));
    ASSERT_EQ(chown((dir / foreign).c_str(), 65534, 65534), 0);
    MakeOld(dir / foreign);
    kept.push_back(foreign);
  }

  ASSERT_EQ(WriteFileWhole((dir / "out.png").string(), Bytes("image")), noErr);
  EXPECT_FALSE(fs::exists(dir / stale));
  for (const std::string& name : kept) {
    EXPECT_TRUE(fs::exists(fs::symlink_status(dir / name))) << name;
  }
  for (const std::string& name : keptOld) EXPECT_TRUE(fs::exists(dir / name)) << name;
  EXPECT_EQ(test::ReadFileBytes(dir / "out.png"), Bytes("image"));
}

TEST(WriteFileWholeFaults, AFolderIsSweptOnceForManyFiles) {
  test::TempDir dir;
  fs::create_directory(dir / "a");
  fs::create_directory(dir / "b");
  const int64_t before = StaleTemporarySweeps();
  for (int i = 0; i < 5; ++i) {
    for (const char* folder : {"a", "b"}) {
      const fs::path out = dir / folder / ("out" + std::to_string(i) + ".png");
      ASSERT_EQ(WriteFileWhole(out.string(), Bytes("image")), noErr);
    }
  }
  EXPECT_EQ(StaleTemporarySweeps() - before, 2);
}

}  // namespace
