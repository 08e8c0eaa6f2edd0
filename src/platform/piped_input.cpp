#include "platform/piped_input.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <map>
#include <mutex>
#include <new>
#include <stdexcept>

#include "platform/errno_error.h"
#include "platform/memory_limit.h"

namespace {

constexpr size_t kReadStep = size_t(1) << 20;
constexpr size_t kSniffBytes = 4096;

struct PipedFile {
  OSErr result = noErr;
  LargeByteVector bytes;
};

std::mutex& PipedLock() {
  static std::mutex lock;
  return lock;
}
// Kept for the run: the process reads its input once.
std::map<std::string, PipedFile>& PipedFiles() {
  static auto* files = new std::map<std::string, PipedFile>;
  return *files;
}

// Appends what one read gives, up to limit bytes in all; false at the end.
OSErr ReadSome(int fd, size_t limit, LargeByteVector* bytes, bool* more) {
  const size_t had = bytes->size();
  const size_t want = std::min(kReadStep, limit - had);
  if (!ReservePixelBytes(want)) return memFullErr;
  try {
    bytes->resize(had + want);
  } catch (const std::bad_alloc&) {
    ReleasePixelBytes(want);
    return memFullErr;
  } catch (const std::length_error&) {
    ReleasePixelBytes(want);
    return memFullErr;
  }
  ssize_t n;
  while ((n = ::read(fd, bytes->data() + had, want)) < 0) {
    if (errno == EINTR) continue;
    if (errno != EAGAIN) break;
    // Opened without waiting for a writer; once there is one, its bytes
    // are waited for.
    pollfd ready{fd, POLLIN, 0};
    if (poll(&ready, 1, -1) < 0 && errno != EINTR) break;
  }
  const size_t got = n > 0 ? size_t(n) : 0;
  bytes->resize(had + got);
  ReleasePixelBytes(want - got);
  if (n < 0) return ErrorFromErrno(errno);
  *more = n > 0;
  return noErr;
}

OSErr ReadAll(const std::string& path, bool (*sniff)(const LargeByteVector&),
              LargeByteVector* bytes) {
  // A FIFO that no writer has opened reads as empty rather than stalling.
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
  if (fd < 0) return ErrorFromErrno(errno);
  OSErr err = noErr;
  bool more = true;
  bool sniffed = false;
  while (err == noErr && more) {
    err = ReadSome(fd, sniffed ? SIZE_MAX : kSniffBytes, bytes, &more);
    if (err == noErr && !sniffed && (bytes->size() >= kSniffBytes || !more)) {
      if (!sniff(*bytes)) err = noHandlerErr;
      sniffed = true;
    }
  }
  ::close(fd);
  return err;
}

}  // namespace

bool IsPipedInput(const std::string& path) {
  struct stat info;
  return stat(path.c_str(), &info) == 0 && (S_ISFIFO(info.st_mode) || S_ISCHR(info.st_mode));
}

OSErr ReadPipedInput(const std::string& path, bool (*sniff)(const LargeByteVector& start),
                     const LargeByteVector** bytes) {
  std::lock_guard<std::mutex> hold(PipedLock());
  try {
    auto [entry, added] = PipedFiles().try_emplace(path);
    if (added) entry->second.result = ReadAll(path, sniff, &entry->second.bytes);
    *bytes = &entry->second.bytes;
    return entry->second.result;
  } catch (const std::bad_alloc&) {
    return memFullErr;
  }
}
