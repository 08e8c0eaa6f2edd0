// WebP importer over libwebp: lossy and lossless, with or without alpha,
// drawn into 32-bit ARGB (or widened into "b48r"/"b64a"), row by row as the
// incremental decoder finishes them. A still image whose
// data ends before its last row is damaged. An animation gives its first
// frame as composed on the canvas, through the demux API; a canvas far larger
// than that frame is refused (canvas_rule.h).
#include <algorithm>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include <webp/demux.h>

#include "base/large_block.h"
#include "base/memory_limit.h"
#include "codecs/common/buffer_rows.h"
#include "codecs/common/canvas_rule.h"
#include "codecs/common/import_rows.h"
#include "codecs/webp/webp_codec.h"

namespace {

bool SniffWebp(ByteSpan file) {
  return file.size() >= 12 && std::memcmp(file.data(), "RIFF", 4) == 0 &&
         std::memcmp(file.data() + 8, "WEBP", 4) == 0;
}

struct DemuxDelete {
  void operator()(WebPDemuxer* demux) const { WebPDemuxDelete(demux); }
};

}  // namespace

// Whether an animation's first frame covers enough of its canvas to have
// the canvas drawn at all; only the chunk headers are read. A still image
// is as large as its canvas (libwebp checks that).
bool AnimationCanvasIsPainted(ByteSpan file, int64_t width, int64_t height) {
  if (width * height <= kLargeCanvasPixels) return true;  // no need to look
  const WebPData data = {file.data(), file.size()};
  WebPDemuxState state = WEBP_DEMUX_PARSE_ERROR;
  std::unique_ptr<WebPDemuxer, DemuxDelete> demux(WebPDemuxPartial(&data, &state));
  if (!demux) return false;
  WebPIterator frame;
  if (!WebPDemuxGetFrame(demux.get(), 1, &frame)) return false;
  const bool painted = FirstFrameFillsCanvas(width, height, frame.width, frame.height);
  WebPDemuxReleaseIterator(&frame);
  return painted;
}

