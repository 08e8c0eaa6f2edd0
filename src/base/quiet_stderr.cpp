#include "base/quiet_stderr.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>

QuietStderr::QuietStderr() {
  std::fflush(stderr);
  const int null = open("/dev/null", O_WRONLY | O_CLOEXEC);
  if (null < 0) return;
  saved_ = fcntl(2, F_DUPFD_CLOEXEC, 3);
  if (saved_ >= 0 && dup2(null, 2) < 0) {
    close(saved_);
    saved_ = -1;
  }
  close(null);
}

QuietStderr::~QuietStderr() {
  if (saved_ < 0) return;
  std::fflush(stderr);
  dup2(saved_, 2);
  close(saved_);
}
