// The part of a PNG file that libpng may be shown: everything up to the
// first chunk whose stated length runs past the end of the file. libpng
// allocates a chunk's whole stated length before reading it, so a file of a
// few hundred bytes could otherwise make it take gigabytes; cut here, it
// fails at the same chunk as before, only without the allocation. Image
// data is the exception: libpng streams it, and a file cut inside it still
// has a readable header, so an overlong IDAT chunk is shown as it is.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "base/big_endian.h"

inline std::span<const uint8_t> PngCompleteChunks(std::span<const uint8_t> file) {
  constexpr size_t kSignatureSize = 8;
  constexpr size_t kChunkOverhead = 12;  // length, type, CRC
  if (file.size() < kSignatureSize) return file;
  size_t at = kSignatureSize;
  while (file.size() - at >= kChunkOverhead) {
    const uint64_t length = ReadBigEndian32(file.data() + at);
    if (length > file.size() - at - kChunkOverhead) {
      const bool imageData =
          file[at + 4] == 'I' && file[at + 5] == 'D' && file[at + 6] == 'A' && file[at + 7] == 'T';
      return imageData ? file : file.first(at);
    }
    at += kChunkOverhead + size_t(length);
  }
  return file;
}
