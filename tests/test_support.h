// Helpers shared by the test programs.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace test {

// The repository's test data folder.
std::filesystem::path DataPath(const std::string& relative);

// A fresh folder, removed with everything in it when the object goes.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::filesystem::path& path() const { return path_; }
  std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

 private:
  std::filesystem::path path_;
};

struct RunResult {
  int status = -1;  // exit status, or 128 + signal
  std::string out;
  std::string err;
  int64_t peakKiB = 0;  // the child's peak resident set
};

// Runs build/tavrel with the words after the program name, in folder cwd
// (the current one when empty), with no standard input.
RunResult RunTavrel(const std::vector<std::string>& args, const std::string& cwd = "");
// The program that execvp would start for name, or empty when there is none.
std::string FindProgram(const std::string& name);
// Names a program a test starts in the file $TAVREL_TEST_PROGRAM_LOG, so that
// CI can check that the install script provides every one of them. RunProgram
// does it; a test names here what it starts otherwise, or what its programs start.
void LogProgram(const std::string& program);

// Runs any program; argv[0] is the program as started.
RunResult RunProgram(const std::vector<std::string>& argv, const std::string& cwd = "");

// Waits for a child started by the test: its exit status, or 128 + the
// signal that ended it.
int WaitForExit(int pid);

std::vector<uint8_t> ReadFileBytes(const std::filesystem::path& path);
void WriteFileBytes(const std::filesystem::path& path, const std::vector<uint8_t>& bytes);

}  // namespace test
