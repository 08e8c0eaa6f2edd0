// GIF importer over giflib: the first frame, composed on the logical screen
// (which grows to hold a frame that lies outside it); everything outside the
// frame and the frame's transparent colour are transparent black. Interlaced
// frames are put back in order. A frame whose data ends before its last row
// is damaged. A screen far larger than its first frame or that frame's
// data could paint is refused (canvas_rule.h).
#include <cstring>
#include <new>
#include <vector>

#include "base/memory_limit.h"
#include "codecs/common/buffer_rows.h"
#include "codecs/common/import_rows.h"
#include "codecs/gif/gif_codec.h"
#include "codecs/gif/gif_stream.h"

namespace {

bool SniffGif(ByteSpan file) {
  return file.size() >= 6 &&
         (std::memcmp(file.data(), "GIF87a", 6) == 0 || std::memcmp(file.data(), "GIF89a", 6) == 0);
}

OSErr ReadGifHeader(ByteSpan file, ImageHeader* header) {
  GifStream stream{file.data(), file.size(), 0};
  GifHandle gif;
  GifFirstFrame frame;
  if (OSErr err = OpenGifFirstFrame(&stream, &gif, &frame)) return err;
  header->width = int32_t(frame.canvasWidth);
  header->height = int32_t(frame.canvasHeight);
  header->preferredPixelFormat = 0;
  header->hasAlpha = frame.extensions.control.TransparentColor != NO_TRANSPARENT_COLOR;
  return noErr;
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

OSErr DrawGif(ByteSpan file, const DrawRequest& request) {
  RowBand* dst = request.rows;
  if (dst == nullptr) return paramErr;
  if (!IsDrawableFormat(dst->PixelFormat())) return cDepthErr;
  GifStream stream{file.data(), file.size(), 0};
  GifHandle handle;
  GifFirstFrame frame;
  if (OSErr err = OpenGifFirstFrame(&stream, &handle, &frame)) return err;
  if (frame.canvasWidth != BufferWidth(*dst) || frame.canvasHeight != BufferHeight(*dst)) {
    return paramErr;
  }
  GifFileType* gif = handle.get();
  const GifImageDesc image = gif->Image;
  const ColorMapObject* colours = GifFrameColours(*gif);
  if (colours == nullptr) return codecErr;

  std::vector<GifPixelType> indices;
  std::vector<uint8_t> canvasRow;
  const uint64_t workingBytes =
      uint64_t(image.Width) * sizeof(GifPixelType) + uint64_t(frame.canvasWidth) * 4;
  if (!WorkingBytesFit(workingBytes)) return memFullErr;
  try {
    indices.resize(size_t(image.Width));
    canvasRow.resize(size_t(frame.canvasWidth * 4));
  } catch (const std::bad_alloc&) {
    return memFullErr;
  }
  for (int64_t y = 0; y < frame.canvasHeight; ++y) StoreRgba8Row(canvasRow.data(), dst, y);
  stream.emptyBlockAtEnd = true;
  for (int64_t line = 0; line < image.Height; ++line) {
    if (DGifGetLine(gif, indices.data(), image.Width) != GIF_OK) return codecErr;
    ExpandIndices(indices.data(), image.Width, *colours, frame.extensions.control.TransparentColor,
                  canvasRow.data() + int64_t(image.Left) * 4);
    StoreRgba8Row(canvasRow.data(), dst,
                  image.Top + GifFrameRow(line, image.Height, image.Interlace));
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
    .openAnimation = OpenGifAnimation,
    .countFrames = CountGifFrames,
};
