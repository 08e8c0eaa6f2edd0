// Animated WebP frame by frame through libwebp's WebPAnimDecoder, which
// composites each frame on the canvas (blending, disposal to transparent)
// in a canvas of its own; each composited canvas is converted to 32-bit
// ARGB in one more. A still WebP is an animation of one frame to the
// decoder too.
#include <algorithm>
#include <memory>
#include <new>
#include <vector>

#include <webp/demux.h>

#include "base/memory_limit.h"
#include "codecs/webp/webp_codec.h"

namespace {

struct AnimDecoderDelete {
  void operator()(WebPAnimDecoder* decoder) const { WebPAnimDecoderDelete(decoder); }
};
using AnimDecoderPtr = std::unique_ptr<WebPAnimDecoder, AnimDecoderDelete>;

// The decoder's two canvases (the current one and the previous one as
// disposed) and the ARGB canvas handed out.
constexpr uint64_t kCanvasesHeld = 3;

class WebpAnimationReader final : public AnimationReader {
 public:
  WebpAnimationReader(AnimDecoderPtr decoder, const AnimationInfo& info,
                      std::vector<uint8_t> canvas)
      : decoder_(std::move(decoder)), info_(info), canvas_(std::move(canvas)) {}

  const AnimationInfo& Info() const override { return info_; }

  OSErr NextFrame(PixelView* canvas, FrameInfo* frame) override {
    if (canvas == nullptr || frame == nullptr) return paramErr;
    if (!WebPAnimDecoderHasMoreFrames(decoder_.get())) return eofErr;
    uint8_t* rgba = nullptr;
    int timestamp = 0;
    if (!WebPAnimDecoderGetNext(decoder_.get(), &rgba, &timestamp) || rgba == nullptr) {
      return codecErr;
    }
    ++framesRead_;
    frame->changed = Changed();
    // Outside the change the canvas holds the same pixels already.
    const PixelRect& r = frame->changed;
    for (int32_t y = r.top; y < r.bottom; ++y) {
      const size_t at = (size_t(y) * size_t(info_.width) + size_t(r.left)) * 4;
      RgbaToCanvas(rgba + at, canvas_.data() + at, size_t(r.Width()));
    }
    // The decoder gives each frame's end; a frame's delay is the step to it.
    // Its int sum wraps past 2^31 ms (128 frames of the longest delay),
    // while each step, under 2^24, is still right taken modulo 2^32.
    frame->delayMs = int32_t(uint32_t(timestamp) - uint32_t(lastTimestamp_));
    lastTimestamp_ = timestamp;
    *canvas = CanvasView(canvas_.data(), info_);
    return noErr;
  }

 private:
  // The decoder starts each frame from the one before, its rectangle
  // cleared when it is disposed of to the background, and draws the frame
  // in its own rectangle. (Where it starts from a cleared canvas instead,
  // the frame covers the canvas, or the canvas before was clear but for
  // the disposed rectangle: the same pixels.)
  PixelRect Changed() {
    const PixelRect whole = WholeRect(info_.width, info_.height);
    const WebPDemuxer* demux = WebPAnimDecoderGetDemuxer(decoder_.get());
    WebPIterator now;
    if (framesRead_ == 1 || !WebPDemuxGetFrame(demux, framesRead_, &now)) return whole;
    PixelRect changed = FrameRect(now);
    WebPDemuxReleaseIterator(&now);
    WebPIterator before;
    if (!WebPDemuxGetFrame(demux, framesRead_ - 1, &before)) return whole;
    if (before.dispose_method == WEBP_MUX_DISPOSE_BACKGROUND) {
      changed = UnionRect(changed, FrameRect(before));
    }
    WebPDemuxReleaseIterator(&before);
    return changed;
  }

  PixelRect FrameRect(const WebPIterator& it) const {
    return {std::min(it.x_offset, info_.width), std::min(it.y_offset, info_.height),
            std::min(it.x_offset + it.width, info_.width),
            std::min(it.y_offset + it.height, info_.height)};
  }

  AnimDecoderPtr decoder_;
  AnimationInfo info_;
  std::vector<uint8_t> canvas_;
  int lastTimestamp_ = 0;
  int framesRead_ = 0;
};

}  // namespace

OSErr CountWebpFrames(ByteSpan file, int32_t* frames) {
  const WebPData data = {file.data(), file.size()};
  WebPDemuxer* demux = WebPDemux(&data);
  if (demux == nullptr) return codecErr;
  const uint32_t count = WebPDemuxGetI(demux, WEBP_FF_FRAME_COUNT);
  WebPDemuxDelete(demux);
  if (count < 1 || count > uint32_t(INT32_MAX)) return codecErr;
  *frames = int32_t(count);
  return noErr;
}

OSErr OpenWebpAnimation(ByteSpan file, std::unique_ptr<AnimationReader>* reader) {
  if (reader == nullptr) return paramErr;
  reader->reset();
  const WebPData data = {file.data(), file.size()};
  WebPBitstreamFeatures features;
  if (WebPGetFeatures(file.data(), file.size(), &features) != VP8_STATUS_OK) return codecErr;
  const int64_t width = features.width;
  const int64_t height = features.height;
  if (width < 1 || height < 1) return codecErr;
  // The canvas is checked before the decoder allocates its own two.
  if (!WorkingBytesFit(uint64_t(width) * uint64_t(height), 4 * kCanvasesHeld)) return memFullErr;
  if (!AnimationCanvasIsPainted(file, width, height)) return codecErr;
  WebPAnimDecoderOptions options;
  if (!WebPAnimDecoderOptionsInit(&options)) return codecErr;
  options.color_mode = MODE_RGBA;
  options.use_threads = 0;
  AnimDecoderPtr decoder(WebPAnimDecoderNew(&data, &options));
  if (!decoder) return codecErr;
  WebPAnimInfo anim;
  if (!WebPAnimDecoderGetInfo(decoder.get(), &anim) || int64_t(anim.canvas_width) != width ||
      int64_t(anim.canvas_height) != height || anim.frame_count < 1) {
    return codecErr;
  }
  AnimationInfo info;
  info.width = int32_t(anim.canvas_width);
  info.height = int32_t(anim.canvas_height);
  info.frameCount = int32_t(anim.frame_count);
  info.loopCount = int32_t(anim.loop_count);
  std::vector<uint8_t> canvas;
  try {
    canvas.resize(size_t(info.width) * size_t(info.height) * 4);
    *reader = std::make_unique<WebpAnimationReader>(std::move(decoder), info, std::move(canvas));
  } catch (const std::bad_alloc&) {
    return memFullErr;
  }
  return noErr;
}
