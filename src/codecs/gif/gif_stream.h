// What the GIF still and animation readers share: giflib reading a file
// held in memory, the extensions that steer a frame, the canvas that the
// first frame sets and the guards on it, and the order of a frame's rows.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include <gif_lib.h>

#include "base/mac_types.h"

struct GifStream {
  const uint8_t* data = nullptr;
  size_t size = 0;
  size_t position = 0;
  // When set, a read from the very end finds one empty block, which closes
  // a frame's data: a frame whose last code arrived without its terminator
  // is whole, while giflib, wanting more codes, takes the block for a defect.
  bool emptyBlockAtEnd = false;
};

struct GifClose {
  void operator()(GifFileType* gif) const;
};
using GifHandle = std::unique_ptr<GifFileType, GifClose>;

// What the extensions before an image say: its graphic control block (the
// last one before it; it applies to that image alone) and the loop count of
// the first looping extension, as the number of times the animation plays
// (0: for ever; 1 without such an extension).
struct GifExtensions {
  GraphicsControlBlock control = {DISPOSAL_UNSPECIFIED, false, 0, NO_TRANSPARENT_COLOR};
  bool loopFound = false;
  int32_t loopCount = 1;
};

// Reads one extension whole; false when it is damaged.
bool ReadGifExtension(GifFileType* gif, GifExtensions* extensions);

struct GifFirstFrame {
  int64_t canvasWidth = 0;  // the screen, grown to hold the first frame
  int64_t canvasHeight = 0;
  GifExtensions extensions;  // those before the first image
};

// Opens the file and reads up to the first image's descriptor, so that its
// pixel data comes next. A screen far larger than that frame or than its
// data could paint is refused (canvas_rule.h), before anything is allocated.
OSErr OpenGifFirstFrame(GifStream* stream, GifHandle* handle, GifFirstFrame* frame);

// Whether what is left of the file from a descriptor at descriptorStart
// could paint the image it describes.
bool GifDataCanPaint(const GifFileType& gif, const GifStream& stream, size_t descriptorStart);

// The frame's colours: its own table, else the global one; nullptr for none.
const ColorMapObject* GifFrameColours(const GifFileType& gif);

// giflib keeps a record (and a copy of the local colour table) of every
// image descriptor it has read, for DGifSlurp; one frame at a time needs
// none of them, and an animation of many frames would make them grow.
void ForgetGifSavedImages(GifFileType* gif);

// The row of the frame that its line-th line of data paints: in order, or
// in the four passes of an interlaced frame.
int64_t GifFrameRow(int64_t line, int64_t height, bool interlaced);
