// Fuzz target for one importer codec: the input becomes a file in memory
// (a memfd, read through /proc/self/fd) and goes through the whole read path.
// TAVREL_FUZZ_SUBTYPES lists the importer subtypes the target is about.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "import_path.h"
#include "platform/quicktime.h"

namespace {

struct MemoryFile {
  int fd = -1;
  std::string path;
};

const MemoryFile& TheMemoryFile() {
  static const MemoryFile file = [] {
    MemoryFile f;
    f.fd = memfd_create("tavrel-fuzz", MFD_CLOEXEC);
    if (f.fd < 0) std::abort();
    f.path = "/proc/self/fd/" + std::to_string(f.fd);
    return f;
  }();
  return file;
}

bool Replace(const MemoryFile& file, const uint8_t* data, size_t size) {
  if (ftruncate(file.fd, 0) != 0) return false;
  size_t done = 0;
  while (done < size) {
    ssize_t n = pwrite(file.fd, data + done, size - done, off_t(done));
    if (n <= 0) return false;
    done += size_t(n);
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  if (StartQuickTime(0) != noErr) std::abort();
  TheMemoryFile();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const MemoryFile& file = TheMemoryFile();
  if (!Replace(file, data, size)) std::abort();
  static const std::vector<OSType> wanted = {TAVREL_FUZZ_SUBTYPES};
  const fuzz::ImportOutcome outcome = fuzz::ExerciseImporter(file.path, wanted);
  // A result outside the documented set is a fault as much as a crash is.
  if (!fuzz::IsCleanImportOutcome(outcome)) std::abort();
  return 0;
}
