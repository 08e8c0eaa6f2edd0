#include "platform/file_write.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/file_write_seam.h"
#include "test_support.h"

namespace fs = std::filesystem;

namespace {

std::vector<uint8_t> Bytes(const std::string& s) {
  return std::vector<uint8_t>(s.begin(), s.end());
}

mode_t ModeOf(const fs::path& path) {
  struct stat info;
  EXPECT_EQ(stat(path.c_str(), &info), 0);
  return info.st_mode & 07777;
}

// Names in the folder other than the ones expected: left-over temporary files.
std::vector<std::string> Names(const fs::path& folder) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder)) {
    names.push_back(entry.path().filename().string());
  }
  return names;
}

// Puts system calls that fail into the seam for the life of the object.
class FailingCalls {
 public:
  FailingCalls(decltype(FileWriteCalls::open) open, decltype(FileWriteCalls::write) write)
      : saved_(CurrentFileWriteCalls()) {
    if (open) CurrentFileWriteCalls().open = open;
    if (write) CurrentFileWriteCalls().write = write;
  }
  ~FailingCalls() { CurrentFileWriteCalls() = saved_; }

 private:
  FileWriteCalls saved_;
};

// Writes half of what it is given, then finds the disk full.
ssize_t HalfThenFull(int fd, const void* data, size_t size) {
  static bool wrote = false;
  if (!wrote && size > 1) {
    wrote = true;
    return ::write(fd, data, size / 2);
  }
  wrote = false;
  errno = ENOSPC;
  return -1;
}

int RefuseCreate(const char*, int flags, mode_t) {
  errno = (flags & O_CREAT) ? EACCES : ENOENT;
  return -1;
}

TEST(WriteFileWhole, NewFileGetsTheBytesAndTheUsualPermissions) {
  test::TempDir dir;
  mode_t old = umask(022);
  OSErr err = WriteFileWhole((dir / "new.bin").string(), Bytes("hello"));
  umask(old);
  ASSERT_EQ(err, noErr);
  EXPECT_EQ(test::ReadFileBytes(dir / "new.bin"), Bytes("hello"));
  EXPECT_EQ(ModeOf(dir / "new.bin"), 0644u);
  EXPECT_EQ(Names(dir.path()), std::vector<std::string>{"new.bin"});
}

TEST(WriteFileWhole, ReplacingKeepsPermissionsAndFollowsLinks) {
  test::TempDir dir;
  test::WriteFileBytes(dir / "old.jpg", Bytes("a much longer old content"));
  ASSERT_EQ(chmod((dir / "old.jpg").c_str(), 0640), 0);
  ASSERT_EQ(WriteFileWhole((dir / "old.jpg").string(), Bytes("new")), noErr);
  EXPECT_EQ(test::ReadFileBytes(dir / "old.jpg"), Bytes("new"));
  EXPECT_EQ(ModeOf(dir / "old.jpg"), 0640u);

  fs::create_symlink(dir / "old.jpg", dir / "link.jpg");
  ASSERT_EQ(WriteFileWhole((dir / "link.jpg").string(), Bytes("through the link")), noErr);
  EXPECT_TRUE(fs::is_symlink(dir / "link.jpg"));
  EXPECT_EQ(test::ReadFileBytes(dir / "old.jpg"), Bytes("through the link"));
  EXPECT_EQ(Names(dir.path()).size(), 2u);
}

TEST(WriteFileWhole, AFailedWriteLeavesTheOldFileAndNoTemporary) {
  test::TempDir dir;
  test::WriteFileBytes(dir / "keep.png", Bytes("old"));
  {
    FailingCalls full(nullptr, HalfThenFull);
    EXPECT_EQ(WriteFileWhole((dir / "keep.png").string(), std::vector<uint8_t>(100000, 7)),
              dskFulErr);
    EXPECT_EQ(WriteFileWhole((dir / "fresh.png").string(), std::vector<uint8_t>(10, 7)), dskFulErr);
  }
  EXPECT_EQ(test::ReadFileBytes(dir / "keep.png"), Bytes("old"));
  EXPECT_EQ(Names(dir.path()), std::vector<std::string>{"keep.png"});
}

TEST(WriteFileWhole, FoldersThatAreMissingOrRefuseWritingAreReported) {
  test::TempDir dir;
  EXPECT_EQ(WriteFileWhole((dir / "no/such/folder/x.jpg").string(), Bytes("x")), fnfErr);
  test::WriteFileBytes(dir / "file", Bytes("x"));
  EXPECT_EQ(WriteFileWhole((dir / "file/x.jpg").string(), Bytes("x")), fnfErr);
  EXPECT_EQ(WriteFileWhole(dir.path().string(), Bytes("x")), accessDeniedErr);

  fs::create_directory(dir / "locked");
  if (geteuid() == 0) {
    // Root writes anywhere: the refusal comes from the seam instead.
    FailingCalls refuse(RefuseCreate, nullptr);
    EXPECT_EQ(WriteFileWhole((dir / "locked/x.jpg").string(), Bytes("x")), accessDeniedErr);
  } else {
    ASSERT_EQ(chmod((dir / "locked").c_str(), 0555), 0);
    EXPECT_EQ(WriteFileWhole((dir / "locked/x.jpg").string(), Bytes("x")), accessDeniedErr);
    chmod((dir / "locked").c_str(), 0755);
  }
  EXPECT_TRUE(fs::is_empty(dir / "locked"));
}

TEST(WriteFileWhole, DevicesAreWrittenInPlace) {
  ASSERT_EQ(WriteFileWhole("/dev/null", Bytes("discarded")), noErr);
  struct stat info;
  ASSERT_EQ(stat("/dev/null", &info), 0);
  EXPECT_TRUE(S_ISCHR(info.st_mode));
}

}  // namespace
