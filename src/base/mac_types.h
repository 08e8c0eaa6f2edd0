// Basic types and result codes of the imaging platform, as the program's
// parts know them. Results are signed 16-bit; component calls give 32 bits.
#pragma once

#include <cstdint>

using OSErr = int16_t;
using OSType = uint32_t;
using ComponentResult = int32_t;

// A four-character code, first character in the most significant byte.
constexpr OSType FourCC(const char (&s)[5]) {
  return (OSType(uint8_t(s[0])) << 24) | (OSType(uint8_t(s[1])) << 16) |
         (OSType(uint8_t(s[2])) << 8) | OSType(uint8_t(s[3]));
}

// Coordinates are 32-bit on this platform, so that no size wraps around.
struct Rect {
  int32_t top = 0;
  int32_t left = 0;
  int32_t bottom = 0;
  int32_t right = 0;
};

void MacSetRect(Rect* r, int32_t left, int32_t top, int32_t right, int32_t bottom);

// Result codes.
constexpr OSErr noErr = 0;
constexpr OSErr dskFulErr = -34;
constexpr OSErr nsvErr = -35;  // no such volume
constexpr OSErr ioErr = -36;
constexpr OSErr eofErr = -39;    // nothing more to read (an animation's frames)
constexpr OSErr fnfErr = -43;    // file not found
constexpr OSErr dupFNErr = -48;  // duplicate file name: two uses of one file
constexpr OSErr paramErr = -50;
constexpr OSErr memFullErr = -108;     // out of memory
constexpr OSErr cDepthErr = -157;      // pixel format the resampler cannot handle
constexpr OSErr noHandlerErr = -2003;  // no importer or exporter answers
constexpr OSErr kQTNotLoadableErr = -2093;
constexpr OSErr kQTEntryMissingErr = -2094;
constexpr OSErr kQTNotBoundErr = -2095;
constexpr OSErr accessDeniedErr = -5000;
constexpr OSErr codecErr = -8969;  // damaged image data
// A source refused for what it would cost (driver/job/input_limits.h), and
// a job stopped at its deadline (deadline.h).
constexpr OSErr kPixelLimitErr = -8981;
constexpr OSErr kFrameLimitErr = -8982;
constexpr OSErr kWorkLimitErr = -8983;
constexpr OSErr kByteLimitErr = -8984;
constexpr OSErr kTimedOutErr = -8985;
constexpr ComponentResult badComponentInstance = ComponentResult(0x80008001u);

// Pixel formats.
constexpr OSType k32ARGBPixelFormat = 32;
constexpr OSType k8IndexedPixelFormat = 8;
constexpr OSType k8IndexedGrayPixelFormat = 40;
constexpr OSType k48RGBCodecType = FourCC("b48r");
constexpr OSType k64ARGBPixelFormat = FourCC("b64a");
constexpr OSType k16GrayCodecType = FourCC("b16g");
constexpr OSType k32AlphaGrayCodecType = FourCC("b32a");
