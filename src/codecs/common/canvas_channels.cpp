#include "codecs/common/canvas_channels.h"

#include <new>
#include <utility>

#include "codecs/common/row_packer.h"

namespace {

class ChannelKeepingWriter final : public AnimationWriter {
 public:
  ChannelKeepingWriter(std::unique_ptr<AnimationWriter> writer, int32_t depth)
      : writer_(std::move(writer)), depth_(depth) {}
  OSErr AddFrame(const PixelView& canvas, int32_t delayMs) override {
    KeepCanvasChannels(canvas, depth_);
    return writer_->AddFrame(canvas, delayMs);
  }
  OSErr Finish(std::vector<uint8_t>* file) override { return writer_->Finish(file); }

 private:
  std::unique_ptr<AnimationWriter> writer_;
  const int32_t depth_;
};

}  // namespace

void KeepCanvasChannels(const PixelView& canvas, int32_t depth) {
  const ExportChannels channels = ChannelsForDepth(depth);
  if (channels == ExportChannels::kColourAlpha) return;
  for (int32_t y = 0; y < canvas.height; ++y) {
    uint8_t* p = canvas.base + y * canvas.rowBytes;
    for (int32_t x = 0; x < canvas.width; ++x, p += 4) {
      p[0] = 255;
      if (channels == ExportChannels::kGrey) p[1] = p[2] = p[3] = Luma8(p[1], p[2], p[3]);
    }
  }
}

std::unique_ptr<AnimationWriter> KeepingChannels(std::unique_ptr<AnimationWriter> writer,
                                                 int32_t depth) {
  return std::unique_ptr<AnimationWriter>(new (std::nothrow)
                                              ChannelKeepingWriter(std::move(writer), depth));
}
