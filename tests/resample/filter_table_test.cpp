#include "resample/filter_table.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "resample/kernels.h"
#include "resample/resample.h"
#include "resample/resampler.h"

namespace {

struct Entry {
  int32_t start;
  std::vector<int16_t> weights;
};

struct Table {
  int32_t maxTaps = 0;
  std::vector<Entry> entries;
};

Table BuildTable(int32_t kernel, int32_t mode, int32_t outputCount, int32_t sourceLength,
                 SampleAlignment alignment = SampleAlignment::kCorners) {
  const AxisPositions p = AxisPositionsFor(alignment, sourceLength, outputCount);
  Table t;
  t.maxTaps =
      int32_t(TableTapsForScale(KernelKind(kernel), p.scale, outputCount, p.origin, p.step));
  std::vector<double> scratch(size_t(t.maxTaps));
  std::vector<int16_t> words(size_t(FilterEntryWords(t.maxTaps) * outputCount));
  FilterSetupForKernel(KernelKind(kernel))(mode, t.maxTaps, outputCount, sourceLength, p.origin,
                                           p.scale, p.step, 1.0, scratch.data(), words.data());
  for (int32_t i = 0; i < outputCount; ++i) {
    const int16_t* e = words.data() + i * FilterEntryWords(t.maxTaps);
    const int16_t* w = EntryWeights(e);
    t.entries.push_back({EntryStart(e), std::vector<int16_t>(w, w + EntryCount(e))});
  }
  return t;
}

using W = std::vector<int16_t>;

TEST(Kernels, SincAtGivenPositions) {
  const KernelParams unit{std::cos(M_PI / 2), std::sin(M_PI / 2), 1.0};
  double out[3];
  EXPECT_EQ(EvaluateSinc(unit, 1, 0.0, 1.0, out), 1.0);
  EXPECT_EQ(out[0], 1.0);
  EvaluateSinc(unit, 1, 5e-8, 1.0, out);
  EXPECT_EQ(out[0], 1.0);
  EvaluateSinc(unit, 1, 1.0, 1.0, out);
  EXPECT_NEAR(out[0], 0.0, 1e-15);
  EvaluateSinc(unit, 1, -0.5, 1.0, out);
  EXPECT_NEAR(out[0], 0.5 * (std::sqrt(2.0) / 2) / (M_PI * M_PI / 16), 1e-15);
  EXPECT_NEAR(out[0], 0.5732, 1e-4);
  // An output position on a source sample while enlarging.
  const double sum = EvaluateSinc(unit, 3, -1.0, 1.0, out);
  EXPECT_NEAR(out[0], 0.0, 1e-15);
  EXPECT_EQ(out[1], 1.0);
  EXPECT_NEAR(out[2], 0.0, 1e-15);
  EXPECT_NEAR(sum, 1.0, 1e-15);
  // Negative between 1 and 2: sin²(3π/4)·cos(3π/4) / (π²/4 · 2.25).
  EvaluateSinc(unit, 1, 1.5, 1.0, out);
  EXPECT_NEAR(out[0], -0.5 * std::sqrt(0.5) / (M_PI * M_PI / 4 * 2.25), 1e-15);
  EXPECT_EQ(EvaluateSinc(unit, 0, 0.0, 1.0, out), 0.0);
}

TEST(Kernels, GaussiansAtGivenPositions) {
  double out[2];
  const KernelParams narrow{-4.0, 1.0, Pow2(-8.0)};
  EXPECT_NEAR(EvaluateGaussian(narrow, 2, -0.5, 1.0, out), 1.0, 1e-15);
  EXPECT_NEAR(out[0], 0.5, 1e-15);
  EXPECT_NEAR(out[1], 0.5, 1e-15);
  EvaluateGaussian(narrow, 2, -1.5, 1.5, out);
  EXPECT_NEAR(out[0], 1.0 / 512, 1e-15);  // 2^-9 at the support radius
  EXPECT_NEAR(out[1], 1.0, 1e-15);
  const KernelParams wide{-2.0, 1.0, Pow2(-4.0)};
  EvaluateGaussian(wide, 2, 0.5, 1.0, out);
  EXPECT_NEAR(out[0], std::sqrt(0.5), 1e-15);
  EXPECT_NEAR(out[1], std::pow(2.0, -4.5), 1e-15);
  EXPECT_EQ(EvaluateGaussian(narrow, 0, 0.0, 1.0, out), 0.0);
  EXPECT_NEAR(Pow2(3.0), 8.0, 1e-14);
  EXPECT_NEAR(Pow2(-9.0), 1.0 / 512, 1e-18);
}

TEST(Kernels, ReachAndTaps) {
  EXPECT_EQ(FilterSetupForKernel(KernelKind(7)), &SetupSincFilter);
  EXPECT_EQ(FilterSetupForKernel(kKernelGaussian), &SetupGaussianFilter);
  EXPECT_EQ(FilterSetupForKernel(kKernelWideGaussian), &SetupWideGaussianFilter);
  EXPECT_EQ(KernelReach(KernelKind(7)), 4.0);
  EXPECT_EQ(MaxTapsForScale(kKernelSinc, 0.5), 8);
  EXPECT_EQ(MaxTapsForScale(kKernelSinc, 49.0 / 99.0), 9);
  EXPECT_EQ(MaxTapsForScale(kKernelSinc, 3.0), 4);
  EXPECT_EQ(MaxTapsForScale(kKernelGaussian, 1.0), 3);
  EXPECT_EQ(MaxTapsForScale(kKernelWideGaussian, 1.0), 5);
  EXPECT_EQ(MaxTapsForScale(kKernelGaussian, std::numeric_limits<double>::infinity()), 3);
  EXPECT_EQ(MaxTapsForScale(kKernelSinc, 0.0), -1);
  EXPECT_EQ(MaxTapsForScale(kKernelSinc, std::nan("")), -1);
  EXPECT_GT(MaxTapsForScale(kKernelSinc, 1e-300), kMaxFilterTaps);
}

TEST(Kernels, DegenerateScales) {
  EXPECT_EQ(CornerAlignedScale(100, 1), 1.0);
  EXPECT_EQ(CornerAlignedScale(1, 1), 1.0);
  EXPECT_EQ(CornerAlignedScale(1, 5), std::numeric_limits<double>::infinity());
  EXPECT_EQ(CornerAlignedScale(100, 50), 49.0 / 99.0);
}

TEST(FilterTable, RoundingAndRemainder) {
  EXPECT_EQ(RoundHalfAway(2.5), 3);
  EXPECT_EQ(RoundHalfAway(-2.5), -3);
  EXPECT_EQ(RoundHalfAway(2.49), 2);
  EXPECT_EQ(RoundHalfAway(-0.5), -1);
  EXPECT_EQ(RoundHalfAway(-0.49), 0);

  W w{5000, 6000, 6000, 3};
  SpreadRemainder(w.data(), 4, 3);
  EXPECT_EQ(w, (W{5000, 6001, 6002, 3}));
  w = {5000, 6000, 6000, 3};
  SpreadRemainder(w.data(), 4, -3);
  EXPECT_EQ(w, (W{5000, 5999, 5998, 3}));
  w = {1, 9, 9, 9, 2};  // three maxima, one each, none left over
  SpreadRemainder(w.data(), 5, 3);
  EXPECT_EQ(w, (W{1, 10, 10, 10, 2}));
  w = {7, 3};
  SpreadRemainder(w.data(), 0, 5);
  EXPECT_EQ(w, (W{7, 3}));
}

TEST(FilterTable, SameSizeSincIsIdentity) {
  for (int32_t mode : {int32_t(kEdgeDefault), int32_t(kEdgeWrap), kEdgeDefault + kEdgeVertical}) {
    const Table t = BuildTable(kKernelSinc, mode, 7, 7);
    for (int32_t i = 0; i < 7; ++i) {
      EXPECT_EQ(t.entries[i].start, i);
      EXPECT_EQ(t.entries[i].weights, W{16384});
    }
  }
}

TEST(FilterTable, SincEnlargingTwoToThree) {
  const Table folded = BuildTable(kKernelSinc, kEdgeDefault, 3, 2);
  EXPECT_EQ(folded.entries[0].start, 0);
  EXPECT_EQ(folded.entries[0].weights, W{16384});
  EXPECT_EQ(folded.entries[1].start, 0);
  EXPECT_EQ(folded.entries[1].weights, (W{8192, 8192}));
  EXPECT_EQ(folded.entries[2].start, 1);
  EXPECT_EQ(folded.entries[2].weights, W{16384});
  const Table open = BuildTable(kKernelSinc, kEdgeWrap, 3, 2);
  EXPECT_EQ(open.entries[1].start, -1);
  EXPECT_EQ(open.entries[1].weights, (W{-1024, 9216, 9216, -1024}));
}

TEST(FilterTable, NarrowGaussianSameSize) {
  const int32_t n = 6;
  const Table open = BuildTable(kKernelGaussian, kEdgeWrap, n, n);
  for (int32_t i = 0; i < n; ++i) {
    EXPECT_EQ(open.entries[i].start, i - 1);
    EXPECT_EQ(open.entries[i].weights, (W{910, 14564, 910}));
  }
  const Table folded = BuildTable(kKernelGaussian, kEdgeDefault, n, n);
  EXPECT_EQ(folded.entries[0].start, 0);
  EXPECT_EQ(folded.entries[0].weights, (W{15474, 910}));
  EXPECT_EQ(folded.entries[2].start, 1);
  EXPECT_EQ(folded.entries[2].weights, (W{910, 14564, 910}));
  EXPECT_EQ(folded.entries[n - 1].start, n - 2);
  EXPECT_EQ(folded.entries[n - 1].weights, (W{910, 15474}));
}

// Centres aligned: output sample i at (i + 0.5)·in/out − 0.5, worked by hand.
TEST(FilterTable, CentreAlignedTables) {
  struct Case {
    const char* name;
    int32_t job[4];  // kernel, edge mode, source length, output length
    std::vector<Entry> entries;
  };
  const Case cases[] = {
      {"same size: each sample itself",
       {0, kEdgeDefault, 4, 4},
       {{0, {16384}}, {1, {16384}}, {2, {16384}}, {3, {16384}}}},
      // At 0.5, taps -3 … 4 symmetric about it, folded onto 0 and 1.
      {"2 -> 1", {0, kEdgeDefault, 2, 1}, {{0, {8192, 8192}}}},
      // At 0.5 and 2.5, s = 1/2: 2^(-4·t²) at t = ±0.25, ±0.75, ±1.25 is
      // 6473, 1618, 101 of 16384; taps past the borders folded onto them.
      {"4 -> 2, narrow gaussian",
       {1, kEdgeDefault, 4, 2},
       {{0, {8192, 6473, 1618, 101}}, {0, {101, 1618, 6473, 8192}}}},
      // At -1/3, 0, 1/3, 2/3, ...: a third of the way past a sample takes
      // -510, 5522, 12753, -1381 (two thirds, mirrored), a sample itself.
      {"3 -> 9",
       {0, kEdgeDefault, 3, 9},
       {{0, {17765, -1381}},
        {0, {16384}},
        {0, {11372, 5522, -510}},
        {0, {5012, 12753, -1381}},
        {1, {16384}},
        {0, {-1381, 12753, 5012}},
        {0, {-510, 5522, 11372}},
        {2, {16384}},
        {1, {-1381, 17765}}}},
      {"3 -> 9 wrapped",
       {0, kEdgeWrap, 3, 9},
       {{-2, {-510, 5522, 12753, -1381}},
        {0, {16384}},
        {-1, {-1381, 12753, 5522, -510}},
        {-1, {-510, 5522, 12753, -1381}},
        {1, {16384}},
        {0, {-1381, 12753, 5522, -510}},
        {0, {-510, 5522, 12753, -1381}},
        {2, {16384}},
        {1, {-1381, 12753, 5522, -510}}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Table t = BuildTable(c.job[0], c.job[1], c.job[3], c.job[2], SampleAlignment::kCentres);
    ASSERT_EQ(t.entries.size(), c.entries.size());
    for (size_t i = 0; i < c.entries.size(); ++i) {
      EXPECT_EQ(t.entries[i].start, c.entries[i].start) << "entry " << i;
      EXPECT_EQ(t.entries[i].weights, c.entries[i].weights) << "entry " << i;
    }
  }
}

TEST(FilterTable, SingleSourceSampleRepeats) {
  for (int32_t kernel : {0, 1, 2}) {
    const Table t = BuildTable(kernel, kEdgeDefault, 5, 1);
    for (const Entry& e : t.entries) {
      EXPECT_EQ(e.start, 0);
      EXPECT_EQ(e.weights, W{16384});
    }
    // A single output sample sits on source sample 0, kernel at scale 1.
    const Table one = BuildTable(kernel, kEdgeDefault + kEdgeVertical, 1, 9);
    EXPECT_EQ(one.maxTaps, int32_t(std::ceil(KernelReach(KernelKind(kernel)))));
    EXPECT_EQ(one.entries[0].start, 0);
  }
  EXPECT_EQ(BuildTable(kKernelSinc, kEdgeDefault, 1, 9).entries[0].weights, W{16384});
}

TEST(FilterTable, RoomForTapsAtBothEndsOfTheSupport) {
  // 99 → 2 with the narrow gaussian: ceil(3 · 98) = 294 taps, but rounding
  // puts output 0's first tap just inside -1.5 and its last just inside 1.5.
  auto cornerTaps = [](KernelKind kernel, double scale, int32_t outputs) {
    return TableTapsForScale(kernel, scale, outputs, 0.0, 1.0 / scale);
  };
  EXPECT_EQ(MaxTapsForScale(kKernelGaussian, 1.0 / 98), 294);
  EXPECT_EQ(cornerTaps(kKernelGaussian, 1.0 / 98, 2), 295);
  EXPECT_EQ(cornerTaps(kKernelSinc, 4.0 / 161, 5), 162);  // 162 → 5
  EXPECT_EQ(cornerTaps(kKernelSinc, 49.0 / 99, 50), 9);
}

TEST(FilterTable, VerticalTrimKeepsStartsInOrder) {
  // Two entries of up to 4 taps: (start 0: 0, 0, 16384) and (start 1: 16384, 0).
  std::vector<int16_t> table{0, 0, 3, 0, 0, 16384, 0, 0, 1, 2, 16384, 0, 0, 0};
  std::vector<int16_t> horizontal = table;
  TrimZeroTaps(horizontal.data(), 2, 4, false);
  EXPECT_EQ(EntryStart(horizontal.data()), 2);
  EXPECT_EQ(EntryCount(horizontal.data()), 1);
  TrimZeroTaps(table.data(), 2, 4, true);
  EXPECT_EQ(EntryStart(table.data()), 1);
  EXPECT_EQ(EntryCount(table.data()), 2);
  EXPECT_EQ(EntryWeights(table.data())[0], 0);
  EXPECT_EQ(EntryWeights(table.data())[1], 16384);
  EXPECT_EQ(EntryStart(table.data() + 7), 1);
  EXPECT_EQ(EntryCount(table.data() + 7), 1);
}

TEST(FilterTable, NegativeStartsSurviveTheWordSplit) {
  int16_t entry[3];
  for (int32_t start : {-1, -65536, -65537, 0, 65535, 65536, 123456789}) {
    SetEntryStart(entry, start);
    EXPECT_EQ(EntryStart(entry), start);
  }
}

// Every table over many sizes, either alignment: weights sum to 16384, counts within the
// maximum, default tables inside the source, wrap tables within the reach,
// vertical starts never decreasing, no zero weight at either end of a
// horizontal entry.
TEST(FilterTable, InvariantsOverManySizes) {
  const int32_t lengths[] = {1, 2, 3, 4, 5, 7, 10, 16, 33, 99, 100, 101, 257};
  for (int32_t kernel : {0, 1, 2}) {
    for (int32_t mode : {0, 3, 8, 11, 12}) {
      for (int32_t source : lengths) {
        for (int32_t output : lengths) {
          for (SampleAlignment alignment : {SampleAlignment::kCorners, SampleAlignment::kCentres}) {
            const Table t = BuildTable(kernel, mode, output, source, alignment);
            const double scale = AxisPositionsFor(alignment, source, output).scale;
            const double reach = KernelReach(KernelKind(kernel)) / 2 / std::min(scale, 1.0);
            int32_t previousStart = std::numeric_limits<int32_t>::min();
            for (const Entry& e : t.entries) {
              SCOPED_TRACE(testing::Message()
                           << kernel << " " << mode << " " << source << "->" << output
                           << " alignment " << int(alignment) << " start " << e.start);
              int32_t sum = 0;
              for (int16_t w : e.weights) sum += w;
              ASSERT_EQ(sum, kWeightOne);
              ASSERT_GE(int32_t(e.weights.size()), 1);
              ASSERT_LE(int32_t(e.weights.size()), t.maxTaps);
              const int32_t end = e.start + int32_t(e.weights.size());
              if ((mode & 7) == 0) {
                ASSERT_GE(e.start, 0);
                ASSERT_LE(end, source);
              } else {
                ASSERT_GT(e.start, -reach - 1);
                ASSERT_LT(end - 1, source - 1 + reach + 1);
              }
              if (mode & 8) {
                ASSERT_GE(e.start, previousStart);
                previousStart = e.start;
              } else {
                ASSERT_NE(e.weights.front(), 0);
                ASSERT_NE(e.weights.back(), 0);
              }
            }
          }
        }
      }
    }
  }
}

}  // namespace
