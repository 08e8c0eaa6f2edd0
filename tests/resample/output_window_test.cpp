// A window of a resize ("//fill"'s crop) is exactly that part of the full
// resize, whatever the kernel, edges and pixel classes.
#include <gtest/gtest.h>

#include <cstring>
#include <random>

#include "pixel_world.h"
#include "resample/resample.h"
#include "stream/row_band.h"

namespace {

TEST(OutputWindow, IsThatPartOfTheFullResize) {
  struct Case {
    OSType from, to;
    int32_t sourceWidth, sourceHeight, fullWidth, fullHeight;
    OutputWindow window;
  };
  const Case cases[] = {
      {k32ARGBPixelFormat, k32ARGBPixelFormat, 40, 30, 27, 20, {3, 0, 20, 20}},
      {k32ARGBPixelFormat, k32ARGBPixelFormat, 13, 17, 60, 80, {17, 33, 9, 14}},
      {k64ARGBPixelFormat, k48RGBCodecType, 31, 19, 31, 19, {0, 18, 31, 1}},
      {k48RGBCodecType, k32ARGBPixelFormat, 50, 8, 11, 40, {10, 5, 1, 30}},
      {k8IndexedGrayPixelFormat, k8IndexedGrayPixelFormat, 9, 64, 9, 16, {2, 4, 5, 8}},
  };
  const int32_t edges[][2] = {
      {kEdgeDefault, kEdgeDefault}, {kEdgeWrap, kEdgeWrap}, {kEdgeDefault, kEdgePinch}};
  std::mt19937 rng(21);
  for (const Case& c : cases) {
    for (int32_t kernel : {kKernelSinc, kKernelGaussian, kKernelWideGaussian}) {
      for (const auto& edge : edges) {
        SCOPED_TRACE(testing::Message()
                     << c.sourceWidth << "x" << c.sourceHeight << " kernel " << kernel << " edges "
                     << EdgeMode(edge[0]) << "," << EdgeMode(edge[1]));
        test::World source = test::MakeWorld(c.from, c.sourceWidth, c.sourceHeight);
        test::World full = test::MakeWorld(c.to, c.fullWidth, c.fullHeight);
        test::World window = test::MakeWorld(c.to, c.window.width, c.window.height);
        ASSERT_TRUE(source && full && window);
        test::FillRandom(*source, rng);
        ASSERT_EQ(ResampleGWorld(source.get(), full.get(), EdgeMode(edge[0]), EdgeMode(edge[1]),
                                 KernelKind(kernel)),
                  noErr);

        PreparedResamplePtr prepared;
        const ResampleFilter filter{EdgeMode(edge[0]), EdgeMode(edge[1]), KernelKind(kernel),
                                    FilterSpace{}, SampleAlignment::kCorners};
        ASSERT_EQ(PrepareResample({{c.sourceWidth, c.sourceHeight, c.from},
                                   {c.fullWidth, c.fullHeight, c.to},
                                   c.window,
                                   SourceSamples::kStored,
                                   filter,
                                   0},
                                  &prepared),
                  noErr);
        RowBand sourceRows;
        sourceRows.AttachWhole(PixelViewOf(source.get()), true);
        RowBand windowRows;
        windowRows.AttachWhole(PixelViewOf(window.get()), false);
        RunPreparedResample(prepared.get(), &sourceRows, &windowRows, 0);

        const int32_t bytes = test::BytesPerPixel(*window);
        bool same = true;
        for (int32_t y = 0; y < c.window.height; ++y) {
          same &= std::memcmp(test::PixelAddress(*window, 0, y),
                              test::PixelAddress(*full, c.window.left, c.window.top + y),
                              size_t(c.window.width * bytes)) == 0;
        }
        EXPECT_TRUE(same);
      }
    }
  }
}

TEST(OutputWindow, OutsideTheFullResizeIsRefused) {
  PreparedResamplePtr prepared;
  const ImageShape from{10, 10, k32ARGBPixelFormat};
  const ImageShape to{8, 6, k32ARGBPixelFormat};
  for (const OutputWindow& w : {OutputWindow{1, 0, 8, 6}, OutputWindow{0, 1, 8, 6},
                                OutputWindow{-1, 0, 4, 4}, OutputWindow{0, 0, 0, 6}}) {
    const ResampleFilter filter{kEdgeDefault, kEdgeDefault, kKernelSinc, FilterSpace{},
                                SampleAlignment::kCorners};
    EXPECT_EQ(PrepareResample({from, to, w, SourceSamples::kStored, filter, 0}, &prepared),
              paramErr);
  }
}

}  // namespace
