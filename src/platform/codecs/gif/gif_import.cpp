// GIF importer over giflib: the first frame, composed on the logical screen
// (which grows to hold a frame that lies outside it); everything outside the
// frame and the frame's transparent colour are transparent black. Interlaced
// frames are put back in order. A frame whose data ends before its last row
// is damaged. A screen far larger than its first frame or that frame's
// data could paint is refused (canvas_rule.h).
#include <algorithm>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "base/memory_limit.h"
#include "platform/codecs/common/buffer_rows.h"
#include "platform/codecs/common/canvas_rule.h"
#include "platform/codecs/common/import_rows.h"
#include "platform/codecs/gif/gif_codec.h"

namespace {

struct MemoryStream {
  const uint8_t* data = nullptr;
  size_t size = 0;
  size_t position = 0;
  // When set, a read from the very end finds one empty block, which closes
  // a frame's data: a frame whose last code arrived without its terminator
  // is whole, while giflib, wanting more codes, takes the block for a defect.
  bool emptyBlockAtEnd = false;
};

int ReadMemory(GifFileType* gif, GifByteType* out, int count) {
  auto* stream = static_cast<MemoryStream*>(gif->UserData);
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

struct GifClose {
  void operator()(GifFileType* gif) const {
    int error = 0;
    DGifCloseFile(gif, &error);
  }
};
using GifHandle = std::unique_ptr<GifFileType, GifClose>;

bool SniffGif(ByteSpan file) {
  return file.size() >= 6 &&
         (std::memcmp(file.data(), "GIF87a", 6) == 0 || std::memcmp(file.data(), "GIF89a", 6) == 0);
}

struct FirstFrame {
  int64_t canvasWidth = 0;
  int64_t canvasHeight = 0;
  int transparentIndex = NO_TRANSPARENT_COLOR;
};

// Skips an extension, keeping the transparent colour of a graphic control
// block (the one before the first image is the one that applies to it).
bool ReadExtension(GifFileType* gif, FirstFrame* frame) {
  int code = 0;
  GifByteType* block = nullptr;
  if (DGifGetExtension(gif, &code, &block) != GIF_OK) return false;
  if (code == GRAPHICS_EXT_FUNC_CODE && block != nullptr) {
    GraphicsControlBlock control;
    if (DGifExtensionToGCB(block[0], block + 1, &control) == GIF_OK) {
      frame->transparentIndex = control.TransparentColor;
    }
  }
  while (block != nullptr) {
    if (DGifGetExtensionNext(gif, &block) != GIF_OK) return false;
  }
  return true;
}

// Opens the file and reads up to the first image's descriptor, so that its
// pixel data comes next.
OSErr OpenFirstFrame(MemoryStream* stream, GifHandle* handle, FirstFrame* frame) {
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
      if (!ReadExtension(gif, frame)) return codecErr;
    } else if (record == IMAGE_DESC_RECORD_TYPE) {
      break;
    } else {  // the file ends without an image
      return codecErr;
    }
  }
  if (DGifGetImageDesc(gif) != GIF_OK) return codecErr;
  const GifImageDesc& image = gif->Image;
  if (image.Width < 1 || image.Height < 1 || image.Left < 0 || image.Top < 0) return codecErr;
  frame->canvasWidth = std::max<int64_t>(gif->SWidth, int64_t(image.Left) + image.Width);
  frame->canvasHeight = std::max<int64_t>(gif->SHeight, int64_t(image.Top) + image.Height);
  // A vast screen around a tiny frame, or a vast frame with a few bytes of
  // data, is refused here, before the screen is allocated.
  if (!FirstFrameFillsCanvas(frame->canvasWidth, frame->canvasHeight, image.Width, image.Height) ||
      !LzwDataCanPaint(int64_t(image.Width) * image.Height, stream->size - descriptorStart)) {
    return codecErr;
  }
  return noErr;
}

