// giflib's encoder writing into a ByteSink, for the still and the animated
// writer alike. Every call answers our code: the sink's own error when the
// bytes could not be stored, codecErr when giflib refuses.
#pragma once

#include <cstdint>
#include <vector>

#include <gif_lib.h>

#include "base/mac_types.h"
#include "stream/byte_sink.h"

// A graphic control block's disposal methods.
constexpr int kDisposeNone = DISPOSE_DO_NOT;
constexpr int kDisposeToBackground = DISPOSE_BACKGROUND;

// Bits an index needs for a palette of this many colours (1 ... 8).
int PaletteBits(size_t colours);

class GifEncoder {
 public:
  GifEncoder() = default;
  GifEncoder(const GifEncoder&) = delete;
  GifEncoder& operator=(const GifEncoder&) = delete;
  ~GifEncoder();

  // A GIF89a file: its header and logical screen, with a global colour
  // table when colours (0xRRGGBB) is not empty, padded to a power of two.
  OSErr Open(ByteSink* sink, int32_t width, int32_t height, const std::vector<uint32_t>& colours);
  // The NETSCAPE2.0 application block: repeats after the first showing, 0
  // for ever.
  OSErr PutRepeats(int32_t repeats);
  // A graphic control block for the next image: its delay in
  // centiseconds, disposal and transparent index (-1: none).
  OSErr PutControl(int32_t delayCs, int disposal, int32_t transparent);
  // An image of width x height indices at (left, top), with its own colour
  // table unless colours is empty; the indices' code size follows the
  // table it uses (its own, or the screen's). Its rows follow, from the
  // top, through PutRows.
  OSErr BeginImage(int32_t left, int32_t top, int32_t width, int32_t height,
                   const std::vector<uint32_t>& colours);
  OSErr PutRows(const uint8_t* indices, int32_t rows);
  // Writes the trailer and ends the file.
  OSErr Close();

 private:
  static int Write(GifFileType* gif, const GifByteType* bytes, int count);
  OSErr Failed();

  GifFileType* gif_ = nullptr;
  int32_t imageWidth_ = 0;
  ByteSink* sink_ = nullptr;
  OSErr sinkError_ = noErr;
};
