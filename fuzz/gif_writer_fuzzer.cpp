// Fuzz target for the GIF animation writer: canvases made from the input
// (a size up to 48 x 48, a few frames, each pixel from a small palette or
// taken raw) are written and read back through giflib. The writer must not
// fail on any of them, every frame must keep its transparent pixels, and a
// frame of at most 256 colours (transparency counted) must come back exactly.
#include <cstdint>
#include <cstdlib>
#include <unordered_set>
#include <vector>

#include "codecs/gif/gif_codec.h"

namespace {

struct Input {
  const uint8_t* data;
  size_t size;
  size_t at = 0;
  uint8_t Next() { return at < size ? data[at++] : 0; }
};

// Alpha below half is transparent, as the writer takes it.
uint32_t Shown(const uint8_t* p) {
  if (p[0] < 128) return 0;
  return 0xFF000000u | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Input in{data, size};
  const int32_t width = in.Next() % 48 + 1;
  const int32_t height = in.Next() % 48 + 1;
  const int frames = in.Next() % 6 + 1;
  const int32_t loops = in.Next() % 4;
  const int32_t quality = int32_t(in.Next()) * 4;
  uint8_t palette[16][4];
  for (auto& colour : palette) {
    for (uint8_t& b : colour) b = in.Next();
  }
  AnimationRequest request;
  request.info = {width, height, frames, loops};
  request.quality = quality;
  std::unique_ptr<AnimationWriter> writer;
  if (kGifExporter.startAnimation(request, &writer) != noErr) std::abort();

  const size_t bytes = size_t(width) * size_t(height) * 4;
  std::vector<std::vector<uint8_t>> canvases;
  for (int f = 0; f < frames; ++f) {
    std::vector<uint8_t> canvas(bytes);
    const uint8_t mode = in.Next();
    for (size_t i = 0; i < bytes; i += 4) {
      // Mostly palette pixels, some raw ones: many colours past 256.
      const uint8_t pick = in.Next();
      if (mode & 1 && pick >= 240) {
        for (int k = 0; k < 4; ++k) canvas[i + k] = uint8_t(pick * 37 + i * (k + 3) + f);
      } else {
        for (int k = 0; k < 4; ++k) canvas[i + k] = palette[pick % 16][k];
      }
    }
    const PixelView view{canvas.data(), int64_t(width) * 4, width, height, k32ARGBPixelFormat, 32};
    if (writer->AddFrame(view, in.Next() * 10) != noErr) std::abort();
    canvases.push_back(std::move(canvas));
  }
  std::vector<uint8_t> file;
  if (writer->Finish(&file) != noErr) std::abort();

  std::unique_ptr<AnimationReader> reader;
  if (kGifImporter.openAnimation(file, &reader) != noErr) std::abort();
  const AnimationInfo& info = reader->Info();
  if (info.width != width || info.height != height || info.frameCount != frames ||
      info.loopCount != loops) {
    std::abort();
  }
  for (int f = 0; f < frames; ++f) {
    PixelView canvas;
    FrameInfo frame;
    if (reader->NextFrame(&canvas, &frame) != noErr) std::abort();
    std::unordered_set<uint32_t> colours;
    bool same = true;
    for (size_t i = 0; i < bytes; i += 4) {
      const uint32_t want = Shown(canvases[size_t(f)].data() + i);
      const uint32_t got = Shown(canvas.base + i);
      // Quantised or not, transparency stays where it was.
      if ((got == 0) != (want == 0)) std::abort();
      colours.insert(want);
      same = same && got == want;
    }
    if (colours.size() <= 256 && !same) std::abort();
  }
  return 0;
}
