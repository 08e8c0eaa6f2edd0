#include "stream/file_write.h"

#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "stream/file_write_seam.h"
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

// Small pieces gathered, large ones passed through, a header filled in
// after the data, a gap past the end: the file holds exactly what a vector
// written the same way would, and can be read back while it is made.
TEST(OutputFile, WritesAppendedAndFilledInMakeTheFile) {
  test::TempDir dir;
  test::WriteFileBytes(dir / "out.tif", Bytes("old"));
  std::vector<uint8_t> expected(8, 0);
  OutputFile file;
  ASSERT_EQ(file.Open((dir / "out.tif").string()), noErr);
  EXPECT_FALSE(file.Direct());
  ASSERT_EQ(file.Write(std::vector<uint8_t>(8, 0)), noErr);
  for (int piece = 0; piece < 3000; ++piece) {
    const std::vector<uint8_t> bytes(size_t(piece % 700), uint8_t(piece));
    ASSERT_EQ(file.Write(bytes), noErr);
    expected.insert(expected.end(), bytes.begin(), bytes.end());
  }
  const std::vector<uint8_t> large(3u << 20, 0x5A);
  ASSERT_EQ(file.Write(large), noErr);
  expected.insert(expected.end(), large.begin(), large.end());
  ASSERT_EQ(file.Write(Bytes("tail")), noErr);  // buffered when filled in below
  expected.insert(expected.end(), {'t', 'a', 'i', 'l'});
  const std::vector<uint8_t> header = Bytes("HEADER");
  ASSERT_EQ(file.WriteAt(2, header), noErr);
  std::copy(header.begin(), header.end(), expected.begin() + 2);
  ASSERT_EQ(file.Write(Bytes("after")), noErr);
  expected.insert(expected.end(), {'a', 'f', 't', 'e', 'r'});
  ASSERT_EQ(file.WriteAt(expected.size() + 3, Bytes("end")), noErr);
  expected.insert(expected.end(), {0, 0, 0, 'e', 'n', 'd'});
  ASSERT_EQ(file.Size(), expected.size());

  std::vector<uint8_t> back(10);
  size_t got = 0;
  ASSERT_EQ(file.ReadAt(expected.size() - 8, back, &got), noErr);
  EXPECT_EQ(got, 8u);
  EXPECT_TRUE(std::equal(back.begin(), back.begin() + 8, expected.end() - 8));
  EXPECT_EQ(test::ReadFileBytes(dir / "out.tif"), Bytes("old")) << "not in place before Commit";
  ASSERT_EQ(file.Commit(), noErr);
  EXPECT_EQ(test::ReadFileBytes(dir / "out.tif"), expected);
  EXPECT_EQ(Names(dir.path()), std::vector<std::string>{"out.tif"});
}

// A write that fails part of the way through a streamed file, or a file
// given up before Commit, leaves the old file and no temporary.
TEST(OutputFile, FailingOrAbandonedLeavesTheOldFileAndNoTemporary) {
  test::TempDir dir;
  test::WriteFileBytes(dir / "keep.png", Bytes("old"));
  {
    FailingCalls full(nullptr, HalfThenFull);
    OutputFile file;
    ASSERT_EQ(file.Open((dir / "keep.png").string()), noErr);
    OSErr err = noErr;
    for (int piece = 0; piece < 64 && err == noErr; ++piece) {
      err = file.Write(std::vector<uint8_t>(100000, 7));
    }
    EXPECT_EQ(err, dskFulErr) << "the failure shows while writing, not only at the end";
    EXPECT_EQ(file.Write(Bytes("more")), dskFulErr);
    EXPECT_EQ(file.Commit(), dskFulErr);
  }
  {
    OutputFile file;
    ASSERT_EQ(file.Open((dir / "keep.png").string()), noErr);
    ASSERT_EQ(file.Write(std::vector<uint8_t>(3u << 20, 7)), noErr);
    EXPECT_EQ(Names(dir.path()).size(), 2u) << "the temporary file is being filled";
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

// Runs WriteFileWhole as the given user (the unprivileged "nobody" when
// run as root), in a child so that the test keeps its own rights.
OSErr WriteAs(uid_t user, const fs::path& path, const std::string& text) {
  int result[2];
  if (pipe(result) != 0) return ioErr;
  pid_t pid = fork();
  if (pid == 0) {
    OSErr err = paramErr;
    if (setgroups(0, nullptr) == 0 && setgid(user) == 0 && setuid(user) == 0) {
      err = WriteFileWhole(path.string(), Bytes(text));
    }
    [[maybe_unused]] ssize_t n = write(result[1], &err, sizeof err);
    _exit(0);
  }
  close(result[1]);
  OSErr err = ioErr;
  if (read(result[0], &err, sizeof err) != sizeof err) err = ioErr;
  close(result[0]);
  waitpid(pid, nullptr, 0);
  return err;
}

constexpr uid_t kNobody = 65534;

}  // namespace

namespace {

// The kernel decides what may be replaced, as it does for cp: a file the
// caller may not write is refused and left as it was.
TEST(WriteFileWhole, TargetsTheCallerMayNotWriteAreRefused) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to act as another user";
  test::TempDir dir;
  ASSERT_EQ(chmod(dir.path().c_str(), 0777), 0);
  test::WriteFileBytes(dir / "read-only.jpg", Bytes("keep"));
  ASSERT_EQ(chown((dir / "read-only.jpg").c_str(), kNobody, kNobody), 0);
  ASSERT_EQ(chmod((dir / "read-only.jpg").c_str(), 0444), 0);
  test::WriteFileBytes(dir / "roots.jpg", Bytes("keep"));  // 0644, owned by root
  for (const char* name : {"read-only.jpg", "roots.jpg"}) {
    EXPECT_EQ(WriteAs(kNobody, dir / name, "replaced"), accessDeniedErr) << name;
    EXPECT_EQ(test::ReadFileBytes(dir / name), Bytes("keep")) << name;
  }
  EXPECT_EQ(WriteAs(kNobody, dir / "new.jpg", "new"), noErr);
  EXPECT_EQ(Names(dir.path()).size(), 3u) << "no temporary file is left";

  // A link that another user planted in a sticky folder is not followed by
  // root where the system protects such links.
  std::ifstream protectedLinks("/proc/sys/fs/protected_symlinks");
  int protection = 0;
  if ((protectedLinks >> protection) && protection != 0) {
    fs::create_directory(dir / "sticky");
    ASSERT_EQ(chmod((dir / "sticky").c_str(), 01777), 0);
    fs::create_symlink(dir / "roots.jpg", dir / "sticky/planted.jpg");
    ASSERT_EQ(lchown((dir / "sticky/planted.jpg").c_str(), kNobody, kNobody), 0);
    EXPECT_EQ(WriteFileWhole((dir / "sticky/planted.jpg").string(), Bytes("x")), accessDeniedErr);
    EXPECT_EQ(test::ReadFileBytes(dir / "roots.jpg"), Bytes("keep"));
  }
}

TEST(WriteFileWhole, APipeWithoutAReaderIsAnErrorNotAWait) {
  test::TempDir dir;
  ASSERT_EQ(mkfifo((dir / "fifo").c_str(), 0644), 0);
  EXPECT_EQ(WriteFileWhole((dir / "fifo").string(), Bytes("x")), ioErr);
}

}  // namespace
