#include "platform/import_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <new>
#include <stdexcept>

#include "base/errno_error.h"

FileDescriptor& FileDescriptor::operator=(FileDescriptor&& other) noexcept {
  if (this != &other) {
    if (fd >= 0) ::close(fd);
    fd = other.fd;
    other.fd = -1;
  }
  return *this;
}

FileDescriptor::~FileDescriptor() {
  if (fd >= 0) ::close(fd);
}

OSErr OpenRegularFile(const std::string& path, FileDescriptor* file, uint64_t* size) {
  FileDescriptor opened(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
  if (opened.fd < 0) return ErrorFromErrno(errno);
  struct stat info;
  if (fstat(opened.fd, &info) != 0) return ioErr;
  if (!S_ISREG(info.st_mode)) return noHandlerErr;
  *size = uint64_t(info.st_size);
  *file = std::move(opened);
  return noErr;
}

OSErr ReadFileStart(int fd, uint64_t limit, LargeByteVector* bytes) {
  try {
    bytes->resize(size_t(limit));
  } catch (const std::bad_alloc&) {
    return memFullErr;
  } catch (const std::length_error&) {
    return memFullErr;
  }
  size_t done = 0;
  while (done < bytes->size()) {
    ssize_t n = ::pread(fd, bytes->data() + done, bytes->size() - done, off_t(done));
    if (n < 0) {
      if (errno == EINTR) continue;
      return ioErr;
    }
    if (n == 0) break;
    done += size_t(n);
  }
  bytes->resize(done);
  return noErr;
}

const ComponentRecord* SniffedComponent(ByteSpan bytes) {
  for (const ComponentRecord& record : ComponentRegistry()) {
    if (record.importer != nullptr && record.importer->sniff(bytes)) return &record;
  }
  return nullptr;
}