namespace {

OSErr ReadFeatures(ByteSpan file, WebPBitstreamFeatures* features) {
  if (WebPGetFeatures(file.data(), file.size(), features) != VP8_STATUS_OK) return codecErr;
  if (features->width < 1 || features->height < 1) return codecErr;
  if (features->has_animation &&
      !AnimationCanvasIsPainted(file, features->width, features->height)) {
    return codecErr;
  }
  return noErr;
}

OSErr ReadWebpHeader(ByteSpan file, ImageHeader* header) {
  WebPBitstreamFeatures features;
  if (OSErr err = ReadFeatures(file, &features)) return err;
  header->width = features.width;
  header->height = features.height;
  header->preferredPixelFormat = 0;
  header->drawsRowsInOrder = true;
  header->hasAlpha = features.has_alpha != 0;
  return noErr;
}

struct IncrementalDecoderDelete {
  void operator()(WebPIDecoder* decoder) const { WebPIDelete(decoder); }
};

struct LargeBlockFree {
  size_t size = 0;
  void operator()(uint8_t* block) const { FreeLargeBlock(block, size); }
};

// The incremental decoder is fed the file a piece at a time; after each
// piece the rows it has finished are drawn into dst.
constexpr size_t kFeedBytes = size_t(256) << 10;

// A still image through the incremental decoder, which writes its rows into
// a block the image's size from the top: each row is drawn into dst once
// final and its pages given back, so only the rows in between are ever
// resident (the block's pages are untouched until written). Where the data
// stops before the last row the decoder suspends, wanting more: damaged.
OSErr DrawStill(ByteSpan file, int64_t width, int64_t height, RowBand* dst) {
  const size_t stride = size_t(width) * 4;
  const size_t size = stride * size_t(height);
  std::unique_ptr<uint8_t, LargeBlockFree> rgba(static_cast<uint8_t*>(AllocateLargeBlock(size)),
                                                LargeBlockFree{size});
  if (!rgba) return memFullErr;
  std::unique_ptr<WebPIDecoder, IncrementalDecoderDelete> decoder(
      WebPINewRGB(MODE_RGBA, rgba.get(), size, int(stride)));
  if (!decoder) return memFullErr;
  int64_t drawn = 0;
  size_t fed = 0;
  for (;;) {
    fed = std::min(file.size(), fed + kFeedBytes);
    const VP8StatusCode status = WebPIUpdate(decoder.get(), file.data(), fed);
    int lastY = 0;
    WebPIDecGetRGB(decoder.get(), &lastY, nullptr, nullptr, nullptr);
    for (; drawn < std::min<int64_t>(lastY, height); ++drawn) {
      StoreRgba8Row(rgba.get() + size_t(drawn) * stride, dst, drawn);
      if (!PublishDrawnRows(dst, drawn + 1)) return dst->StopError();
    }
    ReleaseLargeBlockPages(rgba.get(), size, 0, size_t(drawn) * stride);
    if (status == VP8_STATUS_OK) return drawn == height ? noErr : codecErr;
    if (status != VP8_STATUS_SUSPENDED) {
      return status == VP8_STATUS_OUT_OF_MEMORY ? memFullErr : codecErr;
    }
    if (fed == file.size()) return codecErr;
  }
}

struct AnimDecoderDelete {
  void operator()(WebPAnimDecoder* decoder) const { WebPAnimDecoderDelete(decoder); }
};

// The first frame of an animation, composed on the canvas and stored into
// dst straight from the decoder's own canvas.
OSErr DrawFirstFrame(ByteSpan file, int64_t width, int64_t height, RowBand* dst) {
  // The decoder holds two canvases of its own.
  if (!WorkingBytesFit(uint64_t(width) * uint64_t(height), 2 * 4)) return memFullErr;
  WebPAnimDecoderOptions options;
  if (!WebPAnimDecoderOptionsInit(&options)) return codecErr;
  options.color_mode = MODE_RGBA;
  options.use_threads = 0;
  const WebPData data = {file.data(), file.size()};
  std::unique_ptr<WebPAnimDecoder, AnimDecoderDelete> decoder(WebPAnimDecoderNew(&data, &options));
  if (!decoder) return codecErr;
  WebPAnimInfo info;
  if (!WebPAnimDecoderGetInfo(decoder.get(), &info) || info.canvas_width != width ||
      info.canvas_height != height) {
    return codecErr;
  }
  uint8_t* frame = nullptr;
  int timestamp = 0;
  if (!WebPAnimDecoderGetNext(decoder.get(), &frame, &timestamp) || frame == nullptr) {
    return codecErr;
  }
  for (int64_t y = 0; y < height; ++y) {
    StoreRgba8Row(frame + y * width * 4, dst, y);
    if (!PublishDrawnRows(dst, y + 1)) return dst->StopError();
  }
  return noErr;
}

void ReadWebpColour(ByteSpan file, ColourSource* colour) {
  colour->model = ColourModel::kRgb;
  const WebPData data = {file.data(), file.size()};
  std::unique_ptr<WebPDemuxer, DemuxDelete> demux(WebPDemux(&data));
  if (!demux || (WebPDemuxGetI(demux.get(), WEBP_FF_FORMAT_FLAGS) & ICCP_FLAG) == 0) return;
  WebPChunkIterator chunk;
  if (!WebPDemuxGetChunk(demux.get(), "ICCP", 1, &chunk)) return;
  colour->icc.assign(chunk.chunk.bytes, chunk.chunk.bytes + chunk.chunk.size);
  WebPDemuxReleaseChunkIterator(&chunk);
}

OSErr DrawWebp(ByteSpan file, const DrawRequest& request) {
  RowBand* dst = request.rows;
  if (dst == nullptr) return paramErr;
  if (!IsDrawableFormat(dst->PixelFormat())) return cDepthErr;
  WebPBitstreamFeatures features;
  if (OSErr err = ReadFeatures(file, &features)) return err;
  const int64_t width = features.width;
  const int64_t height = features.height;
  if (width != BufferWidth(*dst) || height != BufferHeight(*dst)) return paramErr;
  if (features.has_animation) return DrawFirstFrame(file, width, height, dst);
  // A lossless stream is held whole in the decoder's own buffer.
  if (features.format == 2 && !WorkingBytesFit(uint64_t(width) * uint64_t(height), 4)) {
    return memFullErr;
  }
  return DrawStill(file, width, height, dst);
}

}  // namespace

const ImporterCodec kWebpImporter = {
    .format = &kWebpFormat,
    .name = WebpCodecName,
    .sniff = SniffWebp,
    .readHeader = ReadWebpHeader,
    .draw = DrawWebp,
    .readColour = ReadWebpColour,
    .openAnimation = OpenWebpAnimation,
    .countFrames = CountWebpFrames,
};
