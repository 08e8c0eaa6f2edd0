// Remaking only what a changed source rectangle reaches gives the bytes of
// the whole resize, whatever the kernel, edges, alignment, window, pixel
// classes and filter space.
#include <gtest/gtest.h>

#include <cstring>
#include <random>

#include "pixel_world.h"
#include "resample/changed_region.h"
#include "resample/resampler.h"
#include "stream/row_band.h"

namespace {

struct Formats {
  OSType from, to;
};

void RunWhole(PreparedResample* prepared, GWorld* source, GWorld* destination) {
  RowBand from;
  from.AttachWhole(PixelViewOf(source), true);
  RowBand to;
  to.AttachWhole(PixelViewOf(destination), false);
  RunPreparedResample(prepared, &from, &to, 0);
}

// Remakes what `changed` reaches; the part remade.
OutputWindow RunChanged(PreparedResample* prepared, GWorld* source, GWorld* destination,
                        const PixelRect& changed) {
  const OutputWindow w = ReachedWindow(prepared, changed);
  if (w.width < 1 || w.height < 1) return w;
  RowBand from;
  from.AttachWhole(PixelViewOf(source), true);
  RowBand to;
  to.AttachWhole(
      SubView(PixelViewOf(destination), {w.left, w.top, w.left + w.width, w.top + w.height}),
      false);
  RunPreparedResampleRegion(prepared, w, &from, &to);
  return w;
}

PixelRect RandomRect(std::mt19937& rng, int32_t width, int32_t height) {
  auto span = [&rng](int32_t length, int32_t* lo, int32_t* hi) {
    *lo = int32_t(rng() % uint32_t(length));
    *hi = *lo + 1 + int32_t(rng() % uint32_t(rng() % 4 == 0 ? length - *lo : 3));
    *hi = std::min(*hi, length);
  };
  PixelRect r;
  span(width, &r.left, &r.right);
  span(height, &r.top, &r.bottom);
  return r;
}

void Repaint(GWorld& gw, const PixelRect& r, std::mt19937& rng) {
  const int32_t bytes = test::BytesPerPixel(gw);
  for (int32_t y = r.top; y < r.bottom; ++y) {
    uint8_t* p = test::PixelAddress(gw, r.left, y);
    for (int32_t i = 0; i < r.Width() * bytes; ++i) p[i] = uint8_t(rng());
  }
}

TEST(ChangedRegion, RemakesExactlyTheWholeResize) {
  const Formats formats[] = {{k32ARGBPixelFormat, k32ARGBPixelFormat},
                             {k64ARGBPixelFormat, k64ARGBPixelFormat},
                             {k48RGBCodecType, k32ARGBPixelFormat},
                             {k8IndexedGrayPixelFormat, k8IndexedGrayPixelFormat}};
  const EdgeMode edges[] = {kEdgeDefault, kEdgeWrap, kEdgePinch};
  std::mt19937 rng(39);
  for (int trial = 0; trial < 400; ++trial) {
    const Formats f = formats[rng() % 4];
    const int32_t sw = 1 + int32_t(rng() % 40), sh = 1 + int32_t(rng() % 40);
    const int32_t fw = 1 + int32_t(rng() % 50), fh = 1 + int32_t(rng() % 50);
    OutputWindow window{0, 0, fw, fh};
    if (rng() % 2) {
      window.width = 1 + int32_t(rng() % uint32_t(fw));
      window.height = 1 + int32_t(rng() % uint32_t(fh));
      window.left = int32_t(rng() % uint32_t(fw - window.width + 1));
      window.top = int32_t(rng() % uint32_t(fh - window.height + 1));
    }
    const EdgeMode h = edges[rng() % 3], v = edges[rng() % 3];
    const KernelKind kernel = KernelKind(rng() % 3);
    const FilterSpace space{rng() % 3 == 0, rng() % 3 == 0};
    const SampleAlignment alignment =
        rng() % 2 ? SampleAlignment::kCentres : SampleAlignment::kCorners;
    SCOPED_TRACE(testing::Message()
                 << "trial " << trial << ": " << sw << "x" << sh << " to " << fw << "x" << fh
                 << " window " << window.left << "," << window.top << " " << window.width << "x"
                 << window.height << " edges " << h << "," << v << " kernel " << kernel);
    PreparedResamplePtr kept, fresh;
    const ImageShape from{sw, sh, f.from}, to{fw, fh, f.to};
    ASSERT_EQ(
        PrepareResample(
            {from, to, window, SourceSamples::kStored, {h, v, kernel, space, alignment}, 0}, &kept),
        noErr);
    test::World source = test::MakeWorld(f.from, sw, sh);
    test::World out = test::MakeWorld(f.to, window.width, window.height);
    test::World whole = test::MakeWorld(f.to, window.width, window.height);
    test::FillRandom(*source, rng);
    RunWhole(kept.get(), source.get(), out.get());
    for (int frame = 0; frame < 3; ++frame) {
      const PixelRect changed = RandomRect(rng, sw, sh);
      Repaint(*source, changed, rng);
      RunChanged(kept.get(), source.get(), out.get(), changed);
      ASSERT_EQ(PrepareResample(
                    {from, to, window, SourceSamples::kStored, {h, v, kernel, space, alignment}, 0},
                    &fresh),
                noErr);
      RunWhole(fresh.get(), source.get(), whole.get());
      ASSERT_EQ(test::Snapshot(*out), test::Snapshot(*whole)) << "frame " << frame;
    }
  }
}

// The work follows the change: one pixel of a halved picture reaches the
// few output pixels within the kernel's reach, beside none at all.
TEST(ChangedRegion, ReachesOnlyTheKernelsReach) {
  const int32_t side = 64;
  for (const EdgeMode v : {kEdgeDefault, kEdgeWrap, kEdgePinch}) {
    PreparedResamplePtr prepared;
    ASSERT_EQ(
        PrepareResample({{side, side, k32ARGBPixelFormat},
                         {side / 2, side / 2, k32ARGBPixelFormat},
                         {0, 0, side / 2, side / 2},
                         SourceSamples::kStored,
                         {kEdgeDefault, v, kKernelSinc, FilterSpace{}, SampleAlignment::kCorners},
                         0},
                        &prepared),
        noErr);
    const OutputWindow w = ReachedWindow(prepared.get(), {30, 30, 31, 31});
    EXPECT_LE(w.width, 9);
    EXPECT_LE(w.height, 9);
    EXPECT_GE(w.width, 1);
    EXPECT_EQ(ReachedWindow(prepared.get(), {}).width, 0);
  }
}

}  // namespace
