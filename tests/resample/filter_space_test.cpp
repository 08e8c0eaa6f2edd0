// Filtering in linear light and with premultiplied alpha, against references
// computed here: the curve applied by hand around the 16-bit resize, a float
// filter of premultiplied colour, and the default filter wherever the space
// should change nothing.

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <random>
#include <vector>

#include "pixel_world.h"
#include "resample/filter_table.h"
#include "resample/kernels.h"
#include "resample/resample.h"
#include "resample/resampler.h"

namespace {

using Pixel = std::array<int32_t, 4>;  // A, R, G, B

bool Wide(const GWorld& gw) {
  return gw.pixMap.pixelSize > 32;
}
int32_t Top(const GWorld& gw) {
  return Wide(gw) ? 65535 : 255;
}

Pixel GetPixel(const GWorld& gw, int32_t x, int32_t y) {
  switch (gw.pixMap.pixelFormat) {
    case k32ARGBPixelFormat: {
      const uint32_t p = test::Get32(gw, x, y);
      return {int32_t(p >> 24), int32_t(p >> 16 & 255), int32_t(p >> 8 & 255), int32_t(p & 255)};
    }
    case k48RGBCodecType:
      return {65535, test::Get16(gw, x, y, 0), test::Get16(gw, x, y, 1), test::Get16(gw, x, y, 2)};
    default:
      return {test::Get16(gw, x, y, 0), test::Get16(gw, x, y, 1), test::Get16(gw, x, y, 2),
              test::Get16(gw, x, y, 3)};
  }
}

void SetPixel(GWorld& gw, int32_t x, int32_t y, const Pixel& p) {
  switch (gw.pixMap.pixelFormat) {
    case k32ARGBPixelFormat:
      test::Set32(
          gw, x, y,
          uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | uint32_t(p[3]));
      return;
    case k48RGBCodecType:
      for (int32_t c = 0; c < 3; ++c) test::Set16(gw, x, y, c, uint16_t(p[c + 1]));
      return;
    default:
      for (int32_t c = 0; c < 4; ++c) test::Set16(gw, x, y, c, uint16_t(p[c]));
  }
}

// The curve, written out again from its definition.
int32_t LinearOf(int32_t v, int32_t top) {
  const double s = double(v) / top;
  const double l = s <= 0.04045 ? s / 12.92 : std::pow((s + 0.055) / 1.055, 2.4);
  return int32_t(std::floor(65535 * l + 0.5));
}
int32_t StoredOf(int32_t x, int32_t top) {
  const double l = double(x) / 65535;
  const double s = l <= 0.0031308 ? 12.92 * l : 1.055 * std::pow(l, 1.0 / 2.4) - 0.055;
  return std::clamp(int32_t(std::floor(top * s + 0.5)), 0, top);
}

struct Resize {
  OSType from, to;
  int32_t sw, sh, dw, dh, kernel, hEdge, vEdge;
};

constexpr Resize kResizes[] = {
    {k32ARGBPixelFormat, k32ARGBPixelFormat, 37, 23, 13, 41, kKernelSinc, 0, 0},
    {k32ARGBPixelFormat, k32ARGBPixelFormat, 64, 64, 17, 9, kKernelGaussian, 3, 4},
    {k32ARGBPixelFormat, k48RGBCodecType, 30, 30, 45, 20, kKernelWideGaussian, 3, 3},
    {k32ARGBPixelFormat, k64ARGBPixelFormat, 20, 20, 31, 7, kKernelSinc, 0, 3},
    {k64ARGBPixelFormat, k64ARGBPixelFormat, 40, 18, 21, 33, kKernelSinc, 3, 4},
    {k64ARGBPixelFormat, k32ARGBPixelFormat, 25, 25, 9, 9, kKernelGaussian, 0, 0},
    {k48RGBCodecType, k48RGBCodecType, 33, 12, 12, 33, kKernelWideGaussian, 3, 0},
    {k48RGBCodecType, k32ARGBPixelFormat, 50, 3, 7, 1, kKernelSinc, 0, 4},
};

std::string Describe(const Resize& r) {
  return std::to_string(r.from) + " to " + std::to_string(r.to) + ", " + std::to_string(r.sw) +
         "x" + std::to_string(r.sh) + " to " + std::to_string(r.dw) + "x" + std::to_string(r.dh) +
         ", kernel " + std::to_string(r.kernel) + ", edges " + std::to_string(r.hEdge) + "/" +
         std::to_string(r.vEdge);
}

test::World Resized(const GWorld& source, const Resize& r, FilterSpace space) {
  test::World out = test::MakeWorld(r.to, r.dw, r.dh);
  EXPECT_EQ(ResampleGWorld(const_cast<GWorld*>(&source), out.get(),
                           {EdgeMode(r.hEdge), EdgeMode(r.vEdge), KernelKind(r.kernel), space,
                            SampleAlignment::kCorners}),
            noErr);
  return out;
}

// Colour through the curve into 16 bits, the default 16-bit resize, and the
// curve back; alpha as the default resize gives it.
TEST(FilterSpace, LinearIsTheSixteenBitResizeBetweenTheCurves) {
  std::mt19937 rng(5);
  for (const Resize& r : kResizes) {
    SCOPED_TRACE(Describe(r));
    test::World source = test::MakeWorld(r.from, r.sw, r.sh);
    test::FillRandom(*source, rng);
    const bool threeChannels = r.from == k48RGBCodecType || r.to == k48RGBCodecType;
    const OSType workingFormat = threeChannels ? k48RGBCodecType : k64ARGBPixelFormat;
    test::World working = test::MakeWorld(workingFormat, r.sw, r.sh);
    const int32_t top = Top(*source);
    for (int32_t y = 0; y < r.sh; ++y) {
      for (int32_t x = 0; x < r.sw; ++x) {
        Pixel p = GetPixel(*source, x, y);
        p[0] = int32_t(int64_t(p[0]) * 65535 / top);
        for (int32_t c = 1; c < 4; ++c) p[c] = LinearOf(p[c], top);
        SetPixel(*working, x, y, p);
      }
    }
    const Resize workingResize{workingFormat, workingFormat, r.sw,    r.sh,   r.dw,
                               r.dh,          r.kernel,      r.hEdge, r.vEdge};
    const test::World filtered = Resized(*working, workingResize, {});
    const test::World straight = Resized(*source, r, {});
    const test::World linear = Resized(*source, r, {.linear = true});
    const int32_t outTop = Top(*linear);
    for (int32_t y = 0; y < r.dh; ++y) {
      for (int32_t x = 0; x < r.dw; ++x) {
        Pixel expected = GetPixel(*filtered, x, y);
        for (int32_t c = 1; c < 4; ++c) expected[c] = StoredOf(expected[c], outTop);
        expected[0] = GetPixel(*straight, x, y)[0];
        ASSERT_EQ(GetPixel(*linear, x, y), expected) << "pixel " << x << ", " << y;
      }
    }
  }
}

TEST(FilterSpace, LinearCheckerboardKeepsItsLightness) {
  test::World board = test::MakeWorld(k32ARGBPixelFormat, 512, 512);
  for (int32_t y = 0; y < 512; ++y) {
    for (int32_t x = 0; x < 512; ++x)
      test::Set32(*board, x, y, (x + y) % 2 ? 0xFFFFFFFFu : 0xFF000000u);
  }
  const test::World small =
      Resized(*board, {k32ARGBPixelFormat, k32ARGBPixelFormat, 512, 512, 32, 32, kKernelSinc, 0, 0},
              {.linear = true});
  double sum = 0;
  for (int32_t y = 0; y < 32; ++y) {
    for (int32_t x = 0; x < 32; ++x) {
      const Pixel p = GetPixel(*small, x, y);
      sum += p[1] + p[2] + p[3];
    }
  }
  const double mean = sum / (32 * 32 * 3);
  EXPECT_GE(mean, 187.0);
  EXPECT_LE(mean, 188.0);
}

// A white disc on transparent black: its soft edge stays white.
TEST(FilterSpace, PremultipliedEdgesKeepTheirColour) {
  for (OSType format : {k32ARGBPixelFormat, k64ARGBPixelFormat}) {
    test::World logo = test::MakeWorld(format, 64, 64);
    const int32_t top = Top(*logo);
    for (int32_t y = 0; y < 64; ++y) {
      for (int32_t x = 0; x < 64; ++x) {
        const bool inside = (x - 31) * (x - 31) + (y - 30) * (y - 30) < 400;
        SetPixel(*logo, x, y, inside ? Pixel{top, top, top, top} : Pixel{0, 0, 0, 0});
      }
    }
    for (FilterSpace space : {FilterSpace{.premultiply = true}, FilterSpace{true, true}}) {
      const test::World small =
          Resized(*logo, {format, format, 64, 64, 23, 23, kKernelSinc, 0, 0}, space);
      // Without alpha in the output, the colour is weighted all the same.
      const test::World flat =
          Resized(*logo, {format, k48RGBCodecType, 64, 64, 23, 23, kKernelSinc, 0, 0}, space);
      int32_t edges = 0;
      for (int32_t y = 0; y < 23; ++y) {
        for (int32_t x = 0; x < 23; ++x) {
          const Pixel p = GetPixel(*small, x, y);
          if (p[0] == 0) continue;
          edges += p[0] < top;
          for (int32_t c = 1; c < 4; ++c) {
            ASSERT_GE(p[c], top * 250 / 255) << x << ", " << y;
            ASSERT_GE(GetPixel(*flat, x, y)[c], 65535 * 250 / 255) << x << ", " << y;
          }
        }
      }
      EXPECT_GT(edges, 20);
    }
  }
}

// Opaque pixels are weighted by one: the bytes of the resize without it.
TEST(FilterSpace, PremultiplyingOpaqueImagesChangesNothing) {
  std::mt19937 rng(7);
  for (const Resize& r : kResizes) {
    if (r.from == k48RGBCodecType) continue;
    SCOPED_TRACE(Describe(r));
    test::World source = test::MakeWorld(r.from, r.sw, r.sh);
    test::FillRandom(*source, rng);
    for (int32_t y = 0; y < r.sh; ++y) {
      for (int32_t x = 0; x < r.sw; ++x) {
        Pixel p = GetPixel(*source, x, y);
        p[0] = Top(*source);
        SetPixel(*source, x, y, p);
      }
    }
    for (bool linear : {false, true}) {
      EXPECT_EQ(test::Snapshot(*Resized(*source, r, {linear, true})),
                test::Snapshot(*Resized(*source, r, {linear, false})));
    }
  }
}

// The entries of a filter table as float weights.
struct FloatTaps {
  int32_t start = 0;
  std::vector<double> weights;
};
std::vector<FloatTaps> FloatTable(int32_t kernel, int32_t mode, int32_t outputs, int32_t inputs) {
  const double scale = CornerAlignedScale(inputs, outputs);
  const int32_t taps =
      int32_t(TableTapsForScale(KernelKind(kernel), scale, outputs, 0.0, 1.0 / scale));
  std::vector<int16_t> words(size_t(FilterEntryWords(taps) * outputs));
  std::vector<double> scratch(static_cast<size_t>(taps));
  FilterSetupForKernel(KernelKind(kernel))(mode, taps, outputs, inputs, 0.0, scale, 1.0 / scale,
                                           1.0, scratch.data(), words.data());
  std::vector<FloatTaps> table;
  for (int32_t i = 0; i < outputs; ++i) {
    const int16_t* e = words.data() + i * FilterEntryWords(taps);
    FloatTaps t{EntryStart(e), {}};
    for (int32_t k = 0; k < EntryCount(e); ++k) t.weights.push_back(EntryWeights(e)[k] / 16384.0);
    table.push_back(t);
  }
  return table;
}

// Colour where alpha is at least 16 within 2 levels of the same filter in
// floating point, applied to colour times alpha and divided by the
// filtered alpha.
TEST(FilterSpace, PremultipliedColourFollowsTheFloatFilter) {
  std::mt19937 rng(11);
  constexpr int32_t kW = 48, kH = 40, kDw = 19, kDh = 27;
  test::World source = test::MakeWorld(k32ARGBPixelFormat, kW, kH);
  test::FillRandom(*source, rng);
  int32_t checked = 0;
  for (int32_t kernel : {kKernelSinc, kKernelGaussian, kKernelWideGaussian}) {
    const test::World out =
        Resized(*source, {k32ARGBPixelFormat, k32ARGBPixelFormat, kW, kH, kDw, kDh, kernel, 0, 0},
                {.premultiply = true});
    const std::vector<FloatTaps> h = FloatTable(kernel, kEdgeDefault, kDw, kW);
    const std::vector<FloatTaps> v = FloatTable(kernel, kEdgeDefault + kEdgeVertical, kDh, kH);
    for (int32_t y = 0; y < kDh; ++y) {
      for (int32_t x = 0; x < kDw; ++x) {
        std::array<double, 4> sum{};  // alpha, then colour times alpha
        for (size_t j = 0; j < v[y].weights.size(); ++j) {
          for (size_t i = 0; i < h[x].weights.size(); ++i) {
            const Pixel p = GetPixel(*source, std::clamp(h[x].start + int32_t(i), 0, kW - 1),
                                     std::clamp(v[y].start + int32_t(j), 0, kH - 1));
            const double w = v[y].weights[j] * h[x].weights[i];
            sum[0] += w * p[0];
            for (int32_t c = 1; c < 4; ++c) sum[c] += w * p[c] * p[0];
          }
        }
        const Pixel p = GetPixel(*out, x, y);
        if (p[0] < 16 || sum[0] < 16) continue;
        ++checked;
        for (int32_t c = 1; c < 4; ++c) {
          EXPECT_NEAR(p[c], std::clamp(sum[c] / sum[0], 0.0, 255.0), 2.0)
              << "kernel " << kernel << ", pixel " << x << ", " << y << ", channel " << c;
        }
      }
    }
  }
  EXPECT_GT(checked, 3 * kDw * kDh / 2);
}

}  // namespace
