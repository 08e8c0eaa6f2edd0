// Fuzz target for one codec's animation reader: every frame of the input
// composited (animation_path.h). The memory limit is kept small so that a
// vast declared canvas is refused before anything is allocated for it.
// TAVREL_FUZZ_SUBTYPE names the codec.
#include <cstdint>
#include <cstdlib>

#include "animation_path.h"
#include "base/memory_limit_seam.h"

namespace {

constexpr uint64_t kMemoryLimitBytes = uint64_t(256) << 20;

const ImporterCodec& TheCodec() {
  static const ImporterCodec* codec = fuzz::AnimationCodec(TAVREL_FUZZ_SUBTYPE);
  if (codec == nullptr) std::abort();
  return *codec;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  OverridePhysicalMemoryBytes(kMemoryLimitBytes);
  TheCodec();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (!fuzz::ExerciseAnimation(TheCodec(), ByteSpan(data, size))) std::abort();
  return 0;
}
