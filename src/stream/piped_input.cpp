#include "stream/piped_input.h"

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <map>
#include <mutex>
#include <new>
#include <stdexcept>

#include "base/errno_error.h"
#include "base/memory_limit.h"

namespace {

constexpr size_t kReadStep = size_t(1) << 20;
constexpr size_t kSniffBytes = 4096;

struct PipedFile {
  OSErr result = noErr;
  LargeByteVector bytes;
  int file = -1;  // kept open for the run
  uint64_t fileSize = 0;
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

// One read into at, waiting for bytes when the descriptor has none yet;
// 0 at the end.
ssize_t ReadWaiting(int fd, uint8_t* at, size_t want) {
  ssize_t n;
  while ((n = ::read(fd, at, want)) < 0) {
    if (errno == EINTR) continue;
    if (errno != EAGAIN) break;
    pollfd ready{fd, POLLIN, 0};
    if (poll(&ready, 1, -1) < 0 && errno != EINTR) break;
  }
  return n;
}

// Appends what one read gives, up to limit bytes in all, counting them as
// held; *more is false at the end.
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
  const ssize_t n = ReadWaiting(fd, bytes->data() + had, want);
  const size_t got = n > 0 ? size_t(n) : 0;
  bytes->resize(had + got);
  ReleasePixelBytes(want - got);
  if (n < 0) return ErrorFromErrno(errno);
  *more = n > 0;
  return noErr;
}

OSErr WriteAll(int fd, const uint8_t* data, size_t size) {
  while (size > 0) {
    const ssize_t n = ::write(fd, data, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return n < 0 ? ErrorFromErrno(errno) : ioErr;
    data += n;
    size -= size_t(n);
  }
  return noErr;
}

// An unnamed file in the temporary folder: gone with the process.
int MakeUnnamedFile() {
  const int fd = ::open("/tmp", O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
  if (fd >= 0 || (errno != EOPNOTSUPP && errno != EISDIR && errno != ENOENT)) return fd;
  char name[] = "/tmp/.tavrel-input-XXXXXX";
  const int named = mkostemp(name, O_CLOEXEC);
  if (named >= 0) unlink(name);
  return named;
}

// The start already read, then the rest of the input, into a file.
OSErr CopyIntoFile(int input, PipedFile* piped) {
  piped->file = MakeUnnamedFile();
  if (piped->file < 0) return ErrorFromErrno(errno);
  if (OSErr err = WriteAll(piped->file, piped->bytes.data(), piped->bytes.size())) return err;
  uint64_t size = piped->bytes.size();
  piped->bytes = LargeByteVector();
  std::vector<uint8_t> step(kReadStep);
  while (true) {
    const ssize_t n = ReadWaiting(input, step.data(), step.size());
    if (n < 0) return ErrorFromErrno(errno);
    if (n == 0) break;
    if (OSErr err = WriteAll(piped->file, step.data(), size_t(n))) return err;
    size += uint64_t(n);
  }
  piped->fileSize = size;
  return noErr;
}

OSErr ReadInput(const std::string& path, PipedKind (*classify)(const LargeByteVector&),
                PipedFile* piped) {
  // A FIFO that no writer has opened reads as empty rather than stalling.
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
  if (fd < 0) return ErrorFromErrno(errno);
  OSErr err = noErr;
  bool more = true;
  while (err == noErr && more && piped->bytes.size() < kSniffBytes) {
    err = ReadSome(fd, kSniffBytes, &piped->bytes, &more);
  }
  const PipedKind kind = err == noErr ? classify(piped->bytes) : PipedKind::kNoImage;
  if (err == noErr && kind == PipedKind::kNoImage) err = noHandlerErr;
  if (err == noErr && kind == PipedKind::kInFile) {
    ReleasePixelBytes(piped->bytes.size());
    try {
      err = CopyIntoFile(fd, piped);
    } catch (const std::bad_alloc&) {
      err = memFullErr;
    }
  }
  while (err == noErr && kind == PipedKind::kInMemory && more) {
    err = ReadSome(fd, SIZE_MAX, &piped->bytes, &more);
  }
  ::close(fd);
  return err;
}

}  // namespace

bool IsPipedInput(const std::string& path) {
  struct stat info;
  return stat(path.c_str(), &info) == 0 && (S_ISFIFO(info.st_mode) || S_ISCHR(info.st_mode));
}

uint64_t PipedInputBytes(const std::string& path) {
  std::lock_guard<std::mutex> hold(PipedLock());
  const auto entry = PipedFiles().find(path);
  if (entry == PipedFiles().end()) return 0;
  const PipedFile& piped = entry->second;
  return piped.file >= 0 ? piped.fileSize : piped.bytes.size();
}

OSErr ReadPipedInput(const std::string& path, PipedKind (*classify)(const LargeByteVector& start),
                     PipedInput* input) {
  std::lock_guard<std::mutex> hold(PipedLock());
  try {
    auto [entry, added] = PipedFiles().try_emplace(path);
    PipedFile& piped = entry->second;
    if (added) piped.result = ReadInput(path, classify, &piped);
    input->bytes = &piped.bytes;
    input->file = piped.file;
    input->fileSize = piped.fileSize;
    return piped.result;
  } catch (const std::bad_alloc&) {
    return memFullErr;
  }
}
