// Centre-aligned samples along a wrapped direction are periodic: output
// sample `out` would land on source sample `in`, so rolling the source by
// k·in/out columns (or rows) rolls the output by k, to the bit, across the
// seam as everywhere else.
#include "resample/sample_positions.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>

#include "pixel_world.h"
#include "resample/resample.h"

namespace {

// The picture turned by `by` pixels along one direction (to the right or
// down), every pixel moving round to the other side.
test::World Rolled(const GWorld& from, int32_t by, bool vertical) {
  const int32_t w = test::Width(from), h = test::Height(from);
  test::World to = test::MakeWorld(from.pixMap.pixelFormat, w, h);
  const size_t bytes = size_t(test::BytesPerPixel(from));
  for (int32_t y = 0; y < h; ++y) {
    for (int32_t x = 0; x < w; ++x) {
      const int32_t tx = vertical ? x : (x + by) % w;
      const int32_t ty = vertical ? (y + by) % h : y;
      std::memcpy(test::PixelAddress(*to, tx, ty), test::PixelAddress(from, x, y), bytes);
    }
  }
  return to;
}

TEST(CentreAlignment, RollingAWrappedSourceRollsTheOutput) {
  struct Case {
    int32_t in, out, k;  // k output samples: k·in/out source samples
  };
  const Case cases[] = {{12, 4, 1}, {10, 4, 2}, {6, 24, 4}, {9, 9, 4}, {40, 5, 3}};
  std::mt19937 rng(33);
  int32_t round = 0;
  for (const Case& c : cases) {
    for (bool vertical : {false, true}) {
      for (int32_t kernel : {0, 1, 2}) {
        SCOPED_TRACE(testing::Message()
                     << c.in << " -> " << c.out << (vertical ? " down" : " across") << ", kernel "
                     << kernel);
        const OSType format = round++ % 2 == 0 ? k32ARGBPixelFormat : k64ARGBPixelFormat;
        constexpr int32_t kAcross = 5;  // the other direction, resized 5 -> 3
        test::World source =
            test::MakeWorld(format, vertical ? kAcross : c.in, vertical ? c.in : kAcross);
        ASSERT_TRUE(source);
        test::FillRandom(*source, rng);
        const test::World rolled = Rolled(*source, c.k * c.in / c.out, vertical);
        const int32_t w = vertical ? 3 : c.out, h = vertical ? c.out : 3;
        test::World plain = test::MakeWorld(format, w, h), turned = test::MakeWorld(format, w, h);
        const EdgeMode hEdge = vertical ? kEdgeDefault : kEdgeWrap;
        const EdgeMode vEdge = vertical ? kEdgeWrap : kEdgePinch;
        ASSERT_EQ(ResampleGWorld(
                      source.get(), plain.get(),
                      {hEdge, vEdge, KernelKind(kernel), FilterSpace{}, SampleAlignment::kCentres}),
                  noErr);
        ASSERT_EQ(ResampleGWorld(
                      rolled.get(), turned.get(),
                      {hEdge, vEdge, KernelKind(kernel), FilterSpace{}, SampleAlignment::kCentres}),
                  noErr);
        EXPECT_EQ(test::Snapshot(*Rolled(*plain, c.k, vertical)), test::Snapshot(*turned));
      }
    }
  }
}

}  // namespace
