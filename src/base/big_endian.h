// Reading and writing big-endian fields: file structures, descriptions,
// metadata items and 16-bit samples.
#pragma once

#include <cstdint>

inline uint16_t ReadBigEndian16(const uint8_t* p) {
  return uint16_t((p[0] << 8) | p[1]);
}

inline void WriteBigEndian16(uint16_t value, uint8_t* p) {
  p[0] = uint8_t(value >> 8);
  p[1] = uint8_t(value);
}

inline uint32_t ReadBigEndian32(const uint8_t* p) {
  return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | uint32_t(p[3]);
}

inline uint64_t ReadBigEndian64(const uint8_t* p) {
  return (uint64_t(ReadBigEndian32(p)) << 32) | ReadBigEndian32(p + 4);
}

inline void WriteBigEndian32(uint32_t value, uint8_t* p) {
  p[0] = uint8_t(value >> 24);
  p[1] = uint8_t(value >> 16);
  p[2] = uint8_t(value >> 8);
  p[3] = uint8_t(value);
}
