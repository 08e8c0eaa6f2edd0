// Frames resized through their changes alone equal each canvas put upright
// and resized whole, whatever the orientation, window and alignment.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

#include "pipeline/changed_region_resize.h"
#include "resample/reorient.h"
#include "resample/rotate.h"
#include "stream/row_band.h"

namespace {

// Each canvas put upright and resized whole, as the frames were before.
std::vector<uint8_t> WholeResize(const ResizeRequest& r, std::vector<uint32_t> canvas) {
  const OutputGeometry& g = r.geometry;
  std::vector<uint32_t> upright(size_t(g.sourceWidth) * size_t(g.sourceHeight));
  Reorient(reinterpret_cast<const uint8_t*>(canvas.data()), int64_t(g.storedWidth) * 4,
           g.storedWidth, g.storedHeight, reinterpret_cast<uint8_t*>(upright.data()),
           int64_t(g.sourceWidth) * 4, 4, g.orientation);
  std::vector<uint8_t> out(size_t(g.windowWidth) * size_t(g.windowHeight) * 4);
  PreparedResamplePtr prepared;
  EXPECT_EQ(PrepareResample({{g.sourceWidth, g.sourceHeight, k32ARGBPixelFormat},
                             {g.fullWidth, g.fullHeight, k32ARGBPixelFormat},
                             {g.windowLeft, g.windowTop, g.windowWidth, g.windowHeight},
                             SourceSamples::kStored,
                             {r.horizontalEdge, r.verticalEdge, r.kernel, r.space, g.alignment},
                             0},
                            &prepared),
            noErr);
  RowBand from;
  from.AttachWhole({reinterpret_cast<uint8_t*>(upright.data()), int64_t(g.sourceWidth) * 4,
                    g.sourceWidth, g.sourceHeight, k32ARGBPixelFormat, 32},
                   true);
  RowBand to;
  to.AttachWhole({out.data(), int64_t(g.windowWidth) * 4, g.windowWidth, g.windowHeight,
                  k32ARGBPixelFormat, 32},
                 false);
  RunPreparedResample(prepared.get(), &from, &to, 0);
  return out;
}

std::vector<uint8_t> Pixels(const PixelView& v) {
  std::vector<uint8_t> bytes;
  for (int32_t y = 0; y < v.height; ++y) {
    bytes.insert(bytes.end(), v.base + y * v.rowBytes, v.base + y * v.rowBytes + v.width * 4);
  }
  return bytes;
}

TEST(ChangedRegionResize, FramesEqualTheWholeResizeOfEachCanvas) {
  const EdgeMode edges[] = {kEdgeDefault, kEdgeWrap, kEdgePinch};
  std::mt19937 rng(38);
  for (int trial = 0; trial < 120; ++trial) {
    const int32_t sw = 1 + int32_t(rng() % 30), sh = 1 + int32_t(rng() % 30);
    ResizeRequest r;
    r.geometry = StoredGeometry(sw, sh, 1 + int32_t(rng() % 8));
    const int32_t fw = 1 + int32_t(rng() % 40), fh = 1 + int32_t(rng() % 40);
    if (rng() % 2) {
      SetCentredWindow(&r.geometry, fw, fh, 1 + int32_t(rng() % uint32_t(fw)),
                       1 + int32_t(rng() % uint32_t(fh)));
    } else {
      SetWholeResize(&r.geometry, fw, fh);
    }
    r.geometry.alignment = rng() % 2 ? SampleAlignment::kCentres : SampleAlignment::kCorners;
    r.horizontalEdge = edges[rng() % 3];
    r.verticalEdge = edges[rng() % 3];
    r.kernel = KernelKind(rng() % 3);
    r.space = {rng() % 4 == 0, rng() % 4 == 0};
    SCOPED_TRACE(testing::Message() << "trial " << trial << ": " << sw << "x" << sh
                                    << " orientation " << r.geometry.orientation);
    ChangedRegionResize frames;
    ASSERT_EQ(frames.Prepare(r), noErr);
    std::vector<uint32_t> canvas(size_t(sw) * size_t(sh));
    for (int frame = 0; frame < 4; ++frame) {
      PixelRect changed = WholeRect(sw, sh);
      if (frame > 0) {
        changed.left = int32_t(rng() % uint32_t(sw));
        changed.top = int32_t(rng() % uint32_t(sh));
        changed.right = changed.left + 1 + int32_t(rng() % uint32_t(sw - changed.left));
        changed.bottom = changed.top + 1 + int32_t(rng() % uint32_t(sh - changed.top));
      }
      const PixelView staged = frames.Staging(changed);
      for (int32_t y = changed.top; y < changed.bottom; ++y) {
        for (int32_t x = changed.left; x < changed.right; ++x) {
          canvas[size_t(y) * size_t(sw) + size_t(x)] = uint32_t(rng());
          std::memcpy(staged.base + (y - changed.top) * staged.rowBytes + (x - changed.left) * 4,
                      &canvas[size_t(y) * size_t(sw) + size_t(x)], 4);
        }
      }
      frames.Resize(changed);
      ASSERT_EQ(Pixels(frames.Resized()), WholeResize(r, canvas)) << "frame " << frame;
    }
  }
}

// A part of a picture turned alone lands where TurnedRect says, with the
// pixels the whole picture turned has there.
TEST(ChangedRegionResize, TurnedRectIsWhereTheTurnPutsThePart) {
  using Turn = void (*)(const void*, int32_t, void*, int32_t, int32_t, int32_t, int32_t);
  const Turn turns[] = {nullptr, Rotate90, Rotate180, Rotate270};
  std::mt19937 rng(90);
  for (int trial = 0; trial < 40; ++trial) {
    const int32_t w = 1 + int32_t(rng() % 9), h = 1 + int32_t(rng() % 9);
    const int32_t quarter = 1 + trial % 3;
    const bool sideways = quarter % 2 == 1;
    const int32_t tw = sideways ? h : w, th = sideways ? w : h;
    std::vector<uint32_t> picture(size_t(w * h)), turned(size_t(tw * th));
    for (uint32_t& p : picture) p = uint32_t(rng());
    turns[quarter](picture.data(), w * 4, turned.data(), tw * 4, tw, th, 4);
    const int32_t left = int32_t(rng() % uint32_t(w)), top = int32_t(rng() % uint32_t(h));
    const PixelRect part{left, top, left + 1 + int32_t(rng() % uint32_t(w - left)),
                         top + 1 + int32_t(rng() % uint32_t(h - top))};
    const PixelRect to = TurnedRect(part, w, h, quarter);
    ASSERT_EQ(int64_t(to.Width()) * to.Height(), int64_t(part.Width()) * part.Height());
    std::vector<uint32_t> alone(size_t(to.Width() * to.Height()));
    turns[quarter](picture.data() + part.top * w + part.left, w * 4, alone.data(), to.Width() * 4,
                   to.Width(), to.Height(), 4);
    for (int32_t y = 0; y < to.Height(); ++y) {
      for (int32_t x = 0; x < to.Width(); ++x) {
        ASSERT_EQ(alone[size_t(y * to.Width() + x)],
                  turned[size_t((to.top + y) * tw + to.left + x)])
            << "trial " << trial << " turns " << quarter;
      }
    }
  }
}

}  // namespace
