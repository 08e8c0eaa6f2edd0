// Animated GIFs written with giflib for the tests: frames placed anywhere
// on the screen, with a global or local colour table, a transparent index,
// a disposal and a delay, interlaced or not.
#pragma once

#include <gif_lib.h>

#include <cstdint>
#include <vector>

namespace test {

struct GifFrameSpec {
  int left = 0, top = 0, width = 0, height = 0;
  int disposal = DISPOSAL_UNSPECIFIED;
  int delayCs = 0;
  int transparent = NO_TRANSPARENT_COLOR;
  bool localColours = false;
  bool interlaced = false;
};

struct GifSpec {
  int screenWidth = 0, screenHeight = 0;
  int repeats = -1;  // NETSCAPE2.0's count of plays after the first; -1: no such block
  std::vector<GifFrameSpec> frames;
};

// Colour i of frame f's table (f = -1: the global one): 16 colours, each
// table its own.
inline GifColorType GifColour(int f, int i) {
  return {uint8_t(i * 16 + 5), uint8_t((f + 2) * 37 + i * 3), uint8_t(255 - i * 11 - (f + 1) * 7)};
}

// The index of frame f at (x, y) within it.
inline int GifIndex(int f, int x, int y) {
  return (x * 3 + y * 5 + f * 7 + (x * y) % 3) % 16;
}

struct WrittenGif {
  std::vector<uint8_t> bytes;
  std::vector<size_t> dataStart;  // each frame's first byte of image data
  std::vector<size_t> frameEnd;   // just after each frame's data
};

inline WrittenGif WriteGif(const GifSpec& spec) {
  WrittenGif out;
  int error = 0;
  GifFileType* gif = EGifOpen(
      &out.bytes,
      [](GifFileType* g, const GifByteType* data, int n) {
        auto* bytes = static_cast<std::vector<uint8_t>*>(g->UserData);
        bytes->insert(bytes->end(), data, data + n);
        return n;
      },
      &error);
  EGifSetGifVersion(gif, true);
  auto table = [](int f) {
    std::vector<GifColorType> colours(16);
    for (int i = 0; i < 16; ++i) colours[size_t(i)] = GifColour(f, i);
    return GifMakeMapObject(16, colours.data());
  };
  ColorMapObject* global = table(-1);
  EGifPutScreenDesc(gif, spec.screenWidth, spec.screenHeight, 4, 0, global);
  if (spec.repeats >= 0) {
    const GifByteType count[] = {1, GifByteType(spec.repeats & 255),
                                 GifByteType(spec.repeats >> 8)};
    EGifPutExtensionLeader(gif, APPLICATION_EXT_FUNC_CODE);
    EGifPutExtensionBlock(gif, 11, "NETSCAPE2.0");
    EGifPutExtensionBlock(gif, 3, count);
    EGifPutExtensionTrailer(gif);
  }
  for (size_t f = 0; f < spec.frames.size(); ++f) {
    const GifFrameSpec& frame = spec.frames[f];
    GraphicsControlBlock control = {frame.disposal, false, frame.delayCs, frame.transparent};
    GifByteType extension[4];
    EGifGCBToExtension(&control, extension);
    EGifPutExtension(gif, GRAPHICS_EXT_FUNC_CODE, 4, extension);
    ColorMapObject* local = frame.localColours ? table(int(f)) : nullptr;
    // giflib keeps a copy of the last local table and, for a frame without
    // one, forgets it without freeing it.
    if (local == nullptr && gif->Image.ColorMap != nullptr) {
      GifFreeMapObject(gif->Image.ColorMap);
      gif->Image.ColorMap = nullptr;
    }
    EGifPutImageDesc(gif, frame.left, frame.top, frame.width, frame.height, frame.interlaced,
                     local);
    out.dataStart.push_back(out.bytes.size() + 1);  // after the first block's length
    const int start[] = {0, 4, 2, 1}, step[] = {8, 8, 4, 2};
    std::vector<GifPixelType> line(size_t(frame.width));
    for (int pass = frame.interlaced ? 0 : 3; pass < 4; ++pass) {
      const int first = frame.interlaced ? start[pass] : 0;
      const int by = frame.interlaced ? step[pass] : 1;
      for (int y = first; y < frame.height; y += by) {
        for (int x = 0; x < frame.width; ++x)
          line[size_t(x)] = GifPixelType(GifIndex(int(f), x, y));
        EGifPutLine(gif, line.data(), frame.width);
      }
    }
    out.frameEnd.push_back(out.bytes.size());
    if (local != nullptr) GifFreeMapObject(local);
  }
  EGifCloseFile(gif, &error);
  GifFreeMapObject(global);
  return out;
}

}  // namespace test
