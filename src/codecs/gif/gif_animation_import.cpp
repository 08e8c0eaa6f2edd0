// Animated GIF frame by frame, composited as browsers show it, on one
// canvas of the still importer's size (the screen, grown to hold the first
// frame), so that frame 0 is the still. A frame's transparent colour leaves
// the canvas as it is; a frame is left in place (disposal 0 and 1), cleared
// to transparent (2, as browsers do, rather than to the background colour)
// or put back as it was before (3, and 4, which browsers take for 3)
// before the next one is drawn. The part of a later frame outside the
// canvas is cut off. The file is walked once up front without decoding,
// for the frame count, the loop count and what the canvas needs; a frame
// or a record cut short or damaged is codecErr (an animation cut short is
// no success), while a file that ends between records, its trailer
// missing, is whole.
#include <algorithm>
#include <cstring>
#include <limits>
#include <memory>
#include <new>
#include <vector>

#include "base/memory_limit.h"
#include "codecs/gif/gif_codec.h"
#include "codecs/gif/gif_stream.h"

namespace {

// A frame's rectangle on the canvas, cut to it; may be empty.
struct CanvasRect {
  int64_t left = 0, top = 0, right = 0, bottom = 0;
  int64_t Pixels() const { return (right - left) * (bottom - top); }
};

CanvasRect OnCanvas(const GifImageDesc& image, int64_t width, int64_t height) {
  CanvasRect r;
  r.left = std::min<int64_t>(image.Left, width);
  r.top = std::min<int64_t>(image.Top, height);
  r.right = std::min<int64_t>(int64_t(image.Left) + image.Width, width);
  r.bottom = std::min<int64_t>(int64_t(image.Top) + image.Height, height);
  // A frame wholly off the canvas covers nothing, not a run of empty rows.
  if (r.right <= r.left || r.bottom <= r.top) r = CanvasRect();
  return r;
}

// The canvas is at most 2^31 - 1 pixels a side, so a rectangle on it fits.
PixelRect PixelRectOf(const CanvasRect& r) {
  return {int32_t(r.left), int32_t(r.top), int32_t(r.right), int32_t(r.bottom)};
}

bool RestoresPrevious(int disposal) {
  return disposal == DISPOSE_PREVIOUS || disposal == 4;
}

// What the walk over the blocks finds.
struct Walk {
  GifFirstFrame first;
  int32_t frames = 0;
  int32_t loopCount = 1;
  int64_t widestFrame = 0;
  int64_t largestRestore = 0;  // canvas pixels under the largest frame disposed of by restoring
};

// Reads records up to the next image descriptor, which it reads too; false
// at the end of the animation: its trailer, or the file's end between
// records (a trailer missing, as the still reading takes it). Anything
// else (a record cut short, bytes that are no record) is an animation
// cut short: *damaged.
bool NextImage(GifFileType* gif, GifStream* stream, GifExtensions* extensions,
               size_t* descriptorStart, bool* damaged) {
  *damaged = false;
  for (;;) {
    *descriptorStart = stream->position;
    if (stream->position >= stream->size) return false;
    GifRecordType record = UNDEFINED_RECORD_TYPE;
    *damaged = DGifGetRecordType(gif, &record) != GIF_OK;
    if (*damaged) return false;
    if (record == EXTENSION_RECORD_TYPE) {
      *damaged = !ReadGifExtension(gif, extensions);
      if (*damaged) return false;
    } else if (record == IMAGE_DESC_RECORD_TYPE) {
      *damaged = DGifGetImageDesc(gif) != GIF_OK;
      if (*damaged) return false;
      ForgetGifSavedImages(gif);
      *damaged = gif->Image.Width < 1 || gif->Image.Height < 1;
      return !*damaged;
    } else {
      *damaged = record != TERMINATE_RECORD_TYPE;
      return false;
    }
  }
}

// Skips a frame's data without decoding it.
bool SkipImageData(GifFileType* gif) {
  int codeSize = 0;
  GifByteType* block = nullptr;
  if (DGifGetCode(gif, &codeSize, &block) != GIF_OK) return false;
  while (block != nullptr) {
    if (DGifGetCodeNext(gif, &block) != GIF_OK) return false;
  }
  return true;
}

OSErr WalkFrames(ByteSpan file, Walk* walk) {
  GifStream stream{file.data(), file.size(), 0};
  GifHandle handle;
  if (OSErr err = OpenGifFirstFrame(&stream, &handle, &walk->first)) return err;
  stream.emptyBlockAtEnd = true;
  GifFileType* gif = handle.get();
  GifExtensions extensions = walk->first.extensions;
  for (;;) {
    if (GifFrameColours(*gif) == nullptr) return codecErr;
    const CanvasRect rect = OnCanvas(gif->Image, walk->first.canvasWidth, walk->first.canvasHeight);
    walk->widestFrame = std::max<int64_t>(walk->widestFrame, gif->Image.Width);
    if (RestoresPrevious(extensions.control.DisposalMode)) {
      walk->largestRestore = std::max(walk->largestRestore, rect.Pixels());
    }
    if (!SkipImageData(gif)) return codecErr;
    if (walk->frames == std::numeric_limits<int32_t>::max()) return codecErr;
    ++walk->frames;
    extensions.control = GifExtensions().control;
    size_t descriptorStart = 0;
    bool damaged = false;
    if (!NextImage(gif, &stream, &extensions, &descriptorStart, &damaged)) {
      if (damaged) return codecErr;
      break;
    }
    // Each later frame is held to the first one's rule on its data.
    if (!GifDataCanPaint(*gif, stream, descriptorStart)) return codecErr;
  }
  walk->loopCount = extensions.loopCount;  // a looping block may follow the first image
  return noErr;
}

class GifAnimationReader final : public AnimationReader {
 public:
  GifAnimationReader(ByteSpan file, const Walk& walk) : stream_{file.data(), file.size(), 0} {
    info_.width = int32_t(walk.first.canvasWidth);
    info_.height = int32_t(walk.first.canvasHeight);
    info_.frameCount = walk.frames;
    info_.loopCount = walk.loopCount;
  }

