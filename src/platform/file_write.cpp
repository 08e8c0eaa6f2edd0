#include "platform/file_write.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <ctime>
#include <new>
#include <string>

#include "platform/file_write_seam.h"
#include "platform/stale_temporaries.h"

namespace {

int SystemOpen(const char* path, int flags, mode_t mode) {
  return ::open(path, flags, mode);
}
ssize_t SystemWrite(int fd, const void* data, size_t size) {
  return ::write(fd, data, size);
}

OSErr ErrorFromErrno(int error) {
  switch (error) {
    case ENOENT:
    case ENOTDIR:
    case ENAMETOOLONG:
    case ELOOP:
      return fnfErr;
    case EACCES:
    case EPERM:
    case EROFS:
    case ETXTBSY:
    case EISDIR:
      return accessDeniedErr;
    case ENOSPC:
    case EDQUOT:
    case EFBIG:
      return dskFulErr;
    case ENOMEM:
      return memFullErr;
    default:  // ENXIO too: a pipe with no reader
      return ioErr;
  }
}

// Closes the descriptor on every way out unless released.
class FileDescriptor {
 public:
  explicit FileDescriptor(int fd) : fd_(fd) {}
  ~FileDescriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  int get() const { return fd_; }
  // Closes now, reporting what close reports.
  OSErr Close() {
    int fd = fd_;
    fd_ = -1;
    return ::close(fd) == 0 ? noErr : ErrorFromErrno(errno);
  }

 private:
  int fd_;
};

OSErr WriteAll(int fd, std::span<const uint8_t> bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    size_t chunk = std::min<size_t>(bytes.size() - done, size_t(1) << 30);
    ssize_t n = CurrentFileWriteCalls().write(fd, bytes.data() + done, chunk);
    if (n < 0) {
      if (errno == EINTR) continue;
      return ErrorFromErrno(errno);
    }
    // A write that makes no progress would loop for ever: the device is full.
    if (n == 0) return dskFulErr;
    done += size_t(n);
  }
  return noErr;
}

// Devices, pipes and sockets are written in place through the descriptor
// that was opened to check them: there is nothing to rename.
OSErr WriteDirectly(FileDescriptor& fd, std::span<const uint8_t> bytes) {
  // Opened without blocking so that a pipe without a reader could not stall
  // us; once open, writes may wait for the reader as usual.
  int flags = fcntl(fd.get(), F_GETFL);
  if (flags < 0 || fcntl(fd.get(), F_SETFL, flags & ~O_NONBLOCK) != 0) return ErrorFromErrno(errno);
  if (OSErr err = WriteAll(fd.get(), bytes)) return err;
  return fd.Close();
}

std::string FolderOf(const std::string& path) {
  size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

// Creates a new file with a fresh name in folder, never opening an existing
// one. New files get the usual permissions (0666 less the umask).
OSErr CreateTemporary(const std::string& folder, std::string* name, int* fd) {
  static std::atomic<uint32_t> counter{0};
  for (int attempt = 0; attempt < 100; ++attempt) {
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    *name = folder + "/" + kTemporaryPrefix + std::to_string(getpid()) + "-" +
            std::to_string(counter.fetch_add(1)) + "-" + std::to_string(now.tv_nsec);
    *fd = CurrentFileWriteCalls().open(name->c_str(),
                                       O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOCTTY, 0666);
    if (*fd >= 0) return noErr;
    if (errno != EEXIST && errno != EINTR) return ErrorFromErrno(errno);
  }
  return ioErr;
}

// Writes the temporary file whole and gives it the old file's owner and
// permission bits, so that the rename changes nothing but the contents.
OSErr FillTemporary(int fd, std::span<const uint8_t> bytes, const struct stat* existing) {
  if (existing != nullptr) {
    // Keeping the owner is possible only for the owner or root; a refusal is
    // no reason to fail.
    [[maybe_unused]] int owned = fchown(fd, existing->st_uid, existing->st_gid);
    if (fchmod(fd, existing->st_mode & 07777) != 0) return ErrorFromErrno(errno);
  }
  if (OSErr err = WriteAll(fd, bytes)) return err;
  if (fsync(fd) != 0) return ErrorFromErrno(errno);
  return noErr;
}

OSErr ReplaceThroughTemporary(const std::string& target, std::span<const uint8_t> bytes,
                              const struct stat* existing) {
  std::string folder = FolderOf(target);
  RemoveStaleTemporaries(folder);
  std::string temporary;
  int rawFd = -1;
  if (OSErr err = CreateTemporary(folder, &temporary, &rawFd)) return err;
  FileDescriptor fd(rawFd);
  OSErr err = FillTemporary(fd.get(), bytes, existing);
  if (err == noErr) err = fd.Close();
  if (err == noErr && rename(temporary.c_str(), target.c_str()) != 0) err = ErrorFromErrno(errno);
  if (err != noErr) {
    unlink(temporary.c_str());
    return err;
  }
  // Makes the rename itself durable; the file is in place either way.
  FileDescriptor dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (dir.get() >= 0) fsync(dir.get());
  return noErr;
}

// The file an open descriptor refers to, after every link the kernel
// followed to open it.
std::string OpenedPath(int fd) {
  std::string link = "/proc/self/fd/" + std::to_string(fd);
  std::string path(PATH_MAX, '\0');
  ssize_t n = readlink(link.c_str(), path.data(), path.size());
  if (n <= 0 || size_t(n) >= path.size()) return std::string();
  path.resize(size_t(n));
  return path;
}

// An existing target is opened for writing first, without truncating and
// without blocking, so that the kernel's own rules decide whether we may
// replace it: mode bits, ownership, links planted in sticky folders. A
// target that cannot be opened at once (a pipe without a reader) is an
// error, not a wait.
OSErr ReplaceExisting(const std::string& path, std::span<const uint8_t> bytes) {
  FileDescriptor fd(
      CurrentFileWriteCalls().open(path.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY, 0));
  if (fd.get() < 0) return ErrorFromErrno(errno);
  struct stat info;
  if (fstat(fd.get(), &info) != 0) return ErrorFromErrno(errno);
  if (!S_ISREG(info.st_mode)) return WriteDirectly(fd, bytes);
  // A link is followed: the file it names is replaced and the link stays.
  const std::string target = OpenedPath(fd.get());
  if (target.empty()) return ioErr;
  return ReplaceThroughTemporary(target, bytes, &info);
}

}  // namespace

FileWriteCalls& CurrentFileWriteCalls() {
  static FileWriteCalls calls = SystemFileWriteCalls();
  return calls;
}

FileWriteCalls SystemFileWriteCalls() {
  return FileWriteCalls{SystemOpen, SystemWrite};
}

OSErr WriteFileWhole(const std::string& path, std::span<const uint8_t> bytes) {
  if (path.empty()) return paramErr;
  try {
    struct stat info;
    if (stat(path.c_str(), &info) != 0) {
      if (errno != ENOENT) return ErrorFromErrno(errno);
      return ReplaceThroughTemporary(path, bytes, nullptr);
    }
    if (S_ISDIR(info.st_mode)) return accessDeniedErr;
    return ReplaceExisting(path, bytes);
  } catch (const std::bad_alloc&) {
    return memFullErr;
  }
}
