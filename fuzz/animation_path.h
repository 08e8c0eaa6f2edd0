// An animation read as a run reads it: opened through the codec's reader
// and every frame composited. Shared by the animation fuzz targets and the
// regression tests that replay what they found.
#pragma once

#include <cstdint>
#include <memory>

#include "platform/codec.h"

namespace fuzz {

// Past this many frames an input only costs time.
constexpr int kMaxReadFrames = 2000;

// The importer codec of this subtype that reads animations, or nullptr.
inline const ImporterCodec* AnimationCodec(OSType subtype) {
  for (const ImporterCodec* c : ImporterCodecs()) {
    if (c->format->subtype == subtype && c->openAnimation != nullptr) return c;
  }
  return nullptr;
}

// Reads every frame; false when the reader breaks its contract (a result
// outside the documented set, a canvas not of the declared size, a
// negative delay). Each row's ends are read, so that a short canvas shows
// to the address sanitizer.
inline bool ExerciseAnimation(const ImporterCodec& codec, ByteSpan file) {
  std::unique_ptr<AnimationReader> reader;
  const OSErr opened = codec.openAnimation(file, &reader);
  if (opened != noErr) {
    return reader == nullptr && (opened == codecErr || opened == memFullErr);
  }
  if (reader == nullptr) return false;
  const AnimationInfo info = reader->Info();
  if (info.width < 1 || info.height < 1 || info.frameCount < 0 || info.loopCount < 0) {
    return false;
  }
  for (int i = 0; i < kMaxReadFrames; ++i) {
    PixelView canvas;
    FrameInfo frame{-1, {}};
    const OSErr err = reader->NextFrame(&canvas, &frame);
    if (err == eofErr || err == codecErr || err == memFullErr) return true;
    if (err != noErr) return false;
    if (canvas.width != info.width || canvas.height != info.height || canvas.base == nullptr ||
        canvas.rowBytes < int64_t(canvas.width) * 4 || frame.delayMs < 0 ||
        frame.changed.left < 0 || frame.changed.top < 0 || frame.changed.right > canvas.width ||
        frame.changed.bottom > canvas.height) {
      return false;
    }
    uint32_t sum = 0;
    for (int32_t y = 0; y < canvas.height; ++y) {
      const uint8_t* row = canvas.base + y * canvas.rowBytes;
      sum += row[0] + row[int64_t(canvas.width) * 4 - 1];
    }
    volatile uint32_t sink = sum;
    (void)sink;
  }
  return true;
}

}  // namespace fuzz
