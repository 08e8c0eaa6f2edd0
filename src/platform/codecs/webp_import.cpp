// WebP importer over libwebp: lossy and lossless, with or without alpha,
// drawn into 32-bit ARGB (or widened into "b48r"/"b64a"). A truncated still
// image gives the rows that arrived, the rest transparent black. An animation
// gives its first frame as composed on the canvas, through the demux API.
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include <webp/demux.h>

#include "platform/codecs/export_rows.h"
#include "platform/codecs/import_rows.h"
#include "platform/codecs/webp_codec.h"

namespace {

bool SniffWebp(ByteSpan file) {
  return file.size() >= 12 && std::memcmp(file.data(), "RIFF", 4) == 0 &&
         std::memcmp(file.data() + 8, "WEBP", 4) == 0;
}

OSErr ReadFeatures(ByteSpan file, WebPBitstreamFeatures* features) {
  if (WebPGetFeatures(file.data(), file.size(), features) != VP8_STATUS_OK) return codecErr;
  if (features->width < 1 || features->height < 1) return codecErr;
  return noErr;
}

OSErr ReadWebpHeader(ByteSpan file, ImageHeader* header) {
  WebPBitstreamFeatures features;
  if (OSErr err = ReadFeatures(file, &features)) return err;
  header->width = features.width;
  header->height = features.height;
  header->preferredPixelFormat = 0;
  return noErr;
}

struct IncrementalDecoderDelete {
  void operator()(WebPIDecoder* decoder) const { WebPIDelete(decoder); }
};

// Decodes a still image into rgba (R, G, B, A bytes, zero where nothing
// decoded). A file that ends early keeps the rows that arrived.
OSErr DecodeStill(ByteSpan file, int64_t width, int64_t height, std::vector<uint8_t>* rgba) {
  const int64_t stride = width * 4;
  std::unique_ptr<WebPIDecoder, IncrementalDecoderDelete> decoder(
      WebPINewRGB(MODE_RGBA, rgba->data(), size_t(stride * height), int(stride)));
  if (!decoder) return memFullErr;
  const VP8StatusCode status = WebPIAppend(decoder.get(), file.data(), file.size());
  if (status == VP8_STATUS_OK) return noErr;
  if (status == VP8_STATUS_OUT_OF_MEMORY) return memFullErr;
  if (status != VP8_STATUS_SUSPENDED) return codecErr;
  int rowsDone = 0;
  if (WebPIDecGetRGB(decoder.get(), &rowsDone, nullptr, nullptr, nullptr) == nullptr ||
      rowsDone < 1) {
    return codecErr;
  }
  return noErr;
}

struct AnimDecoderDelete {
  void operator()(WebPAnimDecoder* decoder) const { WebPAnimDecoderDelete(decoder); }
};

// The first frame of an animation, composed on the canvas.
OSErr DecodeFirstFrame(ByteSpan file, int64_t width, int64_t height, std::vector<uint8_t>* rgba) {
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
  std::memcpy(rgba->data(), frame, rgba->size());
  return noErr;
}

OSErr DrawWebp(ByteSpan file, GWorld* dst) {
  if (dst == nullptr || dst->pixMap.baseAddr == nullptr) return paramErr;
  if (!IsDrawableFormat(dst->pixMap.pixelFormat)) return cDepthErr;
  WebPBitstreamFeatures features;
  if (OSErr err = ReadFeatures(file, &features)) return err;
  const int64_t width = features.width;
  const int64_t height = features.height;
  if (width != BufferWidth(*dst) || height != BufferHeight(*dst)) return paramErr;
  std::vector<uint8_t> rgba;
  try {
    rgba.resize(size_t(width * height * 4));
  } catch (const std::bad_alloc&) {
    return memFullErr;
  }
  OSErr err = features.has_animation ? DecodeFirstFrame(file, width, height, &rgba)
                                     : DecodeStill(file, width, height, &rgba);
  if (err != noErr) return err;
  for (int64_t y = 0; y < height; ++y) StoreRgba8Row(rgba.data() + y * width * 4, dst, y);
  return noErr;
}

}  // namespace

const ImporterCodec kWebpImporter = {
    FourCC("WEBP"), WebpCodecName, SniffWebp, ReadWebpHeader, DrawWebp, nullptr,
};
