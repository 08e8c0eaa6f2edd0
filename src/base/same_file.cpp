#include "base/same_file.h"

#include <sys/stat.h>

namespace {

bool SameIdentity(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

}  // namespace

bool SameFile(const std::string& a, const std::string& b) {
  struct stat first, second;
  return stat(a.c_str(), &first) == 0 && stat(b.c_str(), &second) == 0 &&
         SameIdentity(first, second);
}

bool NamesStandardOutput(const std::string& path) {
  struct stat output, named;
  return fstat(1, &output) == 0 && stat(path.c_str(), &named) == 0 && SameIdentity(output, named);
}

bool IsRegularFile(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}
