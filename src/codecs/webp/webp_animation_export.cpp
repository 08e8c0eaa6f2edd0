// Animated WebP through libwebp's WebPAnimEncoder, which is handed whole
// canvases with their start times and works out for itself which
// rectangle changed, whether to blend or dispose, and where a keyframe
// pays. Lossy at the still exporter's quality percent, lossless at 1024
// and above (keeping the colour under transparent pixels, as the still
// exporter does). A frame that repeats its predecessor exactly is not
// given to the encoder (which would merge it anyway) but put back into the
// file afterwards (webp_frame_runs.h).
//
// Times: the encoder takes each frame's start as an int and works only with
// the difference from the previous start, in unsigned arithmetic; starts
// are given to it modulo 2^32 (rebased by whole turns), so that an
// animation whose delays add up past 2^31 ms is written as it is. The
// difference must stay below 2^24 ms (a frame's longest duration): a
// longer wait after a frame (its own delay, or with the repeats left out
// after it) is split by giving that frame again, which the encoder merges
// into it, writing the time past 2^24 ms as frames of one transparent pixel.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include <webp/encode.h>
#include <webp/mux.h>

#include "codecs/common/canvas_channels.h"
#include "codecs/webp/webp_codec.h"
#include "codecs/webp/webp_config.h"
#include "codecs/webp/webp_frame_runs.h"
#include "platform/quality.h"

namespace {

// WebP holds a loop count of 16 bits.
constexpr int32_t kMostLoops = 65535;
// The longest time between two frames given to the encoder, in ms.
constexpr int64_t kLongestStep = (int64_t(1) << 24) - 1;

// A start time as the encoder takes it: modulo 2^32 (see above).
int EncoderTime(int64_t ms) {
  return int(uint32_t(uint64_t(ms)));
}

struct AnimEncoderDelete {
  void operator()(WebPAnimEncoder* encoder) const { WebPAnimEncoderDelete(encoder); }
};
struct PictureFree {
  void operator()(WebPPicture* picture) const { WebPPictureFree(picture); }
};

// Fills the picture's ARGB words from a 32-bit ARGB canvas (bytes A, R, G, B).
void StoreCanvas(const PixelView& canvas, WebPPicture* picture) {
  for (int32_t y = 0; y < canvas.height; ++y) {
    const uint8_t* from = canvas.base + y * canvas.rowBytes;
    uint32_t* to = picture->argb + int64_t(y) * picture->argb_stride;
    for (int32_t x = 0; x < canvas.width; ++x, from += 4) {
      to[x] = uint32_t(from[0]) << 24 | uint32_t(from[1]) << 16 | uint32_t(from[2]) << 8 | from[3];
    }
  }
}

OSErr EncoderError(const WebPPicture& picture) {
  return picture.error_code == VP8_ENC_ERROR_OUT_OF_MEMORY ? memFullErr : codecErr;
}

class WebpAnimationWriter final : public AnimationWriter {
 public:
  WebpAnimationWriter(WebPAnimEncoder* encoder, const WebPConfig& config, const AnimationInfo& info,
                      const WebPMuxAnimParams& params)
      : encoder_(encoder), config_(config), info_(info), params_(params) {}

  OSErr AddFrame(const PixelView& canvas, int32_t delayMs) override {
    if (canvas.width != info_.width || canvas.height != info_.height ||
        canvas.pixelFormat != k32ARGBPixelFormat || delayMs < 0) {
      return paramErr;
    }
    const bool repeat = RepeatsPrevious(canvas);
    try {
      if (!repeat) {
        if (OSErr err = Bridge(timestamp_)) return err;
        if (OSErr err = Encode(canvas, timestamp_)) return err;
        givenAt_ = timestamp_;
        Keep(canvas);
      }
      delays_.push_back(delayMs);
      repeats_.push_back(repeat);
    } catch (const std::bad_alloc&) {
      return memFullErr;
    }
    timestamp_ += delayMs;
    return noErr;
  }

