#include "codecs/png/png_chunk_frame.h"

#include <libdeflate.h>

#include "base/big_endian.h"

PngChunkFrame FramePngChunk(const char (&type)[5],
                            std::initializer_list<std::span<const uint8_t>> pieces) {
  PngChunkFrame frame;
  size_t length = 0;
  uint32_t crc = libdeflate_crc32(0, type, 4);
  for (std::span<const uint8_t> piece : pieces) {
    length += piece.size();
    if (!piece.empty()) crc = libdeflate_crc32(crc, piece.data(), piece.size());
  }
  WriteBigEndian32(uint32_t(length), frame.head);
  for (int i = 0; i < 4; ++i) frame.head[4 + i] = uint8_t(type[i]);
  WriteBigEndian32(crc, frame.tail);
  return frame;
}
