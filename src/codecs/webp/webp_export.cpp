// WebP exporter over libwebp: lossy at quality percent round(q * 100 / 1023),
// lossless at 1024 and above (keeping the colour under transparent pixels).
// Depth 32 keeps alpha; grey depths write grey colour, as WebP has no grey.
// 16-bit buffers are reduced to 8 bits.
#include <algorithm>
#include <memory>
#include <new>
#include <vector>

#include <webp/encode.h>

#include "base/memory_limit.h"
#include "codecs/common/begin_export.h"
#include "codecs/common/buffer_rows.h"
#include "codecs/common/row_packer.h"
#include "codecs/webp/webp_codec.h"
#include "codecs/webp/webp_config.h"
#include "platform/quality.h"

namespace {

// The picture as packed 8-bit RGB or RGBA rows; grey is spread to R, G, B.
OSErr PackPixels(RowBand& image, ExportChannels channels, std::vector<uint8_t>* pixels) {
  const int64_t width = BufferWidth(image);
  const int64_t height = BufferHeight(image);
  const RowLayout layout = channels == ExportChannels::kColourAlpha ? RowLayout::kRGBA8
                           : channels == ExportChannels::kGrey      ? RowLayout::kGrey8
                                                                    : RowLayout::kRGB8;
  const int64_t outBytes = channels == ExportChannels::kColourAlpha ? 4 : 3;
  RowPacker packer;
  if (OSErr err = packer.Prepare(image, layout)) return err;
  try {
    pixels->resize(size_t(width * height * outBytes));
  } catch (const std::bad_alloc&) {
    return memFullErr;
  }
  for (int64_t y = 0; y < height; ++y) {
    uint8_t* row = pixels->data() + y * width * outBytes;
    if (OSErr err = packer.Pack(y, row)) return err;
    if (layout != RowLayout::kGrey8) continue;
    for (int64_t x = width - 1; x >= 0; --x) row[3 * x] = row[3 * x + 1] = row[3 * x + 2] = row[x];
  }
  return noErr;
}

// libwebp's working memory a pixel, beside the buffer being written,
// measured (peak of the process, 1000 x 700 against 2000 x 1300, less
// that buffer): about 2.2 bytes lossy, 36 lossless (its trials).
constexpr uint64_t kLossyBytesPerPixel = 4;
constexpr uint64_t kLosslessBytesPerPixel = 40;

struct PictureFree {
  void operator()(WebPPicture* picture) const { WebPPictureFree(picture); }
};
struct MemoryWriterClear {
  void operator()(WebPMemoryWriter* writer) const { WebPMemoryWriterClear(writer); }
};

OSErr EncodeWebp(const ExportRequest& request, ByteSink* out) {
  ExportImage begun;
  if (OSErr err = BeginExport(request, out, WEBP_MAX_DIMENSION, &begun)) return err;
  RowBand& image = *begun.rows;
  const int64_t width = begun.width;
  const int64_t height = begun.height;
  const ExportChannels channels = ChannelsForDepth(request.depth);
  WebPConfig config;
  if (!WebpConfigForQuality(request.quality, request.effort, &config)) return codecErr;
  if (!WorkingBytesFit(uint64_t(width) * uint64_t(height),
                       config.lossless ? kLosslessBytesPerPixel : kLossyBytesPerPixel)) {
    return memFullErr;
  }
  std::vector<uint8_t> pixels;
  if (OSErr err = PackPixels(image, channels, &pixels)) return err;

  WebPPicture picture;
  if (!WebPPictureInit(&picture)) return codecErr;
  std::unique_ptr<WebPPicture, PictureFree> ownedPicture(&picture);
  picture.width = int(width);
  picture.height = int(height);
  picture.use_argb = config.lossless;
  const bool alpha = channels == ExportChannels::kColourAlpha;
  const int stride = int(width * (alpha ? 4 : 3));
  const int imported = alpha ? WebPPictureImportRGBA(&picture, pixels.data(), stride)
                             : WebPPictureImportRGB(&picture, pixels.data(), stride);
  if (!imported) return memFullErr;
  pixels = {};

  WebPMemoryWriter writer;
  WebPMemoryWriterInit(&writer);
  std::unique_ptr<WebPMemoryWriter, MemoryWriterClear> ownedWriter(&writer);
  picture.writer = WebPMemoryWrite;
  picture.custom_ptr = &writer;
  if (!WebPEncode(&config, &picture)) {
    return picture.error_code == VP8_ENC_ERROR_OUT_OF_MEMORY ? memFullErr : codecErr;
  }
  // libwebp gives the file in one piece.
  return out->Append(writer.mem, writer.size);
}

}  // namespace

const ExporterCodec kWebpExporter = {
    .format = &kWebpFormat,
    .name = WebpCodecName,
    .encode = EncodeWebp,
    .startAnimation = StartWebpAnimation,
};
