#include "stream/signal_note.h"

#include <unistd.h>

#include <atomic>
#include <cerrno>

#include "stream/temporary_guard.h"

namespace {

// Set while disarmed, read by the handler only while armed (which neither
// allocates nor frees).
std::string note;
int noteFd = -1;
std::atomic<bool> armed{false};
std::atomic<bool> midLine{false};

void WriteAll(int fd, const char* bytes, size_t size) {
  while (size > 0) {
    const ssize_t n = write(fd, bytes, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    bytes += n;
    size -= size_t(n);
  }
}

}  // namespace

void ArmSignalNote(int fd, const std::string& line) {
  armed.store(false);
  note = line;
  noteFd = fd;
  midLine.store(false);
  armed.store(true);
  InstallTemporaryGuard();
}

void MarkSignalNoteMidLine(bool inside) {
  midLine.store(inside);
}

void DisarmSignalNote() {
  armed.store(false);
}

void WriteSignalNote() {
  if (!armed.exchange(false)) return;  // once, whichever thread the signal finds
  const int saved = errno;
  if (midLine.load()) WriteAll(noteFd, "\n", 1);
  WriteAll(noteFd, note.data(), note.size());
  errno = saved;
}
