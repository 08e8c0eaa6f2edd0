#include "codecs/gif/gif_stream.h"

#include <algorithm>
#include <cstring>

#include "codecs/common/canvas_rule.h"

namespace {

int ReadMemory(GifFileType* gif, GifByteType* out, int count) {
  auto* stream = static_cast<GifStream*>(gif->UserData);
  if (count <= 0) return 0;
  if (stream->position >= stream->size) {
    if (!stream->emptyBlockAtEnd || stream->position > stream->size) return 0;
    out[0] = 0;
    ++stream->position;  // given once
    return 1;
  }
  const size_t n = std::min(size_t(count), stream->size - stream->position);
  std::memcpy(out, stream->data + stream->position, n);
  stream->position += n;
  return int(n);
}

// NETSCAPE2.0 (or its older twin ANIMEXTS1.0) with a sub-block 1 holding
// how many times to play the animation again; 0 for ever.
bool IsLoopingApplication(const GifByteType* block) {
  return block[0] == 11 && (std::memcmp(block + 1, "NETSCAPE2.0", 11) == 0 ||
                            std::memcmp(block + 1, "ANIMEXTS1.0", 11) == 0);
}

}  // namespace

void GifClose::operator()(GifFileType* gif) const {
  int error = 0;
  DGifCloseFile(gif, &error);
}

bool ReadGifExtension(GifFileType* gif, GifExtensions* extensions) {
  int code = 0;
  GifByteType* block = nullptr;
  if (DGifGetExtension(gif, &code, &block) != GIF_OK) return false;
  bool looping = false;
  if (block != nullptr && code == GRAPHICS_EXT_FUNC_CODE) {
    GraphicsControlBlock control;
    if (DGifExtensionToGCB(block[0], block + 1, &control) == GIF_OK) {
      extensions->control = control;
    }
  } else if (block != nullptr && code == APPLICATION_EXT_FUNC_CODE) {
    looping = !extensions->loopFound && IsLoopingApplication(block);
  }
  while (block != nullptr) {
    if (DGifGetExtensionNext(gif, &block) != GIF_OK) return false;
    if (looping && block != nullptr && block[0] >= 3 && block[1] == 1) {
      const int32_t again = block[2] | block[3] << 8;
      extensions->loopCount = again == 0 ? 0 : again + 1;
      extensions->loopFound = true;
      looping = false;
    }
  }
  return true;
}

OSErr OpenGifFirstFrame(GifStream* stream, GifHandle* handle, GifFirstFrame* frame) {
  int error = 0;
  handle->reset(DGifOpen(stream, ReadMemory, &error));
  GifFileType* gif = handle->get();
  if (gif == nullptr) return error == D_GIF_ERR_NOT_ENOUGH_MEM ? memFullErr : codecErr;
  size_t descriptorStart = 0;
  for (;;) {
    descriptorStart = stream->position;
    GifRecordType record = UNDEFINED_RECORD_TYPE;
    if (DGifGetRecordType(gif, &record) != GIF_OK) return codecErr;
    if (record == EXTENSION_RECORD_TYPE) {
      if (!ReadGifExtension(gif, &frame->extensions)) return codecErr;
    } else if (record == IMAGE_DESC_RECORD_TYPE) {
      break;
    } else {  // the file ends without an image
      return codecErr;
    }
  }
  if (DGifGetImageDesc(gif) != GIF_OK) return codecErr;
  ForgetGifSavedImages(gif);
  const GifImageDesc& image = gif->Image;
  if (image.Width < 1 || image.Height < 1 || image.Left < 0 || image.Top < 0) return codecErr;
  frame->canvasWidth = std::max<int64_t>(gif->SWidth, int64_t(image.Left) + image.Width);
  frame->canvasHeight = std::max<int64_t>(gif->SHeight, int64_t(image.Top) + image.Height);
  // A vast screen around a tiny frame, or a vast frame with a few bytes of
  // data, is refused here, before the screen is allocated.
  if (!FirstFrameFillsCanvas(frame->canvasWidth, frame->canvasHeight, image.Width, image.Height) ||
      !GifDataCanPaint(*gif, *stream, descriptorStart)) {
    return codecErr;
  }
  return noErr;
}

bool GifDataCanPaint(const GifFileType& gif, const GifStream& stream, size_t descriptorStart) {
  return LzwDataCanPaint(int64_t(gif.Image.Width) * gif.Image.Height,
                         stream.size - std::min(descriptorStart, stream.size));
}

const ColorMapObject* GifFrameColours(const GifFileType& gif) {
  const ColorMapObject* colours =
      gif.Image.ColorMap != nullptr ? gif.Image.ColorMap : gif.SColorMap;
  return colours != nullptr && colours->Colors != nullptr ? colours : nullptr;
}

void ForgetGifSavedImages(GifFileType* gif) {
  GifFreeSavedImages(gif);
  gif->SavedImages = nullptr;
  gif->ImageCount = 0;
}

int64_t GifFrameRow(int64_t line, int64_t height, bool interlaced) {
  if (!interlaced) return line;
  constexpr int64_t kStart[] = {0, 4, 2, 1};
  constexpr int64_t kStep[] = {8, 8, 4, 2};
  for (int pass = 0; pass < 4; ++pass) {
    const int64_t rows = (height - kStart[pass] + kStep[pass] - 1) / kStep[pass];
    if (line < rows) return kStart[pass] + line * kStep[pass];
    line -= rows;
  }
  return height;  // past the last line
}