  OSErr Open(const Walk& walk) {
    GifFirstFrame first;
    if (OSErr err = OpenGifFirstFrame(&stream_, &handle_, &first)) return err;
    stream_.emptyBlockAtEnd = true;
    extensions_ = first.extensions;
    try {
      canvas_.assign(size_t(info_.width) * size_t(info_.height) * 4, 0);
      indices_.resize(size_t(walk.widestFrame));
    } catch (const std::bad_alloc&) {
      return memFullErr;
    }
    return noErr;
  }

  const AnimationInfo& Info() const override { return info_; }

  OSErr NextFrame(PixelView* canvas, FrameInfo* frame) override {
    if (canvas == nullptr || frame == nullptr) return paramErr;
    if (failed_ != noErr) return failed_;
    if (framesRead_ == info_.frameCount) return eofErr;
    failed_ = ReadFrame(frame);
    if (failed_ != noErr) return failed_;
    if (framesRead_ == 0) frame->changed = WholeRect(info_.width, info_.height);
    ++framesRead_;
    *canvas = CanvasView(canvas_.data(), info_);
    return noErr;
  }

 private:
  uint8_t* At(int64_t x, int64_t y) { return canvas_.data() + (y * info_.width + x) * 4; }

  OSErr ReadFrame(FrameInfo* frame) {
    GifFileType* gif = handle_.get();
    // What the frame before leaves in place changes only under this one.
    const PixelRect disposed = disposal_ == DISPOSE_BACKGROUND || RestoresPrevious(disposal_)
                                   ? PixelRectOf(disposed_)
                                   : PixelRect();
    Dispose();
    if (framesRead_ > 0) {
      size_t descriptorStart = 0;
      bool damaged = false;
      if (!NextImage(gif, &stream_, &extensions_, &descriptorStart, &damaged)) return codecErr;
    }
    const GifImageDesc& image = gif->Image;
    const ColorMapObject* colours = GifFrameColours(*gif);
    if (colours == nullptr || image.Width > int64_t(indices_.size())) return codecErr;
    const GraphicsControlBlock control = extensions_.control;
    extensions_.control = GifExtensions().control;  // it applies to this image alone
    const CanvasRect rect = OnCanvas(image, info_.width, info_.height);
    if (RestoresPrevious(control.DisposalMode)) {
      if (OSErr err = SaveRect(rect)) return err;
    }
    for (int64_t line = 0; line < image.Height; ++line) {
      if (DGifGetLine(gif, indices_.data(), image.Width) != GIF_OK) return codecErr;
      const int64_t y = image.Top + GifFrameRow(line, image.Height, image.Interlace);
      if (y >= rect.bottom) continue;
      for (int64_t x = rect.left; x < rect.right; ++x) {
        const int i = indices_[size_t(x - image.Left)];
        if (i == control.TransparentColor) continue;
        uint8_t* p = At(x, y);
        const bool known = i < colours->ColorCount;  // beyond the table: black
        p[0] = 255;
        p[1] = known ? colours->Colors[i].Red : 0;
        p[2] = known ? colours->Colors[i].Green : 0;
        p[3] = known ? colours->Colors[i].Blue : 0;
      }
    }
    disposal_ = control.DisposalMode;
    disposed_ = rect;
    frame->delayMs = control.DelayTime * 10;
    frame->changed = UnionRect(disposed, PixelRectOf(rect));
    return noErr;
  }

