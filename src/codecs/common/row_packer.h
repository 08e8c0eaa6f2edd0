// Reading a pixel buffer's rows in the packed layouts that encoders take.
// Shared by the exporters so that every format converts pixels alike.
#pragma once

#include <cstdint>
#include <vector>

#include "base/mac_types.h"
#include "codecs/common/sample_depth.h"
#include "stream/row_band.h"

// What an export depth asks for: 8 and 40 (and the other grey or indexed
// depths 1, 2, 4, 33, 34, 36) grey; 32 and 64 colour with alpha; anything
// else colour without alpha.
enum class ExportChannels { kGrey, kColour, kColourAlpha };
ExportChannels ChannelsForDepth(int32_t depth);

// Packed row layouts; 16-bit samples are stored most significant byte first.
enum class RowLayout { kGrey8, kRGB8, kRGBA8, kRGB16, kRGBA16 };
int64_t BytesPerPixel(RowLayout layout);

bool IsSixteenBitFormat(OSType pixelFormat);  // "b48r", "b64a"

// Luma of an 8-bit RGB triple with the JPEG (BT.601) weights, in the same
// 16-bit fixed point that libjpeg uses, so grey PNG and grey JPEG agree.
constexpr uint8_t Luma8(uint32_t r, uint32_t g, uint32_t b) {
  return uint8_t((19595 * r + 38470 * g + 7471 * b + 32768) >> 16);
}

// Converts the image's rows, from the top, into the packed layout at out
// (width pixels), releasing each row of the band once it is packed. A format
// that is none of 32, "b48r", "b64a", 8, 40 answers cDepthErr.
class RowPacker {
 public:
  // Reserves the working row; memFullErr when it cannot be had.
  OSErr Prepare(RowBand& src, RowLayout layout);
  // Answers the band's stop error once it is stopped: the encoding ends.
  OSErr Pack(int64_t y, uint8_t* out);

 private:
  struct Sample16 {
    uint16_t r, g, b, a;
  };
  void Fetch(int64_t y);
  RowBand* src_ = nullptr;
  RowLayout layout_ = RowLayout::kRGB8;
  std::vector<Sample16> row_;
};
