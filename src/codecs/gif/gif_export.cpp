// GIF exporter over giflib, with libimagequant for the palette. A picture
// of at most 256 colours is written exactly; others are quantised at the
// quality's settings (gif_indexing.h). Depth 32 keeps transparency as one
// transparent index (alpha below half); other colour depths write the
// picture opaque. Grey depths write a grey palette, row by row; a colour
// picture is held whole, as the quantiser needs all of it.
#include <new>
#include <vector>

#include "base/memory_limit.h"
#include "codecs/common/begin_export.h"
#include "codecs/common/row_packer.h"
#include "codecs/gif/gif_codec.h"
#include "codecs/gif/gif_encoder.h"
#include "codecs/gif/gif_indexing.h"

namespace {

// GIF stores sides in 16 bits.
constexpr int64_t kMostSide = 65535;
// libimagequant keeps its own copy of a picture in floats only below this
// size, working row by row above it.
constexpr uint64_t kQuantiserBytes = uint64_t(1) << 26;

OSErr EncodeGrey(RowBand& image, int32_t width, int32_t height, ByteSink* out) {
  std::vector<uint32_t> greys(256);
  for (uint32_t i = 0; i < 256; ++i) greys[i] = i * 0x010101u;
  RowPacker packer;
  if (OSErr err = packer.Prepare(image, RowLayout::kGrey8)) return err;
  std::vector<uint8_t> row;
  try {
    row.resize(size_t(width));
  } catch (const std::bad_alloc&) {
    return memFullErr;
  }
  GifEncoder gif;
  if (OSErr err = gif.Open(out, width, height, greys)) return err;
  if (OSErr err = gif.BeginImage(0, 0, width, height, {})) return err;
  for (int32_t y = 0; y < height; ++y) {
    if (OSErr err = packer.Pack(y, row.data())) return err;
    if (OSErr err = gif.PutRows(row.data(), 1)) return err;
  }
  return gif.Close();
}

// The picture as RGBA with alpha 0 or 255: transparent below half when
// alpha is kept, opaque everywhere otherwise.
OSErr PackPicture(RowBand& image, bool keepAlpha, std::vector<uint8_t>* pixels) {
  const int64_t width = image.Width();
  const int64_t height = image.Height();
  RowPacker packer;
  if (OSErr err = packer.Prepare(image, RowLayout::kRGBA8)) return err;
  try {
    pixels->resize(size_t(width * height * 4));
  } catch (const std::bad_alloc&) {
    return memFullErr;
  }
  for (int64_t y = 0; y < height; ++y) {
    uint8_t* row = pixels->data() + y * width * 4;
    if (OSErr err = packer.Pack(y, row)) return err;
    for (int64_t x = 0; x < width; ++x) {
      uint8_t* p = row + 4 * x;
      if (keepAlpha && p[3] < 128) {
        p[0] = p[1] = p[2] = p[3] = 0;
      } else {
        p[3] = 255;
      }
    }
  }
  return noErr;
}

OSErr EncodeGif(const ExportRequest& request, ByteSink* out) {
  ExportImage begun;
  if (OSErr err = BeginExport(request, out, kMostSide, &begun)) return err;
  const int32_t width = int32_t(begun.width);
  const int32_t height = int32_t(begun.height);
  const ExportChannels channels = ChannelsForDepth(request.depth);
  if (channels == ExportChannels::kGrey) return EncodeGrey(*begun.rows, width, height, out);

  // The RGBA picture and its indices, beside the quantiser's own.
  const uint64_t pixels = uint64_t(width) * uint64_t(height);
  if (!WorkingBytesFit(pixels * 5 + kQuantiserBytes)) return memFullErr;
  std::vector<uint8_t> rgba;
  if (OSErr err = PackPicture(*begun.rows, channels == ExportChannels::kColourAlpha, &rgba)) {
    return err;
  }
  IndexedPicture indexed;
  if (OSErr err = IndexPicture({rgba.data(), width, height}, request.quality, &indexed)) {
    return err;
  }
  rgba = {};
  GifEncoder gif;
  if (OSErr err = gif.Open(out, width, height, indexed.colours)) return err;
  if (indexed.transparent >= 0) {
    if (OSErr err = gif.PutControl(0, kDisposeNone, indexed.transparent)) return err;
  }
  if (OSErr err = gif.BeginImage(0, 0, width, height, {})) return err;
  if (OSErr err = gif.PutRows(indexed.indices.data(), height)) return err;
  return gif.Close();
}

}  // namespace

const ExporterCodec kGifExporter = {
    .format = &kGifFormat,
    .name = GifCodecName,
    .encode = EncodeGif,
    .startAnimation = StartGifAnimation,
};