OSErr ReadGifHeader(ByteSpan file, ImageHeader* header) {
  MemoryStream stream{file.data(), file.size(), 0};
  GifHandle gif;
  FirstFrame frame;
  if (OSErr err = OpenFirstFrame(&stream, &gif, &frame)) return err;
  header->width = int32_t(frame.canvasWidth);
  header->height = int32_t(frame.canvasHeight);
  header->preferredPixelFormat = 0;
  header->hasAlpha = frame.transparentIndex != NO_TRANSPARENT_COLOR;
  return noErr;
}

// The order in which an interlaced frame's rows arrive: four passes.
std::vector<int64_t> RowOrder(int64_t height, bool interlaced) {
  std::vector<int64_t> order;
  order.reserve(size_t(height));
  if (!interlaced) {
    for (int64_t y = 0; y < height; ++y) order.push_back(y);
    return order;
  }
  constexpr int64_t kStart[] = {0, 4, 2, 1};
  constexpr int64_t kStep[] = {8, 8, 4, 2};
  for (int pass = 0; pass < 4; ++pass) {
    for (int64_t y = kStart[pass]; y < height; y += kStep[pass]) order.push_back(y);
  }
  return order;
}

// Frame indices to R, G, B, A; indices beyond the colour table are black.
void ExpandIndices(const GifPixelType* indices, int64_t count, const ColorMapObject& colours,
                   int transparentIndex, uint8_t* rgba) {
  for (int64_t x = 0; x < count; ++x, rgba += 4) {
    const int i = indices[x];
    if (i == transparentIndex) {
      std::memset(rgba, 0, 4);
      continue;
    }
    const bool known = i < colours.ColorCount;
    rgba[0] = known ? colours.Colors[i].Red : 0;
    rgba[1] = known ? colours.Colors[i].Green : 0;
    rgba[2] = known ? colours.Colors[i].Blue : 0;
    rgba[3] = 255;
  }
}

OSErr DrawGif(ByteSpan file, RowBand* dst, const ColourMatch*) {
  if (dst == nullptr) return paramErr;
  if (!IsDrawableFormat(dst->PixelFormat())) return cDepthErr;
  MemoryStream stream{file.data(), file.size(), 0};
  GifHandle handle;
  FirstFrame frame;
  if (OSErr err = OpenFirstFrame(&stream, &handle, &frame)) return err;
  if (frame.canvasWidth != BufferWidth(*dst) || frame.canvasHeight != BufferHeight(*dst)) {
    return paramErr;
  }
  GifFileType* gif = handle.get();
  const GifImageDesc image = gif->Image;
  const ColorMapObject* colours = image.ColorMap != nullptr ? image.ColorMap : gif->SColorMap;
  if (colours == nullptr || colours->Colors == nullptr) return codecErr;

  std::vector<GifPixelType> indices;
  std::vector<uint8_t> canvasRow;
  std::vector<int64_t> order;
  const uint64_t workingBytes = uint64_t(image.Width) * sizeof(GifPixelType) +
                                uint64_t(frame.canvasWidth) * 4 +
                                uint64_t(image.Height) * sizeof(int64_t);
  if (!WorkingBytesFit(workingBytes)) return memFullErr;
  try {
    indices.resize(size_t(image.Width));
    canvasRow.resize(size_t(frame.canvasWidth * 4));
    order = RowOrder(image.Height, image.Interlace);
  } catch (const std::bad_alloc&) {
    return memFullErr;
  }
  for (int64_t y = 0; y < frame.canvasHeight; ++y) StoreRgba8Row(canvasRow.data(), dst, y);
  stream.emptyBlockAtEnd = true;
  for (int64_t frameRow : order) {
    if (DGifGetLine(gif, indices.data(), image.Width) != GIF_OK) return codecErr;
    ExpandIndices(indices.data(), image.Width, *colours, frame.transparentIndex,
                  canvasRow.data() + int64_t(image.Left) * 4);
    StoreRgba8Row(canvasRow.data(), dst, image.Top + frameRow);
  }
  return noErr;
}

}  // namespace

const ImporterCodec kGifImporter = {
    .format = &kGifFormat,
    .name = GifCodecName,
    .sniff = SniffGif,
    .readHeader = ReadGifHeader,
    .draw = DrawGif,
};
