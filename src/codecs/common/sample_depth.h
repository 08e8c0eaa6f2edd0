// Samples between 8 and 16 bits, for importers and exporters alike.
#pragma once

#include <cstdint>

// 8-bit sample to 16 bits, exactly: 0xAB becomes 0xABAB.
constexpr uint16_t Widen8To16(uint32_t v) {
  return uint16_t(v * 257);
}

// 16-bit sample to 8 bits, rounded to nearest: (v * 255 + 32767) / 65535.
constexpr uint8_t Reduce16To8(uint32_t v) {
  return uint8_t((v * 255 + 32767) / 65535);
}
