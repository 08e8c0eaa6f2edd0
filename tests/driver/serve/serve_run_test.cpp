// The worker as a caller drives it: a script of jobs, good and bad, on the
// standard input, one result line each, matched line by line; two jobs
// whose files meet while both run; SIGTERM while jobs run.
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "driver/png_files.h"
#include "test_support.h"

namespace {

namespace fs = std::filesystem;

// A field's value as written in a result line: "x" for a string, 12 for a
// number, null; empty when the line lacks it.
std::string Field(const std::string& line, const std::string& name) {
  std::smatch match;
  const std::regex field("\"" + name + R"(\":("(?:[^"\\]|\\.)*"|-?[0-9.]+|null))");
  return std::regex_search(line, match, field) ? match[1].str() : "";
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// Runs "tavrel //serve" words in dir with the script on its standard input.
test::RunResult Serve(const fs::path& dir, const std::string& script,
                      const std::string& words = "") {
  std::ofstream(dir / "jobs.txt", std::ios::binary) << script;
  return test::RunProgram(
      {"sh", "-c", std::string("exec \"$0\" //serve ") + words + " < jobs.txt", TAVREL_BINARY},
      dir.string());
}

TEST(Serve, ScriptOfJobsGivesOneResultLineEachAndFailuresStayTheirOwn) {
  test::TempDir dir;
  fs::copy_file(test::DataPath("codecs/gradient_baseline.jpg"), dir / "a.jpg");
  fs::copy_file(test::DataPath("limits/png_100000x100000.png"), dir / "big.png");
  ASSERT_EQ(mkfifo((dir.path() / "fifo").c_str(), 0600), 0);
  const std::string tooLong(1 << 20, 'w');
  const struct {
    std::string line;
    const char* status;  // the result's; nullptr: no result line
    const char* code;
    const char* message;  // what the message begins with; "" for null
  } kJobs[] = {
      {"/w 16 /o out1.jpg a.jpg", "ok", "0", ""},
      {"/w 12 /c png /o 'two words.png' a.jpg", "ok", "0", ""},
      {"", nullptr, "", ""},
      {"/w 16 /o x.jpg 'a.jpg", "failed", "-50", "Malformed job line: a ' is not closed"},
      {"--bogus /w 16 /o x.jpg a.jpg", "failed", "-50", "Unknown flag: --bogus"},
      {"/w 16 /o x.jpg gone.jpg", "failed", "-43", "Error: \\\"gone.jpg\\\""},
      {tooLong, "failed", "-50", "Malformed job line: longer than 65536 bytes"},
      {"/w 16 /o \xff\xfe.jpg a.jpg", "failed", "-50", "Malformed job line: not UTF-8"},
      {"//sizes 8w /o x.jpg a.jpg", "failed", "-50", "Not in a job: //sizes"},
      {"/w 16 /o - a.jpg", "failed", "-50", "Not in a job: an output onto the standard output"},
      {"/w 16 /o a.jpg a.jpg", "failed", "-50", "Error: \\\"a.jpg\\\": the output is the input"},
      {"/w 8 /o out3.jpg out1.jpg", "ok", "0", ""},  // the first job's output, written
      // Jobs start from a service's limits; a job's own limit replaces them.
      {"/w 16 /o x.jpg big.png", "failed", "-8981",
       "Error \\\"big.png\\\": more pixels than //limit-pixels allows"},
      {"//limit-bytes 10 /w 16 /o x.jpg a.jpg", "failed", "-8984", "Error \\\"a.jpg\\\""},
      {"//placeholder /w 16 /o p.jpg a.jpg", "ok", "0", ""},  // told in its result line
      {"/w 16 /o x.jpg fifo", "failed", "-50", "Not in a job: \\\"fifo\\\", a pipe"},
      {"/w 4 /o last.jpg a.jpg", "ok", "0", ""},  // the last line has no newline
  };
  std::string script;
  for (const auto& job : kJobs) script += job.line + "\n";
  script.pop_back();
  const test::RunResult run = Serve(dir.path(), script, "//jobs 1");
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.err, "");
  const std::vector<std::string> results = Lines(run.out);
  size_t next = 0;
  for (size_t i = 0; i < std::size(kJobs); ++i) {
    const auto& job = kJobs[i];
    if (job.status == nullptr) continue;
    ASSERT_LT(next, results.size()) << "no result for line " << i + 1;
    const std::string& result = results[next++];
    SCOPED_TRACE(result);
    EXPECT_EQ(result.rfind("{\"id\":" + std::to_string(i + 1) + ",\"version\":1,", 0), 0u);
    EXPECT_EQ(Field(result, "status"), std::string("\"") + job.status + "\"");
    EXPECT_EQ(Field(result, "code"), job.code);
    const std::string message = Field(result, "message");
    if (*job.message == '\0') {
      EXPECT_EQ(message, "null");
    } else {
      EXPECT_EQ(message.rfind(std::string("\"") + job.message, 0), 0u);
    }
  }
  EXPECT_EQ(next, results.size()) << run.out;
  // An input too large to be read has no size to tell.
  EXPECT_EQ(Field(results[12], "code"), "-8984");
  EXPECT_EQ(Field(results[12], "source"), "null");
  EXPECT_EQ(Field(results[12], "width"), "null");
  EXPECT_NE(results[13].find("\"placeholder\":{\"colour\":"), std::string::npos) << results[13];
  EXPECT_NE(results[0].find(R"("width":16,"height":13,)"), std::string::npos);
  EXPECT_EQ(Field(results[0], "output"), "\"out1.jpg\"");
  EXPECT_EQ(Field(results[0], "bytes"), std::to_string(fs::file_size(dir / "out1.jpg")));
  // The bytes a single run writes.
  const test::RunResult single =
      test::RunTavrel({"/w", "16", "/o", "single.jpg", "a.jpg"}, dir.path().string());
  ASSERT_EQ(single.status, 0) << single.err;
  EXPECT_EQ(test::ReadFileBytes(dir / "out1.jpg"), test::ReadFileBytes(dir / "single.jpg"));
  EXPECT_FALSE(fs::exists(dir / "x.jpg"));
}

// Words beside "//serve" and "//jobs N" belong in the jobs: each refused,
// nothing run.
TEST(Serve, CommandLineTakesJobsAlone) {
  const test::RunResult run = test::RunTavrel({"//serve", "//jobs", "2", "/w", "3"});
  EXPECT_EQ(run.status, 2);
  EXPECT_EQ(run.err.rfind("//serve takes //jobs alone: \"/w\" belongs in a job\n"
                          "//serve takes //jobs alone: \"3\" belongs in a job\n\nUsage: ",
                          0),
            0u)
      << run.err;
}

// Results that cannot be written end the worker, which says so and begins
// no other job.
TEST(Serve, ResultsThatCannotBeWrittenEndTheWorkerSayingSo) {
  test::TempDir dir;
  fs::copy_file(test::DataPath("codecs/gradient_baseline.jpg"), dir / "a.jpg");
  const test::RunResult run =
      Serve(dir.path(), "/w 8 /o a8.jpg a.jpg\n/w 9 /o a9.jpg a.jpg\n", "//jobs 1 > /dev/full");
  EXPECT_EQ(run.status, 222);  // -34, the disk full
  EXPECT_EQ(run.err, "Error code: \"-\": -34\n");
  EXPECT_FALSE(fs::exists(dir / "a9.jpg"));
}

// A job that would write the file a running job reads fails alone, naming
// it; the running job and the ones after are not disturbed.
TEST(Serve, JobWritingWhatARunningJobReadsFailsAlone) {
  test::TempDir dir;
  ASSERT_TRUE(test::WritePng(dir / "big.png", test::MakeTestPattern(3000, 3000, 8, 3)));
  fs::copy_file(test::DataPath("codecs/gradient_baseline.jpg"), dir / "small.jpg");
  const test::RunResult run = Serve(dir.path(),
                                    "/w 2900 /c png /o big-out.png big.png\n"
                                    "/w 8 /c png /o big.png small.jpg\n",
                                    "//jobs 2");
  EXPECT_EQ(run.status, 0) << run.err;
  const std::vector<std::string> results = Lines(run.out);
  ASSERT_EQ(results.size(), 2u) << run.out;
  // The refused job ends first: it never ran.
  EXPECT_EQ(Field(results[0], "id"), "2");
  EXPECT_EQ(Field(results[0], "code"), "-48");
  EXPECT_EQ(Field(results[0], "message"),
            R"("Error: \"big.png\": the output of \"small.jpg\" is the input \"big.png\"")");
  EXPECT_EQ(Field(results[1], "id"), "1");
  EXPECT_EQ(Field(results[1], "status"), "\"ok\"");
}

// SIGTERM lets the running jobs end and write their lines, begins no other
// job, and ends the worker with status 0, its input still open.
TEST(Serve, SigtermFinishesRunningJobsAndExits) {
  test::TempDir dir;
  ASSERT_TRUE(test::WritePng(dir / "big.png", test::MakeTestPattern(2000, 2000, 8, 3)));
  fs::copy_file(test::DataPath("codecs/gradient_baseline.jpg"), dir / "small.jpg");
  int in[2], out[2];
  ASSERT_EQ(pipe(in), 0);
  ASSERT_EQ(pipe(out), 0);
  const pid_t pid = fork();
  if (pid == 0) {
    dup2(in[0], 0);
    dup2(out[1], 1);
    close(in[1]);
    close(out[0]);
    if (chdir(dir.path().c_str()) != 0) _exit(127);
    execl(TAVREL_BINARY, TAVREL_BINARY, "//serve", "//jobs", "2", nullptr);
    _exit(127);
  }
  close(in[0]);
  close(out[1]);
  const std::string jobs = "/w 1900 /c png /o big-out.png big.png\n/w 8 /o s.jpg small.jpg\n";
  ASSERT_EQ(write(in[1], jobs.data(), jobs.size()), ssize_t(jobs.size()));
  // Once the small job's line is back, both jobs have begun.
  std::string results;
  char buffer[4096];
  while (results.find('\n') == std::string::npos) {
    const ssize_t n = read(out[0], buffer, sizeof buffer);
    ASSERT_GT(n, 0);
    results.append(buffer, size_t(n));
  }
  kill(pid, SIGTERM);
  for (ssize_t n; (n = read(out[0], buffer, sizeof buffer)) > 0;) results.append(buffer, size_t(n));
  EXPECT_EQ(test::WaitForExit(pid), 0);
  close(in[1]);
  close(out[0]);
  const std::vector<std::string> lines = Lines(results);
  ASSERT_EQ(lines.size(), 2u) << results;
  EXPECT_EQ(Field(lines[0], "id"), "2");
  EXPECT_EQ(Field(lines[1], "id"), "1");
  EXPECT_EQ(Field(lines[1], "status"), "\"ok\"");
  EXPECT_TRUE(fs::exists(dir / "big-out.png"));
}

}  // namespace
