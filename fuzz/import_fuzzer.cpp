// Fuzz target for one importer codec: the input becomes a file in memory
// (a memfd, read through /proc/self/fd) and goes through the whole read path.
// TAVREL_FUZZ_SUBTYPES lists the importer subtypes the target is about.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "import_path.h"
#include "memory_file.h"
#include "platform/quicktime.h"

namespace {

const fuzz::MemoryFile& TheMemoryFile() {
  static const fuzz::MemoryFile file = fuzz::MakeMemoryFile("tavrel-fuzz");
  return file;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  if (StartQuickTime(0) != noErr) std::abort();
  TheMemoryFile();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const fuzz::MemoryFile& file = TheMemoryFile();
  if (!fuzz::Replace(file, data, size)) std::abort();
  static const std::vector<OSType> wanted = {TAVREL_FUZZ_SUBTYPES};
  const fuzz::ImportOutcome outcome = fuzz::ExerciseImporter(file.path, wanted);
  // A result outside the documented set is a fault as much as a crash is.
  if (!fuzz::IsCleanImportOutcome(outcome)) std::abort();
  return 0;
}
