// Fuzz target for the command line: the word scan and the size arithmetic.
#include <cstdint>
#include <cstdlib>

#include "command_line_path.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (!fuzz::ExerciseCommandLine({data, size})) std::abort();
  return 0;
}
