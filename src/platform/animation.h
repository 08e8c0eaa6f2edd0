// Animations frame by frame, one whole canvas at a time and never the whole
// animation. A reader composites each frame onto its canvas as a viewer
// shows it (frame offsets, transparency, disposal, blending) and hands over
// the canvas; a writer takes whole canvases of one size and works out for
// itself what changed between them. Canvases are 32-bit ARGB
// (k32ARGBPixelFormat: bytes A, R, G, B), not premultiplied.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "base/mac_types.h"
#include "base/pixel_view.h"

struct AnimationInfo {
  int32_t width = 0;  // the canvas
  int32_t height = 0;
  int32_t frameCount = 0;
  int32_t loopCount = 0;  // 0: for ever
};

// A reader's canvas as it hands it over: packed rows of 32-bit ARGB.
PixelView CanvasView(uint8_t* pixels, const AnimationInfo& info);
// Packed R, G, B, A bytes (as libwebp and libjxl give them) to the
// canvas's A, R, G, B; from and to may be the same.
void RgbaToCanvas(const uint8_t* from, uint8_t* to, size_t pixels);

// What a reader says of a frame besides its canvas: how long it shows, and
// the part of the canvas that may differ from the canvas before (the
// frame's rectangle and what the frame before was disposed of under; the
// whole canvas for the first frame, and where the reader cannot tell).
struct FrameInfo {
  int32_t delayMs = 0;
  PixelRect changed;
};

class AnimationReader {
 public:
  virtual ~AnimationReader() = default;
  virtual const AnimationInfo& Info() const = 0;
  // The next frame composited onto the canvas, which stays the reader's and
  // holds until the next call (outside frame->changed it is the canvas
  // handed out before). eofErr after the last frame; a damaged frame
  // answers the codec's error (codecErr).
  virtual OSErr NextFrame(PixelView* canvas, FrameInfo* frame) = 0;
};

// What the writer is asked to make: canvas size and loop count as in
// AnimationInfo, quality, lossless and depth as for a still (ExportRequest).
struct AnimationRequest {
  AnimationInfo info;
  int32_t quality = 768;
  int32_t depth = 32;  // colour and alpha kept; the platform passes the exporter's
};

class AnimationWriter {
 public:
  virtual ~AnimationWriter() = default;
  // Keeps the canvas's channels that the request's depth keeps, as a
  // still's exporter does at that depth; may change the canvas in place.
  virtual OSErr AddFrame(const PixelView& canvas, int32_t delayMs) = 0;
  // Ends the animation and gives the whole file.
  virtual OSErr Finish(std::vector<uint8_t>* file) = 0;
};