  OSErr Finish(std::vector<uint8_t>* file) override {
    if (file == nullptr) return paramErr;
    if (delays_.empty()) return paramErr;
    // The last frame lasts until the end time given here.
    if (OSErr err = Bridge(timestamp_)) return err;
    if (!WebPAnimEncoderAdd(encoder_.get(), nullptr, EncoderTime(timestamp_), nullptr)) {
      return codecErr;
    }
    WebPData assembled;
    WebPDataInit(&assembled);
    if (!WebPAnimEncoderAssemble(encoder_.get(), &assembled)) return codecErr;
    OSErr result = noErr;
    try {
      file->assign(assembled.bytes, assembled.bytes + assembled.size);
    } catch (const std::bad_alloc&) {
      result = memFullErr;
    }
    WebPDataClear(&assembled);
    if (result != noErr) return result;
    return KeepEveryFrame(delays_, repeats_, info_.width, info_.height, params_, file);
  }

 private:
  // Gives the last frame given again until the time from it to until is
  // one step the encoder takes.
  OSErr Bridge(int64_t until) {
    const PixelView last{previous_.data(), int64_t(info_.width) * 4, info_.width,
                         info_.height,     k32ARGBPixelFormat,       32};
    while (until - givenAt_ > kLongestStep) {
      givenAt_ += kLongestStep;
      if (OSErr err = Encode(last, givenAt_)) return err;
    }
    return noErr;
  }

  OSErr Encode(const PixelView& canvas, int64_t start) {
    WebPPicture picture;
    if (!WebPPictureInit(&picture)) return codecErr;
    picture.width = canvas.width;
    picture.height = canvas.height;
    picture.use_argb = 1;
    if (!WebPPictureAlloc(&picture)) return memFullErr;
    std::unique_ptr<WebPPicture, PictureFree> owned(&picture);
    StoreCanvas(canvas, &picture);
    if (!WebPAnimEncoderAdd(encoder_.get(), &picture, EncoderTime(start), &config_)) {
      return EncoderError(picture);
    }
    return noErr;
  }

  bool RepeatsPrevious(const PixelView& canvas) const {
    if (previous_.empty()) return false;
    const size_t rowBytes = size_t(canvas.width) * 4;
    for (int32_t y = 0; y < canvas.height; ++y) {
      if (std::memcmp(canvas.base + y * canvas.rowBytes, previous_.data() + y * rowBytes,
                      rowBytes) != 0) {
        return false;
      }
    }
    return true;
  }

  void Keep(const PixelView& canvas) {
    const size_t rowBytes = size_t(canvas.width) * 4;
    previous_.resize(rowBytes * size_t(canvas.height));
    for (int32_t y = 0; y < canvas.height; ++y) {
      std::memcpy(previous_.data() + y * rowBytes, canvas.base + y * canvas.rowBytes, rowBytes);
    }
  }

  std::unique_ptr<WebPAnimEncoder, AnimEncoderDelete> encoder_;
  WebPConfig config_;
  AnimationInfo info_;
  WebPMuxAnimParams params_;
  std::vector<int32_t> delays_;    // every frame's, as given
  std::vector<bool> repeats_;      // whether each repeats its predecessor exactly
  std::vector<uint8_t> previous_;  // the last frame given to the encoder
  int64_t timestamp_ = 0;          // the next frame's start, in milliseconds
  int64_t givenAt_ = 0;            // the start of the frame last given to the encoder
};

}  // namespace

OSErr StartWebpAnimation(const AnimationRequest& request,
                         std::unique_ptr<AnimationWriter>* writer) {
  if (writer == nullptr) return paramErr;
  writer->reset();
  const AnimationInfo& info = request.info;
  if (info.width < 1 || info.height < 1 || info.width > WEBP_MAX_DIMENSION ||
      info.height > WEBP_MAX_DIMENSION) {
    return paramErr;
  }
  WebPConfig config;
  if (!WebpConfigForQuality(request.quality, -1, &config)) return codecErr;

  WebPAnimEncoderOptions options;
  if (!WebPAnimEncoderOptionsInit(&options)) return codecErr;
  options.anim_params.loop_count = std::clamp(info.loopCount, 0, kMostLoops);
  options.allow_mixed = 0;
  WebPAnimEncoder* encoder = WebPAnimEncoderNew(info.width, info.height, &options);
  if (encoder == nullptr) return memFullErr;
  std::unique_ptr<AnimationWriter> made;
  try {
    made = std::make_unique<WebpAnimationWriter>(encoder, config, info, options.anim_params);
  } catch (const std::bad_alloc&) {
    WebPAnimEncoderDelete(encoder);
    return memFullErr;
  }
  *writer = KeepingChannels(std::move(made), request.depth);
  return *writer != nullptr ? noErr : memFullErr;
}
