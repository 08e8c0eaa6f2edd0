// Reading and writing big-endian fields: file structures, descriptions,
// metadata items and 16-bit samples; and, for structures in either order
// (TIFF's "II" and "MM"), fields in the order a flag names.
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

inline uint16_t ReadLittleEndian16(const uint8_t* p) {
  return uint16_t(p[0] | (p[1] << 8));
}

inline uint32_t ReadLittleEndian32(const uint8_t* p) {
  return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}

inline uint16_t ReadOrdered16(const uint8_t* p, bool little) {
  return little ? ReadLittleEndian16(p) : ReadBigEndian16(p);
}

inline uint32_t ReadOrdered32(const uint8_t* p, bool little) {
  return little ? ReadLittleEndian32(p) : ReadBigEndian32(p);
}

inline void WriteOrdered16(uint16_t value, uint8_t* p, bool little) {
  if (!little) return WriteBigEndian16(value, p);
  p[0] = uint8_t(value);
  p[1] = uint8_t(value >> 8);
}

inline void WriteOrdered32(uint32_t value, uint8_t* p, bool little) {
  if (!little) return WriteBigEndian32(value, p);
  for (int i = 0; i < 4; ++i) p[i] = uint8_t(value >> (8 * i));
}
