#include "base/same_file.h"

#include <sys/stat.h>

namespace {

bool SameIdentity(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

}  // namespace

bool NamesStandardOutput(const std::string& path) {
  struct stat output, named;
  return fstat(1, &output) == 0 && stat(path.c_str(), &named) == 0 && SameIdentity(output, named);
}
