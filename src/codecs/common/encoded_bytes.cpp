#include "codecs/common/encoded_bytes.h"

#include <exception>

void ReserveEncodedBytes(std::vector<uint8_t>* out, int64_t rawBytes) {
  // Deflate and JPEG both stay within a small margin of the raw size.
  const int64_t bound = rawBytes + rawBytes / 64 + (int64_t(1) << 20);
  try {
    out->reserve(size_t(bound));
  } catch (const std::exception&) {
    // Only an optimisation.
  }
}
