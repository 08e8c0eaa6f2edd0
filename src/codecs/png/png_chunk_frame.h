// The frame around a PNG chunk's data: length and type before it, the
// CRC-32 of type and data after it. Every chunk the exporter writes is
// framed here.
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <span>

struct PngChunkFrame {
  uint8_t head[8];  // length, type
  uint8_t tail[4];  // CRC
};

// The data may come in pieces (a prefix and a body), framed as one chunk.
PngChunkFrame FramePngChunk(const char (&type)[5],
                            std::initializer_list<std::span<const uint8_t>> pieces);
