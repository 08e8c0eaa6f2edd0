#include "test_support.h"

#include <fcntl.h>
#include <malloc.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <stdexcept>

#include <gtest/gtest.h>

namespace test {

std::filesystem::path DataPath(const std::string& relative) {
  return std::filesystem::path(TAVREL_TEST_DATA) / relative;
}

TempDir::TempDir() {
  std::string templ = (std::filesystem::temp_directory_path() / "tavrel-test-XXXXXX").string();
  if (mkdtemp(templ.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  path_ = templ;
}

TempDir::~TempDir() {
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

namespace {

std::string ReadAll(int fd) {
  std::string text;
  char buf[65536];
  for (;;) {
    ssize_t n = read(fd, buf, sizeof buf);
    if (n > 0) {
      text.append(buf, size_t(n));
    } else if (n == 0 || errno != EINTR) {
      break;
    }
  }
  return text;
}

}  // namespace

std::string FindProgram(const std::string& name) {
  if (name.find('/') != std::string::npos) return access(name.c_str(), X_OK) == 0 ? name : "";
  const char* path = std::getenv("PATH");
  std::string folders = path ? path : "/usr/bin:/bin";
  for (size_t start = 0; start <= folders.size();) {
    size_t end = folders.find(':', start);
    if (end == std::string::npos) end = folders.size();
    std::string candidate = folders.substr(start, end - start) + "/" + name;
    if (access(candidate.c_str(), X_OK) == 0) return candidate;
    start = end + 1;
  }
  return "";
}

void LogProgram(const std::string& program) {
  const char* log = std::getenv("TAVREL_TEST_PROGRAM_LOG");
  if (log == nullptr || *log == '\0') return;
  int fd = open(log, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  if (fd < 0) return;
  const std::string line = program + "\n";
  [[maybe_unused]] ssize_t n = write(fd, line.data(), line.size());
  close(fd);
}

namespace {

int StatusOf(int status) {
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

}  // namespace

int WaitForExit(int pid) {
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  return StatusOf(status);
}

RunResult RunProgram(const std::vector<std::string>& argv, const std::string& cwd) {
  RunResult result;
  const std::string program = FindProgram(argv.at(0));
  if (program.empty()) {
    ADD_FAILURE() << "the test needs the program \"" << argv[0]
                  << "\", which is not installed (scripts/install-deps.sh test installs it)";
    result.err = "not installed: " + argv[0];
    return result;
  }
  LogProgram(program);
  // Output goes to files, so that neither pipe can fill and stall the child.
  TempDir dir;
  std::string outPath = (dir / "out").string();
  std::string errPath = (dir / "err").string();
  // The child starts as a copy of this process, whose resident pages count
  // in the child's peak: what the tests have freed goes back first.
  malloc_trim(0);
  pid_t pid = fork();
  if (pid < 0) return result;
  if (pid == 0) {
    int in = open("/dev/null", O_RDONLY);
    int out = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    dup2(in, 0);
    dup2(out, 1);
    dup2(err, 2);
    if (!cwd.empty() && chdir(cwd.c_str()) != 0) _exit(126);
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    execvp(argv[0].c_str(), args.data());
    _exit(127);
  }
  int status = 0;
  rusage usage{};
  while (wait4(pid, &status, 0, &usage) < 0 && errno == EINTR) {
  }
  result.peakKiB = usage.ru_maxrss;
  result.status = StatusOf(status);
  int outFd = open(outPath.c_str(), O_RDONLY);
  int errFd = open(errPath.c_str(), O_RDONLY);
  if (outFd >= 0) result.out = ReadAll(outFd), close(outFd);
  if (errFd >= 0) result.err = ReadAll(errFd), close(errFd);
  return result;
}

RunResult RunTavrel(const std::vector<std::string>& args, const std::string& cwd) {
  std::vector<std::string> argv{TAVREL_BINARY};
  argv.insert(argv.end(), args.begin(), args.end());
  return RunProgram(argv, cwd);
}

std::vector<uint8_t> ReadFileBytes(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

void WriteFileBytes(const std::filesystem::path& path, const std::vector<uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

}  // namespace test
