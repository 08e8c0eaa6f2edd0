// An animated GIF as a viewer shows it, read with giflib's DGifSlurp and
// composited here: each frame's opaque pixels drawn over the canvas, the
// canvas kept, then the frame disposed (to transparent for "background").
#pragma once

#include <gif_lib.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

namespace test {

struct GifFrames {
  int width = 0, height = 0;
  int repeats = -1;  // the NETSCAPE2.0 count, -1 without one
  struct Frame {
    std::vector<uint32_t> argb;  // the canvas after the frame, 0 transparent
    int delayCs = 0;
    int disposal = 0;
    int left = 0, top = 0, width = 0, height = 0;
    bool localTable = false;
  };
  std::vector<Frame> frames;
};

// False when giflib refuses the file.
inline bool ReadGifFrames(const std::vector<uint8_t>& file, GifFrames* out) {
  struct Stream {
    const std::vector<uint8_t>* file;
    size_t at;
  } stream{&file, 0};
  auto read = [](GifFileType* g, GifByteType* to, int n) {
    auto* s = static_cast<Stream*>(g->UserData);
    const size_t count = std::min(size_t(n), s->file->size() - s->at);
    std::memcpy(to, s->file->data() + s->at, count);
    s->at += count;
    return int(count);
  };
  int error = 0;
  GifFileType* gif = DGifOpen(&stream, read, &error);
  if (gif == nullptr) return false;
  if (DGifSlurp(gif) != GIF_OK) {
    DGifCloseFile(gif, &error);
    return false;
  }
  *out = {gif->SWidth, gif->SHeight, -1, {}};
  std::vector<uint32_t> canvas(size_t(gif->SWidth) * gif->SHeight, 0);
  for (int i = 0; i < gif->ImageCount; ++i) {
    const SavedImage& image = gif->SavedImages[i];
    for (int e = 0; e + 1 < image.ExtensionBlockCount; ++e) {
      const ExtensionBlock& b = image.ExtensionBlocks[e];
      const ExtensionBlock& next = image.ExtensionBlocks[e + 1];
      if (b.Function == APPLICATION_EXT_FUNC_CODE && b.ByteCount == 11 &&
          std::memcmp(b.Bytes, "NETSCAPE2.0", 11) == 0 && next.ByteCount == 3) {
        out->repeats = next.Bytes[1] | next.Bytes[2] << 8;
      }
    }
    GraphicsControlBlock control{DISPOSAL_UNSPECIFIED, false, 0, NO_TRANSPARENT_COLOR};
    DGifSavedExtensionToGCB(gif, i, &control);
    const GifImageDesc& d = image.ImageDesc;
    const ColorMapObject* map = d.ColorMap != nullptr ? d.ColorMap : gif->SColorMap;
    for (int y = 0; y < d.Height; ++y) {
      for (int x = 0; x < d.Width; ++x) {
        const int index = image.RasterBits[y * d.Width + x];
        if (index == control.TransparentColor) continue;
        const GifColorType c = map->Colors[index];
        canvas[size_t(d.Top + y) * gif->SWidth + d.Left + x] =
            0xFF000000u | uint32_t(c.Red) << 16 | uint32_t(c.Green) << 8 | c.Blue;
      }
    }
    out->frames.push_back({canvas, control.DelayTime, control.DisposalMode, d.Left, d.Top, d.Width,
                           d.Height, d.ColorMap != nullptr});
    if (control.DisposalMode == DISPOSE_BACKGROUND) {
      for (int y = 0; y < d.Height; ++y) {
        std::fill_n(canvas.begin() + long(size_t(d.Top + y) * gif->SWidth + d.Left), d.Width, 0);
      }
    }
  }
  DGifCloseFile(gif, &error);
  return true;
}

}  // namespace test
