// The vectorised row procedures against the plain ones: the same bytes for
// every channel count and class, on random rows, on real filter tables and on
// hand-made extreme ones, at every instruction-set level this processor has;
// and whole resizes at each level, byte for byte.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "pixel_world.h"
#include "resample/filter_table.h"
#include "resample/kernels.h"
#include "resample/resample.h"
#include "resample/resampler.h"
#include "resample/row_procs.h"
#include "resample/simd_level.h"

namespace {

struct ProcCase {
  int32_t channels;
  PixelClass cls;
};

constexpr ProcCase kCases[] = {
    {4, kClassARGB32}, {4, kClassARGB64}, {3, kClassARGB32}, {3, kClassRGB48},  {3, kClassARGB64},
    {1, kClassARGB32}, {1, kClassGray8},  {1, kClassRGB48},  {1, kClassARGB64},
};

std::vector<SimdLevel> LevelsToTest() {
  std::vector<SimdLevel> levels;
  for (SimdLevel level : {kSimdSse2, kSimdAvx2}) {
    if (level <= DetectedSimdLevel()) levels.push_back(level);
  }
  return levels;
}

std::string Describe(const ProcCase& pc, SimdLevel level) {
  return "channels " + std::to_string(pc.channels) + ", class " + std::to_string(pc.cls) +
         ", level " + std::to_string(level);
}

// Restores the process-wide level when a test ends.
struct LevelGuard {
  SimdLevel saved = ResampleSimdLevel();
  ~LevelGuard() { SetResampleSimdLevel(saved); }
};

struct Table {
  int32_t taps = 0;
  int32_t outputs = 0;
  std::vector<int16_t> words;
  int64_t Stride() const { return FilterEntryWords(taps) * 2; }
  const int16_t* Entry(int32_t i) const { return words.data() + int64_t(i) * (taps + 3); }
};

Table RealTable(int32_t kernel, int32_t mode, int32_t outputs, int32_t sourceLength) {
  const double scale = CornerAlignedScale(sourceLength, outputs);
  Table t;
  t.taps = int32_t(TableTapsForScale(KernelKind(kernel), scale, outputs, 0.0, 1.0 / scale));
  t.outputs = outputs;
  t.words.assign(size_t(FilterEntryWords(t.taps) * outputs), 0);
  std::vector<double> scratch(size_t(t.taps));
  FilterSetupForKernel(KernelKind(kernel))(mode, t.taps, outputs, sourceLength, 0.0, scale,
                                           1.0 / scale, 1.0, scratch.data(), t.words.data());
  return t;
}

// total split into n parts of 0 … cap each (total ≤ n · cap), unevenly.
std::vector<int32_t> Split(std::mt19937& rng, int64_t total, int32_t n, int32_t cap) {
  std::vector<int32_t> parts(size_t(n), int32_t(total / n));
  for (int64_t i = 0; i < total % n; ++i) ++parts[size_t(i)];
  std::uniform_int_distribution<int32_t> pick(0, n - 1);
  for (int32_t moves = 0; moves < 2 * n; ++moves) {
    int32_t& from = parts[size_t(pick(rng))];
    int32_t& to = parts[size_t(pick(rng))];
    const int32_t amount = std::uniform_int_distribution<int32_t>(0, std::min(from, cap - to))(rng);
    from -= amount;
    to += amount;
  }
  return parts;
}

// Weights summing to 16384 with large ones of both signs, their magnitudes
// summing to at most budget, so that the plain 32-bit sums cannot overflow.
std::vector<int16_t> ExtremeWeights(std::mt19937& rng, int32_t count, int64_t budget) {
  if (count == 1) return {int16_t(kWeightOne)};
  const int32_t negatives = std::uniform_int_distribution<int32_t>(1, count - 1)(rng);
  const int32_t positives = count - negatives;
  int64_t negative = std::min<int64_t>((budget - kWeightOne) / 2, int64_t(32768) * negatives);
  negative = std::min<int64_t>(negative, int64_t(32767) * positives - kWeightOne);
  negative = std::uniform_int_distribution<int64_t>(negative / 2, negative)(rng);
  std::vector<int16_t> weights;
  for (int32_t w : Split(rng, kWeightOne + negative, positives, 32767))
    weights.push_back(int16_t(w));
  for (int32_t w : Split(rng, negative, negatives, 32768)) weights.push_back(int16_t(-w));
  std::shuffle(weights.begin(), weights.end(), rng);
  return weights;
}

// Entries of up to taps taps starting anywhere in [lowest, highest - count].
Table ExtremeTable(std::mt19937& rng, int32_t taps, int32_t outputs, int32_t lowest,
                   int32_t highest, int64_t budget) {
  Table t;
  t.taps = taps;
  t.outputs = outputs;
  t.words.assign(size_t(FilterEntryWords(taps) * outputs), 0);
  for (int32_t i = 0; i < outputs; ++i) {
    int16_t* entry = t.words.data() + int64_t(i) * (taps + 3);
    const int32_t count = i % 3 == 0 ? taps : std::uniform_int_distribution<int32_t>(1, taps)(rng);
    SetEntryStart(entry, std::uniform_int_distribution<int32_t>(lowest, highest - count)(rng));
    SetEntryCount(entry, count);
    const std::vector<int16_t> weights = ExtremeWeights(rng, count, budget);
    std::copy(weights.begin(), weights.end(), EntryWeights(entry));
  }
  return t;
}

int32_t RandomLength(std::mt19937& rng) {
  // Around the vector widths, a single pixel, and beyond a vertical span.
  static constexpr int32_t kLengths[] = {1, 2, 3, 4, 5, 7, 8, 9, 15, 16, 17, 31, 33, 257, 515};
  if (rng() % 2 == 0) return kLengths[rng() % std::size(kLengths)];
  return std::uniform_int_distribution<int32_t>(1, 300)(rng);
}

constexpr int16_t kSentinel = 0x5A5A;

// Colour pixels whose grey level, 870 r + 2931 g + 295 b rounded by a shift,
// lies exactly half-way, so that any slip in the rounding shows: the sum is
// 8 modulo 16 for 8-bit channels, 2048 modulo 4096 for 16-bit ones. Red and
// green are random; blue is solved for (295 is odd, so invertible).
void FillHalfWayGreys(PixelClass cls, uint8_t* bytes, int64_t pixels, std::mt19937& rng) {
  const bool wide = cls != kClassARGB32;
  const uint32_t modulus = wide ? 4096 : 16, half = modulus / 2, top = wide ? 65535 : 255;
  uint32_t inverse = 1;
  while (295 * inverse % modulus != 1) ++inverse;
  for (int64_t i = 0; i < pixels; ++i) {
    const uint32_t r = rng() & top, g = rng() & top, a = rng() & top;
    const uint32_t rest = (half + modulus * 4096 - (870 * r + 2931 * g) % modulus) % modulus;
    uint32_t b = rest * inverse % modulus;
    b += modulus * (rng() % ((top + 1) / modulus));
    if (cls == kClassARGB32) {
      const uint32_t word = a << 24 | r << 16 | g << 8 | b;
      std::memcpy(bytes + i * 4, &word, 4);
    } else if (cls == kClassRGB48) {
      const uint16_t words[3] = {uint16_t(r), uint16_t(g), uint16_t(b)};
      std::memcpy(bytes + i * 6, words, 6);
    } else {
      const uint16_t words[4] = {uint16_t(a), uint16_t(r), uint16_t(g), uint16_t(b)};
      std::memcpy(bytes + i * 8, words, 8);
    }
  }
}

void ExpectSameHorizontal(const ProcCase& pc, SimdLevel level, const Table& t, int32_t sourceLength,
                          std::mt19937& rng) {
  const int64_t pixelBytes = BytesPerPixelOfClass(pc.cls);
  // Margins of a whole entry's width, as the wrapping row buffer has.
  const int64_t margin = t.taps * pixelBytes;
  std::vector<uint8_t> source(size_t(2 * margin + sourceLength * pixelBytes));
  // A third of the rows only black and white bytes: the largest samples and
  // grey levels, where a biased or packed lane would first go wrong; for grey
  // from colour, a third of half-way greys.
  const uint32_t mode = rng() % 3;
  for (uint8_t& b : source) b = mode == 0 ? uint8_t(rng() % 2 == 0 ? 0 : 255) : uint8_t(rng());
  if (mode == 1 && pc.channels == 1 && pc.cls != kClassGray8) {
    FillHalfWayGreys(pc.cls, source.data(), int64_t(source.size()) / pixelBytes, rng);
  }
  ResampleContext c;
  c.destinationWidth = t.outputs;
  c.horizontalTable = t.words.data();
  c.horizontalTaps = t.taps;
  c.horizontalStride = t.Stride();
  const size_t samples = size_t(t.outputs) * pc.channels + 16;  // with padding
  std::vector<int16_t> plain(samples, kSentinel), fast(samples, kSentinel);
  HorizontalProcFor(pc.channels, pc.cls)(&c, source.data() + margin, plain.data());
  HorizontalProcFor(pc.channels, pc.cls, level)(&c, source.data() + margin, fast.data());
  ASSERT_EQ(plain, fast) << Describe(pc, level) << ", " << t.outputs << " from " << sourceLength
                         << ", taps " << t.taps;
}

void ExpectSameVertical(const ProcCase& pc, SimdLevel level, const Table& t, int32_t width,
                        std::mt19937& rng) {
  ResampleContext c;
  c.destinationWidth = width;
  c.ringRowSize = int64_t(width) * pc.channels * 2;
  // Intermediate samples over the whole 16-bit range, well past the overshoot
  // real images give.
  std::vector<int16_t> ring(size_t(c.ringRowSize / 2 * t.taps + 16));
  for (int16_t& s : ring) s = int16_t(rng());
  const size_t rowBytes = size_t(width) * BytesPerPixelOfClass(pc.cls) + 32;  // with padding
  std::vector<uint8_t> plain(rowBytes), fast(rowBytes);
  const int32_t step = std::max(1, t.outputs / 6);
  for (int32_t i = 0; i < t.outputs; i += step) {
    std::fill(plain.begin(), plain.end(), uint8_t(0xA5));
    std::fill(fast.begin(), fast.end(), uint8_t(0xA5));
    const uint8_t* rows = reinterpret_cast<const uint8_t*>(ring.data());
    VerticalProcFor(pc.channels, pc.cls)(&c, rows, t.Entry(i), plain.data());
    VerticalProcFor(pc.channels, pc.cls, level)(&c, rows, t.Entry(i), fast.data());
    ASSERT_EQ(plain, fast) << Describe(pc, level) << ", width " << width << ", entry " << i
                           << " of " << EntryCount(t.Entry(i)) << " taps";
  }
}

// The weight budget that keeps the plain horizontal sums of this source
// within 32 bits: 16-bit samples and 8-bit grey (up to 65280) allow far
// fewer than 8-bit channels.
int64_t HorizontalBudget(const ProcCase& pc) {
  return pc.cls == kClassGray8 || (pc.cls == kClassARGB32 && pc.channels > 1) ? 4'000'000 : 32767;
}

TEST(SimdRowProcs, EveryVectorisedPairIsChosenAtEveryLevel) {
  for (SimdLevel level : LevelsToTest()) {
    for (const ProcCase& pc : kCases) {
      SCOPED_TRACE(Describe(pc, level));
      EXPECT_NE(VerticalProcFor(pc.channels, pc.cls, level), VerticalProcFor(pc.channels, pc.cls));
      EXPECT_NE(HorizontalProcFor(pc.channels, pc.cls, level),
                HorizontalProcFor(pc.channels, pc.cls));
    }
    for (const ProcCase& pc : kCases) {
      EXPECT_EQ(HorizontalProcFor(pc.channels, pc.cls, kSimdNone),
                HorizontalProcFor(pc.channels, pc.cls));
      EXPECT_EQ(VerticalProcFor(pc.channels, pc.cls, kSimdNone),
                VerticalProcFor(pc.channels, pc.cls));
    }
  }
}

TEST(SimdRowProcs, HorizontalMatchesPlainOnRealTables) {
  std::mt19937 rng(7);
  for (SimdLevel level : LevelsToTest()) {
    for (const ProcCase& pc : kCases) {
      for (int32_t round = 0; round < 24; ++round) {
        const int32_t kernel = round % 3;
        const int32_t mode = round % 2 == 0 ? kEdgeDefault : kEdgeWrap;
        const int32_t outputs = RandomLength(rng), sourceLength = RandomLength(rng);
        const Table t = RealTable(kernel, mode, outputs, sourceLength);
        ExpectSameHorizontal(pc, level, t, sourceLength, rng);
      }
    }
  }
}

TEST(SimdRowProcs, HorizontalMatchesPlainOnExtremeTables) {
  std::mt19937 rng(11);
  for (SimdLevel level : LevelsToTest()) {
    for (const ProcCase& pc : kCases) {
      for (int32_t round = 0; round < 16; ++round) {
        const int32_t taps = round < 4 ? round + 1 : std::uniform_int_distribution(5, 120)(rng);
        const int32_t sourceLength = std::uniform_int_distribution(1, 200)(rng);
        const Table t = ExtremeTable(rng, taps, RandomLength(rng), -taps, sourceLength + taps,
                                     HorizontalBudget(pc));
        ExpectSameHorizontal(pc, level, t, sourceLength, rng);
      }
    }
  }
}

TEST(SimdRowProcs, VerticalMatchesPlainOnRealAndExtremeTables) {
  std::mt19937 rng(13);
  for (SimdLevel level : LevelsToTest()) {
    for (const ProcCase& pc : kCases) {
      for (int32_t round = 0; round < 12; ++round) {
        const int32_t mode = kEdgeVertical + (round % 3 == 0   ? kEdgeDefault
                                              : round % 3 == 1 ? kEdgeWrap
                                                               : kEdgePinch);
        const Table real = RealTable(round % 3, mode, RandomLength(rng), RandomLength(rng));
        ExpectSameVertical(pc, level, real, RandomLength(rng), rng);
        // Magnitudes up to 65000 against samples up to 32768 keep the plain
        // sums, and store16's acc + (acc >> 14), within 32 bits.
        const int32_t taps = round < 4 ? round + 1 : std::uniform_int_distribution(5, 200)(rng);
        const Table extreme = ExtremeTable(rng, taps, 6, 0, taps, 65000);
        ExpectSameVertical(pc, level, extreme, RandomLength(rng), rng);
      }
    }
  }
}

TEST(SimdRowProcs, MaximumTapCountMatchesPlain) {
  // An entry as long as a count word allows, in both directions.
  std::mt19937 rng(17);
  const int32_t taps = int32_t(kMaxFilterTaps);
  for (SimdLevel level : LevelsToTest()) {
    for (const ProcCase& pc : kCases) {
      const Table h = ExtremeTable(rng, taps, 3, 0, taps, HorizontalBudget(pc));
      ExpectSameHorizontal(pc, level, h, taps, rng);
      const Table v = ExtremeTable(rng, taps, 2, 0, taps, 65000);
      ExpectSameVertical(pc, level, v, 9, rng);
    }
  }
}

constexpr OSType kFormats[] = {k32ARGBPixelFormat, k8IndexedGrayPixelFormat, k48RGBCodecType,
                               k64ARGBPixelFormat};

TEST(SimdRowProcs, WholeResizesAreIdenticalAtEveryLevel) {
  LevelGuard guard;
  std::mt19937 rng(19);
  std::uniform_int_distribution<int32_t> size(1, 90);
  for (OSType from : kFormats) {
    for (OSType to : kFormats) {
      for (int32_t round = 0; round < 12; ++round) {
        const int32_t sw = size(rng), sh = size(rng), dw = size(rng), dh = size(rng);
        const int32_t kernel = round % 3;
        const int32_t hEdge = round % 2 == 0 ? kEdgeDefault : kEdgeWrap;
        const int32_t vEdge = round % 3 == 0   ? kEdgeDefault
                              : round % 3 == 1 ? kEdgeWrap
                                               : kEdgePinch;
        test::World source = test::MakeWorld(from, sw, sh);
        test::World destination = test::MakeWorld(to, dw, dh);
        ASSERT_TRUE(source && destination);
        test::FillRandom(*source, rng);
        test::FillRandom(*destination, rng);
        const std::vector<uint8_t> before = test::Snapshot(*destination);

        // Linear light and premultiplied alpha too: their own row work,
        // around the same filters; and either alignment, whose tables differ.
        const FilterSpace space{round % 2 == 1, round % 4 >= 2};
        for (SampleAlignment alignment : {SampleAlignment::kCorners, SampleAlignment::kCentres}) {
          const ResampleFilter filter{EdgeMode(hEdge), EdgeMode(vEdge), KernelKind(kernel), space,
                                      alignment};
          std::memcpy(destination->pixMap.baseAddr, before.data(), before.size());
          SetResampleSimdLevel(kSimdNone);
          ASSERT_EQ(ResampleGWorld(source.get(), destination.get(), filter), noErr);
          const std::vector<uint8_t> plain = test::Snapshot(*destination);
          for (SimdLevel level : LevelsToTest()) {
            std::memcpy(destination->pixMap.baseAddr, before.data(), before.size());
            ASSERT_EQ(SetResampleSimdLevel(level), level);
            ASSERT_EQ(ResampleGWorld(source.get(), destination.get(), filter), noErr);
            ASSERT_EQ(test::Snapshot(*destination), plain)
                << "formats " << from << " to " << to << ", " << sw << "x" << sh << " to " << dw
                << "x" << dh << ", kernel " << kernel << ", edges " << hEdge << "/" << vEdge
                << ", level " << level << ", linear " << space.linear << ", premultiplied "
                << space.premultiply << ", alignment " << int(alignment);
          }
        }
      }
    }
  }
}

// TAVREL_SIMD's values, spelled exactly; anything else leaves the level alone.
TEST(SimdLevel, EnvironmentValuesNameTheLevels) {
  EXPECT_EQ(SimdLevelNamed("plain"), kSimdNone);
  EXPECT_EQ(SimdLevelNamed("sse2"), kSimdSse2);
  EXPECT_EQ(SimdLevelNamed("avx2"), kSimdAvx2);
  for (const char* ignored : {"", "AVX2", "none", "sse", "avx512", "avx2 ", "0"}) {
    EXPECT_EQ(SimdLevelNamed(ignored), std::nullopt) << '"' << ignored << '"';
  }
  EXPECT_EQ(SimdLevelNamed(nullptr), std::nullopt);
}

}  // namespace
