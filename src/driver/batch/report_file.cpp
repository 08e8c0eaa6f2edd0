#include "driver/batch/report_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "base/errno_error.h"

int32_t OpenReportFile(const std::string& path, int* opened) {
  // Not truncated by the open: a pipe or a device is written as it is.
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_NONBLOCK | O_CLOEXEC | O_NOCTTY, 0666);
  if (fd < 0) return ErrorFromErrno(errno);
  struct stat status;
  const int flags = fcntl(fd, F_GETFL);
  if (fstat(fd, &status) != 0 || flags < 0 || fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0 ||
      (S_ISREG(status.st_mode) && ftruncate(fd, 0) != 0)) {
    const int32_t err = ErrorFromErrno(errno);
    ::close(fd);
    return err;
  }
  *opened = fd;
  return noErr;
}

size_t WriteAll(int fd, std::string_view text, int* error) {
  size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      *error = n < 0 ? errno : ENOSPC;
      break;
    }
    done += size_t(n);
  }
  return done;
}
