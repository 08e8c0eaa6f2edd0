// Animated JPEG XL frame by frame through libjxl's decoder with coalescing
// on (its default): each full image it hands out is a displayed frame
// composited on the canvas (crops, blending and reference frames resolved
// by libjxl, frames of no duration merged into the next one shown), in the
// orientation and colours the still importer draws, 8 bits a sample.
// libjxl's num_loops counts plays, 0 for ever, as our loop count does.
// The frames are counted first from their headers alone: without an image
// event subscribed, libjxl steps over each frame's data by its table of
// contents instead of decoding it.
#include <jxl/decode.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <memory>
#include <new>
#include <vector>

#include "base/memory_limit.h"
#include "codecs/jxl/jxl_codec.h"
#include "codecs/jxl/jxl_decoder.h"

namespace {

// libjxl's own planes while it composites: the frame being decoded and the
// canvas it keeps for the next frame to blend on, four float samples a
// pixel each (a 3-megapixel animation of crops on whole frames peaked at
// 34 bytes a pixel in libjxl 0.7).
constexpr uint64_t kDecoderBytesPerPixel = 34;

// The RGBA samples libjxl writes, turned in place into bytes A, R, G, B.
class JxlAnimationReader final : public AnimationReader {
 public:
  JxlAnimationReader(OwnedJxlDecoder decoder, const AnimationInfo& info,
                     const JxlAnimationHeader& timing)
      : decoder_(std::move(decoder)), info_(info), timing_(timing) {}

  const AnimationInfo& Info() const override { return info_; }

  OSErr NextFrame(PixelView* canvas, FrameInfo* frame) override {
    if (canvas == nullptr || frame == nullptr) return paramErr;
    if (framesRead_ >= info_.frameCount) return eofErr;
    if (OSErr err = AllocateCanvas()) return err;
    // Grey is spread to R, G, B by the decoder, as for a still.
    const JxlPixelFormat format = {4, JXL_TYPE_UINT8, JXL_NATIVE_ENDIAN, 0};
    for (;;) {
      switch (Jxl().DecoderProcessInput(decoder_.get())) {
        case JXL_DEC_BASIC_INFO:
          break;
        case JXL_DEC_COLOR_ENCODING:
          PreferSrgbSamples(decoder_.get());
          break;
        case JXL_DEC_FRAME: {
          JxlFrameHeader header;
          if (Jxl().DecoderGetFrameHeader(decoder_.get(), &header) != JXL_DEC_SUCCESS) {
            return codecErr;
          }
          ticks_ += header.duration;
          break;
        }
        case JXL_DEC_NEED_IMAGE_OUT_BUFFER:
          if (Jxl().DecoderSetImageOutBuffer(decoder_.get(), &format, canvas_.data(),
                                             canvas_.size()) != JXL_DEC_SUCCESS) {
            return codecErr;
          }
          break;
        case JXL_DEC_FULL_IMAGE:
          RgbaToCanvas(canvas_.data(), canvas_.data(), canvas_.size() / 4);
          ++framesRead_;
          frame->delayMs = NextDelay();
          // Coalesced frames hide what each one drew: any part may differ.
          frame->changed = WholeRect(info_.width, info_.height);
          *canvas = CanvasView(canvas_.data(), info_);
          return noErr;
        default:
          return codecErr;  // damaged, data missing, or fewer frames than counted
      }
    }
  }

 private:
  // The canvas is made for the first frame, not when the file is opened:
  // a still opened so is drawn by the still importer instead.
  OSErr AllocateCanvas() {
    if (!canvas_.empty()) return noErr;
    const uint64_t pixels = uint64_t(info_.width) * uint64_t(info_.height);
    if (!WorkingBytesFit(pixels, 4 + kDecoderBytesPerPixel)) return memFullErr;
    try {
      canvas_.resize(size_t(pixels) * 4);
    } catch (const std::bad_alloc&) {
      return memFullErr;
    }
    return noErr;
  }

  // The step from the last frame's end to this one's, both rounded from
  // the ticks so far, so that rounding never drifts over many frames.
  int32_t NextDelay() {
    if (timing_.tps_numerator == 0) return 0;
    const double endMs =
        double(ticks_) * 1000.0 * double(timing_.tps_denominator) / double(timing_.tps_numerator);
    const int64_t end = std::llround(std::min(endMs, 1e15));
    const int64_t delay = std::min<int64_t>(end - lastEndMs_, INT32_MAX);
    lastEndMs_ = end;
    return int32_t(delay);
  }

  OwnedJxlDecoder decoder_;
  AnimationInfo info_;
  JxlAnimationHeader timing_;
  std::vector<uint8_t> canvas_;
  int32_t framesRead_ = 0;
  uint64_t ticks_ = 0;
  int64_t lastEndMs_ = 0;
};

// The basic info and the number of frames shown, from the headers alone.
OSErr CountFrames(ByteSpan file, JxlBasicInfo* info, int32_t* frames) {
  OwnedJxlDecoder decoder;
  if (OSErr err = StartJxlDecoder(file, JXL_DEC_BASIC_INFO | JXL_DEC_FRAME, &decoder)) return err;
  bool haveInfo = false;
  *frames = 0;
  for (;;) {
    switch (Jxl().DecoderProcessInput(decoder.get())) {
      case JXL_DEC_BASIC_INFO:
        if (Jxl().DecoderGetBasicInfo(decoder.get(), info) != JXL_DEC_SUCCESS) return codecErr;
        haveInfo = true;
        break;
      case JXL_DEC_FRAME:
        if (*frames == INT32_MAX) return codecErr;
        ++*frames;
        break;
      case JXL_DEC_SUCCESS:
        return haveInfo && *frames > 0 ? noErr : codecErr;
      default:
        return codecErr;  // damaged, or cut short before the last frame's header
    }
  }
}

}  // namespace

OSErr CountJxlFrames(ByteSpan file, int32_t* frames) {
  JxlBasicInfo basic{};
  return CountFrames(file, &basic, frames);
}

OSErr OpenJxlAnimation(ByteSpan file, std::unique_ptr<AnimationReader>* reader) {
  if (reader == nullptr) return paramErr;
  reader->reset();
  JxlBasicInfo basic{};
  int32_t frames = 0;
  if (OSErr err = CountFrames(file, &basic, &frames)) return err;
  int64_t width = 0, height = 0;
  DrawnJxlSize(basic, &width, &height);
  if (width < 1 || height < 1 || width > INT32_MAX || height > INT32_MAX) return codecErr;
  OwnedJxlDecoder decoder;
  if (OSErr err = StartJxlDecoder(
          file, JXL_DEC_BASIC_INFO | JXL_DEC_COLOR_ENCODING | JXL_DEC_FRAME | JXL_DEC_FULL_IMAGE,
          &decoder)) {
    return err;
  }
  AnimationInfo info;
  info.width = int32_t(width);
  info.height = int32_t(height);
  info.frameCount = frames;
  // A still plays once.
  info.loopCount =
      !basic.have_animation ? 1 : int32_t(std::min<uint32_t>(basic.animation.num_loops, INT32_MAX));
  JxlAnimationHeader timing{};
  if (basic.have_animation) timing = basic.animation;
  try {
    *reader = std::make_unique<JxlAnimationReader>(std::move(decoder), info, timing);
  } catch (const std::bad_alloc&) {
    return memFullErr;
  }
  return noErr;
}
