// Files in memory (memfd), reached by path through /proc/self/fd, for the
// fuzz targets that run the program's file paths on their input.
#pragma once

#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

namespace fuzz {

struct MemoryFile {
  int fd = -1;
  std::string path;
};

inline MemoryFile MakeMemoryFile(const char* name) {
  MemoryFile f;
  f.fd = memfd_create(name, MFD_CLOEXEC);
  if (f.fd < 0) std::abort();
  f.path = "/proc/self/fd/" + std::to_string(f.fd);
  return f;
}

// The file holds exactly these bytes afterwards.
inline bool Replace(const MemoryFile& file, const uint8_t* data, size_t size) {
  if (ftruncate(file.fd, 0) != 0 || lseek(file.fd, 0, SEEK_SET) != 0) return false;
  size_t done = 0;
  while (done < size) {
    ssize_t n = pwrite(file.fd, data + done, size - done, off_t(done));
    if (n <= 0) return false;
    done += size_t(n);
  }
  return true;
}

inline std::vector<uint8_t> Contents(const MemoryFile& file) {
  std::vector<uint8_t> bytes(size_t(lseek(file.fd, 0, SEEK_END)));
  if (!bytes.empty() && pread(file.fd, bytes.data(), bytes.size(), 0) != ssize_t(bytes.size())) {
    std::abort();
  }
  return bytes;
}

}  // namespace fuzz
