#include "base/quiet_stderr.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <mutex>
#include <string>

namespace {

// One redirection for the whole process.
struct Redirection {
  std::mutex lock;
  int holders = 0;
  int saved = -1;      // the real standard error while holders > 0, if it was moved
  std::string status;  // the status line on show, empty for none
};

// Back to the start of the line, and the rest of it erased.
constexpr std::string_view kEraseLine = "\r\033[K";

void WriteAll(int fd, std::string_view text) {
  while (!text.empty()) {
    const ssize_t n = write(fd, text.data(), text.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    text.remove_prefix(size_t(n));
  }
}

Redirection& Shared() {
  static Redirection redirection;
  return redirection;
}

}  // namespace

QuietStderr::QuietStderr() {
  Redirection& r = Shared();
  const std::lock_guard<std::mutex> hold(r.lock);
  if (r.holders++ > 0) return;
  std::fflush(stderr);
  const int null = open("/dev/null", O_WRONLY | O_CLOEXEC);
  if (null < 0) return;
  r.saved = fcntl(2, F_DUPFD_CLOEXEC, 3);
  if (r.saved >= 0 && dup2(null, 2) < 0) {
    close(r.saved);
    r.saved = -1;
  }
  close(null);
}

QuietStderr::~QuietStderr() {
  Redirection& r = Shared();
  const std::lock_guard<std::mutex> hold(r.lock);
  if (--r.holders > 0 || r.saved < 0) return;
  std::fflush(stderr);
  dup2(r.saved, 2);
  close(r.saved);
  r.saved = -1;
}

void WriteStandardError(std::string_view text) {
  Redirection& r = Shared();
  const std::lock_guard<std::mutex> hold(r.lock);
  std::fflush(stderr);
  const int fd = r.saved >= 0 ? r.saved : 2;
  if (r.status.empty()) {
    WriteAll(fd, text);
    return;
  }
  WriteAll(fd, std::string(kEraseLine).append(text).append(r.status));
}

void SetStatusLine(std::string_view text) {
  Redirection& r = Shared();
  const std::lock_guard<std::mutex> hold(r.lock);
  std::fflush(stderr);
  const int fd = r.saved >= 0 ? r.saved : 2;
  if (text.empty() && r.status.empty()) return;
  r.status = std::string(text);
  WriteAll(fd, std::string(kEraseLine).append(text));
}
