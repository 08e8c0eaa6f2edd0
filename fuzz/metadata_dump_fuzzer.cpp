// Fuzz target for the metadata dump: arbitrary item lists, printed to
// /dev/null and formatted item by item.
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "metadata_dump_path.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static std::FILE* const sink = std::fopen("/dev/null", "w");
  if (sink == nullptr) std::abort();
  if (!fuzz::ExerciseMetaDataDump({data, size}, sink)) std::abort();
  return 0;
}
