// Where the metadata dump goes never changes the job: a dump path naming the
// input, a pipe without a reader, a reader that has gone, a file that cannot
// be opened while the image takes the standard output.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "test_support.h"

namespace {

// in.png is a camera JPEG with EXIF (the importer goes by content, not name).
class DumpTarget : public ::testing::Test {
 protected:
  void SetUp() override {
    std::filesystem::copy_file(test::DataPath("exif/Canon_40D.jpg"), dir_ / "in.png");
    original_ = test::ReadFileBytes(dir_ / "in.png");
  }
  test::RunResult Run(const std::vector<std::string>& args) {
    return test::RunTavrel(args, dir_.path().string());
  }
  bool Exists(const std::string& name) { return std::filesystem::exists(dir_ / name); }

  test::TempDir dir_;
  std::vector<uint8_t> original_;
};

TEST_F(DumpTarget, TheInputItselfIsNeverTruncated) {
  std::filesystem::create_symlink(dir_ / "in.png", dir_ / "alias.png");
  for (const char* dump : {"in.png", "alias.png"}) {
    const test::RunResult run = Run({"/w", "10", "/M", dump, "/o", "out.jpg", "in.png"});
    EXPECT_EQ(run.status, 0) << dump << ": " << run.err;
    EXPECT_EQ(test::ReadFileBytes(dir_ / "in.png"), original_) << dump;
    EXPECT_NE(run.out.find("Meta-data"), std::string::npos) << "the dump goes to the output";
    EXPECT_TRUE(Exists("out.jpg"));
  }
}

TEST_F(DumpTarget, APipeWithoutAReaderSendsTheDumpToTheOutput) {
  ASSERT_EQ(mkfifo((dir_ / "fifo").c_str(), 0644), 0);
  const test::RunResult run = Run({"/w", "10", "/M", "fifo", "/o", "out.jpg", "in.png"});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_NE(run.out.find("Meta-data"), std::string::npos);
  EXPECT_TRUE(Exists("out.jpg"));
}

// With the image on the standard output the dump cannot fall back there: a
// dump file that cannot be opened is said in one line, and the run is the
// run without "/M".
TEST_F(DumpTarget, AnUnopenableFileBesideAnImageOnTheOutputIsSaid) {
  ASSERT_EQ(mkfifo((dir_ / "fifo").c_str(), 0644), 0);
  const test::RunResult plain = Run({"/w", "10", "/o", "-", "in.png"});
  ASSERT_EQ(plain.status, 0) << plain.err;
  const struct {
    const char* dump;
    const char* line;
  } cases[] = {
      {"none/dump.txt", "Error: \"none/dump.txt\": file not found (-43)\n"},
      {".", "Error \".\": access denied (-5000)\n"},
      {"fifo", "Error code: \"fifo\": -36\n"},  // no reader
  };
  for (const auto& c : cases) {
    const test::RunResult run = Run({"/w", "10", "/M", c.dump, "/o", "-", "in.png"});
    EXPECT_EQ(run.status, 0) << c.dump;
    EXPECT_EQ(run.err, c.line);
    EXPECT_TRUE(run.out == plain.out) << c.dump << ": the output is not the image alone";
  }
}

TEST_F(DumpTarget, AReaderThatHasGoneDoesNotStopTheJob) {
  int ends[2];
  ASSERT_EQ(pipe(ends), 0);
  close(ends[0]);  // the reader is gone before the dump begins
  const std::string out = (dir_ / "out.jpg").string(), in = (dir_ / "in.png").string();
  pid_t pid = fork();
  if (pid == 0) {
    dup2(ends[1], 1);
    execl(TAVREL_BINARY, TAVREL_BINARY, "/w", "10", "/M", "-", "/o", out.c_str(), in.c_str(),
          static_cast<char*>(nullptr));
    _exit(127);
  }
  close(ends[1]);
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  EXPECT_TRUE(WIFEXITED(status)) << "ended by signal " << WTERMSIG(status);
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_TRUE(Exists("out.jpg"));
}

}  // namespace
