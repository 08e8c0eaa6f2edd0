#include "codecs/png/png_chunk_write.h"

#include <algorithm>
#include <cstring>

#include "codecs/png/png_chunk_frame.h"

namespace {

constexpr uint8_t kPngSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};

}  // namespace

bool IsPngFile(ByteSpan file) {
  return file.size() >= sizeof kPngSignature &&
         std::equal(std::begin(kPngSignature), std::end(kPngSignature), file.begin());
}

bool HasPngHeaderChunk(ByteSpan png) {
  return IsPngFile(png) && png.size() >= kPngHeaderChunkEnd &&
         std::memcmp(png.data() + 12, "IHDR", 4) == 0;
}

void AppendBytes(std::vector<uint8_t>* out, const void* data, size_t size) {
  const size_t at = out->size();
  out->resize(at + size);
  if (size > 0) std::memcpy(out->data() + at, data, size);
}

void AppendPngChunk(std::vector<uint8_t>* out, const char (&name)[5], const uint8_t* data,
                    size_t size) {
  const PngChunkFrame frame = FramePngChunk(name, {{data, size}});
  AppendBytes(out, frame.head, sizeof frame.head);
  AppendBytes(out, data, size);
  AppendBytes(out, frame.tail, sizeof frame.tail);
}
