#include "pipeline/cut_window.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "resample/resample_context.h"
#include "resample/sharpen.h"

namespace {

// The window placed on the full resize: its rules read a copy reduced to
// fewer than twice this on its longer side (the resize itself for a
// thumbnail's).
constexpr int32_t kWindowCopySide = 256;

// Byte offsets of R, G and B's high bytes in a made pixel: 16-bit samples
// are in the machine's order until the rows are finished.
void MadeChannelOffsets(int32_t pixelSize, int32_t offsets[3]) {
  const int32_t high = __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__ ? 0 : 1;
  switch (pixelSize) {
    case 48:  // R G B
      offsets[0] = high, offsets[1] = 2 + high, offsets[2] = 4 + high;
      break;
    case 64:  // A R G B
      offsets[0] = 2 + high, offsets[1] = 4 + high, offsets[2] = 6 + high;
      break;
    default:  // A R G B
      offsets[0] = 1, offsets[1] = 2, offsets[2] = 3;
  }
}

}  // namespace

WindowPlace PlaceOnResize(const PixelView& full, const OutputGeometry& g, CropRule rule) {
  RowReduction reduction{full.width, full.height,
                         std::max(1, std::max(full.width, full.height) / kWindowCopySide),
                         full.pixelSize / 8};
  MadeChannelOffsets(full.pixelSize, reduction.offsets);
  SmallPicture small;
  ReduceRows(
      reduction, [&](int32_t y) { return full.base + int64_t(y) * full.rowBytes; }, &small);
  return PlaceScaledWindow(small, g.fullWidth, g.fullHeight, g.windowWidth, g.windowHeight, rule);
}

// Each window row lands before the start of every full row still to be
// read (the window's rows are no longer than the full ones), so a forward
// pass may move them in place. Sharpened, each row comes from the lumas of
// the window's rows above and below it, an edge row standing for its
// missing neighbour, as the resize's own sharpening takes them.
void CutInPlace(const PixelView& full, const OutputGeometry& g, int32_t sharpen,
                const PixelView& window) {
  const int32_t width = g.windowWidth, height = g.windowHeight;
  const size_t rowBytes = size_t(width) * size_t(full.pixelSize / 8);
  const auto from = [&](int32_t y) {
    return full.base + int64_t(g.windowTop + y) * full.rowBytes +
           int64_t(g.windowLeft) * (full.pixelSize / 8);
  };
  const auto to = [&](int32_t y) { return window.base + int64_t(y) * window.rowBytes; };
  if (sharpen == 0) {
    for (int32_t y = 0; y < height; ++y) std::memmove(to(y), from(y), rowBytes);
    return;
  }
  const PixelClass cls = ClassifyPixelFormat(full.pixelFormat);
  std::vector<int32_t> lumas(size_t(width) * 3);
  std::vector<uint8_t> sharpened(rowBytes);
  const auto luma = [&](int32_t y) { return &lumas[size_t(y % 3) * width]; };
  LumaRow(cls, from(0), width, luma(0));
  for (int32_t y = 0; y < height; ++y) {
    if (y + 1 < height) LumaRow(cls, from(y + 1), width, luma(y + 1));
    SharpenRow(cls, sharpen, from(y), luma(y > 0 ? y - 1 : y), luma(y),
               luma(y + 1 < height ? y + 1 : y), width, sharpened.data());
    std::memcpy(to(y), sharpened.data(), rowBytes);
  }
}