  OSErr SaveRect(const CanvasRect& rect) {
    const int64_t rowBytes = (rect.right - rect.left) * 4;
    try {
      saved_.resize(size_t(rect.Pixels()) * 4);
    } catch (const std::bad_alloc&) {
      return memFullErr;
    }
    for (int64_t y = rect.top; y < rect.bottom; ++y) {
      std::memcpy(saved_.data() + (y - rect.top) * rowBytes, At(rect.left, y), size_t(rowBytes));
    }
    return noErr;
  }

  // The frame before, disposed of as it says.
  void Dispose() {
    const CanvasRect& rect = disposed_;
    const int64_t rowBytes = (rect.right - rect.left) * 4;
    if (disposal_ == DISPOSE_BACKGROUND) {
      for (int64_t y = rect.top; y < rect.bottom; ++y) {
        std::memset(At(rect.left, y), 0, size_t(rowBytes));
      }
    } else if (RestoresPrevious(disposal_)) {
      for (int64_t y = rect.top; y < rect.bottom; ++y) {
        std::memcpy(At(rect.left, y), saved_.data() + (y - rect.top) * rowBytes, size_t(rowBytes));
      }
      std::vector<uint8_t>().swap(saved_);
    }
    disposal_ = DISPOSAL_UNSPECIFIED;
  }

  GifStream stream_;  // before the handle, which reads it until it closes
  GifHandle handle_;
  AnimationInfo info_;
  GifExtensions extensions_;
  std::vector<uint8_t> canvas_;
  std::vector<uint8_t> saved_;  // under a frame that restores what was there
  std::vector<GifPixelType> indices_;
  int disposal_ = DISPOSAL_UNSPECIFIED;
  CanvasRect disposed_;
  int32_t framesRead_ = 0;
  OSErr failed_ = noErr;
};

}  // namespace

OSErr OpenGifAnimation(ByteSpan file, std::unique_ptr<AnimationReader>* reader) {
  if (reader == nullptr) return paramErr;
  reader->reset();
  Walk walk;
  if (OSErr err = WalkFrames(file, &walk)) return err;
  // The canvas, the copy a restoring frame needs and one line of indices.
  const uint64_t canvasPixels =
      uint64_t(walk.first.canvasWidth) * uint64_t(walk.first.canvasHeight);
  const uint64_t bytes = (canvasPixels + uint64_t(walk.largestRestore)) * 4 +
                         uint64_t(walk.widestFrame) * sizeof(GifPixelType);
  if (!WorkingBytesFit(bytes)) return memFullErr;
  std::unique_ptr<GifAnimationReader> opened;
  try {
    opened = std::make_unique<GifAnimationReader>(file, walk);
  } catch (const std::bad_alloc&) {
    return memFullErr;
  }
  if (OSErr err = opened->Open(walk)) return err;
  *reader = std::move(opened);
  return noErr;
}

OSErr CountGifFrames(ByteSpan file, int32_t* frames) {
  Walk walk;
  if (OSErr err = WalkFrames(file, &walk)) return err;
  *frames = walk.frames;
  return noErr;
}
