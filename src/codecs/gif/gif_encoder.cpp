#include "codecs/gif/gif_encoder.h"

#include <memory>

namespace {

struct MapFree {
  void operator()(ColorMapObject* map) const { GifFreeMapObject(map); }
};
using MapHandle = std::unique_ptr<ColorMapObject, MapFree>;

// colours padded with black to a power of two; null for none, or when
// giflib has no memory (*err says which).
MapHandle MakeMap(const std::vector<uint32_t>& colours, OSErr* err) {
  *err = noErr;
  if (colours.empty()) return nullptr;
  MapHandle map(GifMakeMapObject(1 << PaletteBits(colours.size()), nullptr));
  if (map == nullptr) {
    *err = memFullErr;
    return nullptr;
  }
  for (int i = 0; i < map->ColorCount; ++i) {
    const uint32_t c = size_t(i) < colours.size() ? colours[size_t(i)] : 0;
    map->Colors[i] = {GifByteType(c >> 16), GifByteType(c >> 8), GifByteType(c)};
  }
  return map;
}

}  // namespace

int PaletteBits(size_t colours) {
  int bits = 1;
  while (bits < 8 && (size_t(1) << bits) < colours) ++bits;
  return bits;
}

GifEncoder::~GifEncoder() {
  if (gif_ == nullptr) return;
  int error = 0;
  EGifCloseFile(gif_, &error);
}

int GifEncoder::Write(GifFileType* gif, const GifByteType* bytes, int count) {
  auto* self = static_cast<GifEncoder*>(gif->UserData);
  if (self->sinkError_ != noErr) return 0;
  self->sinkError_ = self->sink_->Append(bytes, size_t(count));
  return self->sinkError_ == noErr ? count : 0;
}

OSErr GifEncoder::Failed() {
  if (sinkError_ != noErr) return sinkError_;
  return gif_ != nullptr && gif_->Error == E_GIF_ERR_NOT_ENOUGH_MEM ? memFullErr : codecErr;
}

OSErr GifEncoder::Open(ByteSink* sink, int32_t width, int32_t height,
                       const std::vector<uint32_t>& colours) {
  if (gif_ != nullptr || sink == nullptr) return paramErr;
  sink_ = sink;
  int error = 0;
  gif_ = EGifOpen(this, Write, &error);
  if (gif_ == nullptr) return error == E_GIF_ERR_NOT_ENOUGH_MEM ? memFullErr : codecErr;
  EGifSetGifVersion(gif_, true);
  OSErr err = noErr;
  const MapHandle map = MakeMap(colours, &err);
  if (err != noErr) return err;
  const int bits = map != nullptr ? map->BitsPerPixel : 8;
  if (EGifPutScreenDesc(gif_, width, height, bits, 0, map.get()) != GIF_OK) return Failed();
  return noErr;
}

OSErr GifEncoder::PutRepeats(int32_t repeats) {
  static const GifByteType kName[] = "NETSCAPE2.0";
  const GifByteType loop[] = {1, GifByteType(repeats & 0xFF), GifByteType((repeats >> 8) & 0xFF)};
  if (EGifPutExtensionLeader(gif_, APPLICATION_EXT_FUNC_CODE) != GIF_OK ||
      EGifPutExtensionBlock(gif_, 11, kName) != GIF_OK ||
      EGifPutExtensionBlock(gif_, sizeof(loop), loop) != GIF_OK ||
      EGifPutExtensionTrailer(gif_) != GIF_OK) {
    return Failed();
  }
  return noErr;
}

OSErr GifEncoder::PutControl(int32_t delayCs, int disposal, int32_t transparent) {
  GraphicsControlBlock control;
  control.DisposalMode = disposal;
  control.UserInputFlag = false;
  control.DelayTime = delayCs;
  control.TransparentColor = transparent < 0 ? NO_TRANSPARENT_COLOR : transparent;
  GifByteType block[4];
  const size_t size = EGifGCBToExtension(&control, block);
  if (EGifPutExtension(gif_, GRAPHICS_EXT_FUNC_CODE, int(size), block) != GIF_OK) return Failed();
  return noErr;
}

OSErr GifEncoder::BeginImage(int32_t left, int32_t top, int32_t width, int32_t height,
                             const std::vector<uint32_t>& colours) {
  OSErr err = noErr;
  const MapHandle map = MakeMap(colours, &err);
  if (err != noErr) return err;
  if (EGifPutImageDesc(gif_, left, top, width, height, false, map.get()) != GIF_OK) {
    return Failed();
  }
  imageWidth_ = width;
  return noErr;
}

OSErr GifEncoder::PutRows(const uint8_t* indices, int32_t rows) {
  for (int32_t y = 0; y < rows; ++y) {
    // giflib takes the row as writable but only reads it.
    auto* row = const_cast<GifPixelType*>(indices + int64_t(y) * imageWidth_);
    if (EGifPutLine(gif_, row, imageWidth_) != GIF_OK) return Failed();
  }
  return noErr;
}

OSErr GifEncoder::Close() {
  if (gif_ == nullptr) return paramErr;
  int error = 0;
  const int closed = EGifCloseFile(gif_, &error);
  gif_ = nullptr;
  if (sinkError_ != noErr) return sinkError_;
  if (closed != GIF_OK) return error == E_GIF_ERR_NOT_ENOUGH_MEM ? memFullErr : codecErr;
  return noErr;
}
