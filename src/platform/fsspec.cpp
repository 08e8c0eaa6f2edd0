#include "platform/fsspec.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <new>
#include <vector>

namespace {

// The current directory, whatever its length; empty when it cannot be had.
std::string CurrentDirectory() {
  std::vector<char> buffer(4096);
  for (;;) {
    if (getcwd(buffer.data(), buffer.size()) != nullptr) return buffer.data();
    if (errno != ERANGE) return {};
    buffer.resize(buffer.size() * 2);
  }
}

}  // namespace

OSErr FSMakeFSSpec(const std::string& path, FSSpec* spec) {
  if (spec == nullptr || path.empty()) return paramErr;
  try {
    if (path.front() == '/') {
      spec->path = path;
    } else {
      std::string folder = CurrentDirectory();
      if (folder.empty()) return paramErr;
      if (folder.back() != '/') folder += '/';
      spec->path = folder + path;
    }
  } catch (const std::bad_alloc&) {
    return memFullErr;
  }
  struct stat info;
  if (stat(spec->path.c_str(), &info) == 0) return noErr;
  switch (errno) {
    case EACCES:
      return accessDeniedErr;
    case ENOMEM:
      return memFullErr;
    // A name too long or a loop of links reaches no file either.
    case ENOENT:
    case ENOTDIR:
    case ENAMETOOLONG:
    case ELOOP:
      return fnfErr;
    default:
      return ioErr;
  }
}
