#include "stream/file_write.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <charconv>
#include <climits>
#include <cstdlib>
#include <ctime>
#include <new>
#include <string>

#include "base/errno_error.h"
#include "base/stale_temporaries.h"
#include "stream/file_write_seam.h"
#include "stream/temporary_guard.h"

namespace {

int SystemOpen(const char* path, int flags, mode_t mode) {
  return ::open(path, flags, mode);
}
ssize_t SystemWrite(int fd, const void* data, size_t size) {
  return ::write(fd, data, size);
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
  int Release() {
    const int fd = fd_;
    fd_ = -1;
    return fd;
  }
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

std::string FolderOf(const std::string& path) {
  size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

// Creates a new file with a fresh name in folder, never opening an existing
// one. New files get the usual permissions (0666 less the umask). Read and
// write: a format that fills in offsets may read back what it wrote. The
// file is kept by the signal guard (temporary_guard.h) from its first moment.
OSErr CreateTemporary(const std::string& folder, std::string* name, int* fd) {
  static std::atomic<uint32_t> counter{0};
  for (int attempt = 0; attempt < 100; ++attempt) {
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    *name = folder + "/" + kTemporaryPrefix + std::to_string(getpid()) + "-" +
            std::to_string(counter.fetch_add(1)) + "-" + std::to_string(now.tv_nsec);
    // Guarded before it exists: a signal just after the open must find the
    // name kept. The name is this process's own, so a signal before the
    // open removes nothing of anybody else's.
    GuardTemporary(*name);
    int error = 0;
    {
      const TemporaryCreation creation;
      *fd = CurrentFileWriteCalls().open(name->c_str(),
                                         O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC | O_NOCTTY, 0666);
      error = errno;
    }
    if (*fd >= 0) return noErr;
    ForgetTemporary(*name);
    if (error != EEXIST && error != EINTR) {
      name->clear();
      return ErrorFromErrno(error);
    }
  }
  name->clear();
  return ioErr;
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

// The descriptor a path names, through links, when it is one of ours:
// "/dev/stdout", "/dev/fd/N", "/proc/self/fd/N". Opening such a name opens
// the file anew (at its start, without the caller's append mode, or not
// at all for a file since unlinked or in a folder we may not write), so
// the bytes go to the descriptor itself. -1 for any other path.
int DescriptorNamed(std::string path) {
  const std::string ownFolder = "/proc/" + std::to_string(getpid()) + "/fd/";
  for (int hop = 0; hop < 40; ++hop) {
    for (const char* folder : {"/dev/fd/", "/proc/self/fd/", "/proc/thread-self/fd/"}) {
      for (const std::string& prefix : {std::string(folder), ownFolder}) {
        if (path.size() <= prefix.size() || path.compare(0, prefix.size(), prefix) != 0) continue;
        int fd = 0;
        const char* digits = path.c_str() + prefix.size();
        const auto [end, ec] = std::from_chars(digits, path.c_str() + path.size(), fd);
        if (ec == std::errc{} && end == path.c_str() + path.size()) return fd;
      }
    }
    std::string link(PATH_MAX, '\0');
    const ssize_t n = readlink(path.c_str(), link.data(), link.size());
    if (n <= 0 || size_t(n) >= link.size()) return -1;
    link.resize(size_t(n));
    path = link[0] == '/' ? link : FolderOf(path) + "/" + link;
  }
  return -1;
}

// Where a path that names nothing (ENOENT) is to be created: itself, or
// for a link that points nowhere yet, the file it points to, so that the
// link stays and the file appears where it leads.
OSErr NewFilePath(const std::string& path, std::string* target) {
  *target = path;
  for (int hop = 0; hop < 40; ++hop) {
    struct stat info;
    if (lstat(target->c_str(), &info) != 0) {
      return errno == ENOENT ? noErr : ErrorFromErrno(errno);
    }
    if (!S_ISLNK(info.st_mode)) return noErr;
    // As the kernel guards links in sticky folders anyone may write (/tmp):
    // one planted by a stranger is not followed.
    struct stat folder;
    if (stat(FolderOf(*target).c_str(), &folder) == 0 && (folder.st_mode & S_ISVTX) &&
        (folder.st_mode & S_IWOTH) && info.st_uid != geteuid() && info.st_uid != folder.st_uid) {
      return accessDeniedErr;
    }
    std::string link(PATH_MAX, '\0');
    const ssize_t n = readlink(target->c_str(), link.data(), link.size());
    if (n <= 0 || size_t(n) >= link.size()) return ioErr;
    link.resize(size_t(n));
    *target = link[0] == '/' ? link : FolderOf(*target) + "/" + link;
  }
  return fnfErr;  // as the system answers a loop of links
}

// Writes smaller than this are gathered, so that an encoder's many small
// pieces cost few system calls.
constexpr size_t kBufferBytes = size_t(1) << 20;

}  // namespace

FileWriteCalls& CurrentFileWriteCalls() {
  static FileWriteCalls calls = SystemFileWriteCalls();
  return calls;
}

FileWriteCalls SystemFileWriteCalls() {
  return FileWriteCalls{SystemOpen, SystemWrite};
}

OutputFile::~OutputFile() {
  if (fd_ >= 0) ::close(fd_);
  if (!temporary_.empty()) {
    unlink(temporary_.c_str());
    ForgetTemporary(temporary_);
  }
}

OSErr OutputFile::Fail(OSErr err) {
  if (failed_ == noErr) failed_ = err;
  return err;
}

// An existing target is opened for writing first, without truncating and
// without blocking, so that the kernel's own rules decide whether we may
// replace it: mode bits, ownership, links planted in sticky folders. A
// target that cannot be opened at once (a pipe without a reader) is an
// error, not a wait.
OSErr OutputFile::Open(const std::string& path) {
  if (fd_ >= 0 || failed_ != noErr || path.empty()) return Fail(paramErr);
  if (path == kStandardOutputPath) {
    // Never replaced through a rename, even when the shell made it a file.
    fd_ = fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, 0);
    if (fd_ < 0) return Fail(ErrorFromErrno(errno));
    direct_ = true;
    return noErr;
  }
  try {
    if (const int named = DescriptorNamed(path); named >= 0) {
      fd_ = fcntl(named, F_DUPFD_CLOEXEC, 0);
      if (fd_ < 0) return Fail(errno == EBADF ? fnfErr : ErrorFromErrno(errno));
      const int flags = fcntl(fd_, F_GETFL);
      if (flags < 0 || (flags & O_ACCMODE) == O_RDONLY) return Fail(accessDeniedErr);
      direct_ = true;
      return noErr;
    }
    struct stat info;
    if (stat(path.c_str(), &info) != 0) {
      if (errno != ENOENT) return Fail(ErrorFromErrno(errno));
      if (OSErr err = NewFilePath(path, &target_)) return Fail(err);
    } else {
      if (S_ISDIR(info.st_mode)) return Fail(accessDeniedErr);
      FileDescriptor probe(CurrentFileWriteCalls().open(
          path.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY, 0));
      if (probe.get() < 0 || fstat(probe.get(), &info) != 0) return Fail(ErrorFromErrno(errno));
      if (!S_ISREG(info.st_mode)) {
        // Devices, pipes and sockets are written in place through this
        // descriptor: there is nothing to rename. Once open, writes may
        // wait for a pipe's reader as usual.
        const int flags = fcntl(probe.get(), F_GETFL);
        if (flags < 0 || fcntl(probe.get(), F_SETFL, flags & ~O_NONBLOCK) != 0) {
          return Fail(ErrorFromErrno(errno));
        }
        fd_ = probe.Release();
        direct_ = true;
        return noErr;
      }
      // A link is followed: the file it names is replaced and the link stays.
      target_ = OpenedPath(probe.get());
      if (target_.empty()) return Fail(ioErr);
      haveExisting_ = true;
      existingUid_ = info.st_uid;
      existingGid_ = info.st_gid;
      existingMode_ = info.st_mode & 07777;
    }
    const std::string folder = FolderOf(target_);
    RemoveStaleTemporariesNowAndThen(folder);
    if (OSErr err = CreateTemporary(folder, &temporary_, &fd_)) return Fail(err);
    return noErr;
  } catch (const std::bad_alloc&) {
    return Fail(memFullErr);
  }
}

OSErr OutputFile::Flush() {
  if (buffer_.empty()) return noErr;
  if (OSErr err = WriteAll(fd_, buffer_)) return Fail(err);
  flushed_ += buffer_.size();
  buffer_.clear();
  return noErr;
}

OSErr OutputFile::Write(std::span<const uint8_t> bytes) {
  if (failed_ != noErr) return failed_;
  if (fd_ < 0) return Fail(paramErr);
  if (buffer_.size() + bytes.size() > kBufferBytes) {
    if (OSErr err = Flush()) return err;
  }
  if (bytes.size() >= kBufferBytes) {
    // Large enough to go as it is.
    if (OSErr err = WriteAll(fd_, bytes)) return Fail(err);
    flushed_ += bytes.size();
  } else {
    try {
      buffer_.reserve(kBufferBytes);
    } catch (const std::bad_alloc&) {
      return Fail(memFullErr);
    }
    buffer_.insert(buffer_.end(), bytes.begin(), bytes.end());
  }
  size_ += bytes.size();
  return noErr;
}

// The descriptor's position stays at the end of what was flushed, where
// the buffer goes next.
OSErr OutputFile::WriteAt(uint64_t offset, std::span<const uint8_t> bytes) {
  if (offset == size_) return Write(bytes);
  if (failed_ != noErr) return failed_;
  if (fd_ < 0 || direct_) return Fail(paramErr);
  if (OSErr err = Flush()) return err;
  if (lseek(fd_, off_t(offset), SEEK_SET) < 0) return Fail(ErrorFromErrno(errno));
  if (OSErr err = WriteAll(fd_, bytes)) return Fail(err);
  size_ = std::max(size_, offset + bytes.size());
  flushed_ = size_;
  if (lseek(fd_, off_t(flushed_), SEEK_SET) < 0) return Fail(ErrorFromErrno(errno));
  return noErr;
}

OSErr OutputFile::ReadAt(uint64_t offset, std::span<uint8_t> bytes, size_t* got) {
  *got = 0;
  if (failed_ != noErr) return failed_;
  if (fd_ < 0 || direct_) return Fail(paramErr);
  if (OSErr err = Flush()) return err;
  while (*got < bytes.size() && offset + *got < size_) {
    const ssize_t n = pread(fd_, bytes.data() + *got, bytes.size() - *got, off_t(offset + *got));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return Fail(ErrorFromErrno(errno));
    if (n == 0) break;
    *got += size_t(n);
  }
  return noErr;
}

// The temporary file gets the old file's owner and permission bits, so
// that the rename changes nothing but the contents, and reaches the disk
// before it takes the target's name.
OSErr OutputFile::Commit() {
  if (failed_ != noErr) return failed_;
  if (fd_ < 0) return Fail(paramErr);
  OSErr err = Flush();
  if (err == noErr && haveExisting_) {
    // Keeping the owner is possible only for the owner or root; a refusal
    // is no reason to fail.
    [[maybe_unused]] int owned = fchown(fd_, existingUid_, existingGid_);
    if (fchmod(fd_, mode_t(existingMode_)) != 0) err = ErrorFromErrno(errno);
  }
  if (err == noErr && !direct_ && fsync(fd_) != 0) err = ErrorFromErrno(errno);
  FileDescriptor fd(fd_);
  fd_ = -1;
  const OSErr closed = fd.Close();
  if (err == noErr) err = closed;
  if (direct_) return Fail(err);
  if (err == noErr && rename(temporary_.c_str(), target_.c_str()) != 0) err = ErrorFromErrno(errno);
  if (err != noErr) unlink(temporary_.c_str());
  ForgetTemporary(temporary_);
  temporary_.clear();
  if (err != noErr) return Fail(err);
  // Makes the rename itself durable; the file is in place either way.
  try {
    FileDescriptor folder(::open(FolderOf(target_).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (folder.get() >= 0) fsync(folder.get());
  } catch (const std::bad_alloc&) {
  }
  return noErr;
}

OSErr WriteFileWhole(const std::string& path, std::span<const uint8_t> bytes) {
  OutputFile file;
  if (OSErr err = file.Open(path)) return err;
  if (OSErr err = file.Write(bytes)) return err;
  return file.Commit();
}
