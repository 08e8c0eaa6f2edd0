// The structural similarity against scikit-image's, and the quality
// search's answer over made trials: the boundary exactly, a budget one
// byte short, none fitting, trials out of order, runs of percents and
// foresight right or wrong; and over real encodes.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "base/deadline.h"
#include "imageio/export.h"
#include "imageio/import.h"
#include "pipeline/goal_export.h"
#include "pipeline/quality_search.h"
#include "pipeline/ssim.h"
#include "platform/owned.h"
#include "platform/quality.h"
#include "platform/quicktime.h"
#include "test_support.h"

namespace {

// The picture as stored: 32-bit ARGB, or 16-bit samples most significant
// byte first.
GWorldPtr Drawn(const std::string& name) {
  OpenedImport opened;
  GWorldPtr drawn = nullptr;
  EXPECT_EQ(OpenImport(test::DataPath("ssim/" + name).string(), &opened), noErr);
  EXPECT_EQ(DrawWholeImage(opened, false, &drawn), noErr);
  return drawn;
}

TEST(StructuralSimilarity, AgreesWithScikitImage) {
  ASSERT_EQ(StartQuickTime(0), noErr);
  // skimage.metrics.structural_similarity(a, b, channel_axis=2,
  // gaussian_weights=True, sigma=1.5, use_sample_covariance=False,
  // data_range=255 or 65535), scikit-image 0.19.3, on the pairs that
  // tests/data/ssim/make_pairs.py wrote. Our window's weights are
  // integers (2^16 in all), within 2e-4 of its.
  struct Case {
    const char* a;
    const char* b;
    double expected;
  } cases[] = {{"a.png", "noisy.png", 0.779449600204511},
               {"a.png", "blurred.png", 0.9189143388858175},
               {"a.png", "a.png", 1.0},
               {"a16.png", "noisy16.png", 0.9019982732081422}};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.a) + " " + c.b);
    GWorldPtr a = Drawn(c.a), b = Drawn(c.b);
    ASSERT_TRUE(a != nullptr && b != nullptr);
    EXPECT_NEAR(StructuralSimilarity(PixelViewOf(a), PixelViewOf(b)), c.expected, 2e-4);
    DisposeGWorld(a);
    DisposeGWorld(b);
  }
  StopQuickTime();
}

// 200 x 640 of waves and noise, whose sizes follow the quality.
GWorldPtr Tall() {
  Rect bounds;
  MacSetRect(&bounds, 0, 0, 200, 640);
  GWorldPtr made = nullptr;
  EXPECT_EQ(QTNewGWorld(&made, k32ARGBPixelFormat, &bounds, nullptr, nullptr, kNativeEndianPixMap),
            noErr);
  const PixelView view = PixelViewOf(made);
  uint32_t noise = 12345;
  for (int32_t y = 0; y < view.height; ++y) {
    for (int32_t x = 0; x < view.width; ++x) {
      uint32_t word = 0xFF000000u;
      for (int32_t c = 0; c < 3; ++c) {
        noise = noise * 1103515245u + 12345u;
        const double wave = 90 * std::sin(x / (9.0 + c * 4)) * std::cos(y / (13.0 + y / 97));
        word |= uint32_t(std::lround(120 + wave + (noise >> 16) % 24)) << (16 - 8 * c);
      }
      std::memcpy(view.base + y * view.rowBytes + 4 * x, &word, 4);
    }
  }
  return made;
}

// A file of 3000 + 40 t^2 bytes at percent p, t the last percent of p's
// run (runs of `run` percents make one file), a trial counted.
struct MadeSizes {
  std::mutex lock;
  std::set<int32_t> tried;
  int32_t run = 1;
  int32_t Top(int32_t p) const { return std::min(100, (p + run - 1) / run * run); }
  uint64_t Bytes(int32_t p) const { return 3000 + 40 * uint64_t(Top(p)) * uint64_t(Top(p)); }
  TrialFunction Trial(uint64_t budget, std::set<int32_t> outOfOrder = {}) {
    return [this, budget, outOfOrder](int32_t p) {
      std::lock_guard<std::mutex> hold(lock);
      tried.insert(p);
      const uint64_t bytes = outOfOrder.count(p) ? budget + 1 : Bytes(p);
      return SearchTrial{noErr, bytes <= budget, std::log(double(bytes))};
    };
  }
};

TEST(QualitySearch, FindsTheHighestPercentWithinTheBudget) {
  MadeSizes sizes;
  struct Case {
    uint64_t budget;
    int32_t expected;
    std::set<int32_t> outOfOrder;  // percents whose file is one byte over, whatever their size
  } cases[] = {{sizes.Bytes(63), 63, {}},   {sizes.Bytes(63) - 1, 62, {}},
               {sizes.Bytes(1), 1, {}},     {sizes.Bytes(1) - 1, 0, {}},
               {sizes.Bytes(100), 100, {}}, {sizes.Bytes(7) + 5, 7, {}},
               {sizes.Bytes(90), 74, {75}}};
  for (const Case& c : cases) {
    for (const bool parallel : {false, true}) {
      SCOPED_TRACE(std::to_string(c.budget) + (parallel ? " parallel" : ""));
      sizes.tried.clear();
      OSErr err = paramErr;
      const int32_t found = HighestBelow(sizes.Trial(c.budget, c.outOfOrder),
                                         std::log(double(c.budget) + 0.5), {}, parallel, &err);
      EXPECT_EQ(err, noErr);
      EXPECT_EQ(found, c.expected);
      // The answer was tried, and so was the percent above it.
      EXPECT_TRUE(found == 0 || sizes.tried.count(found));
      EXPECT_TRUE(found == 100 || sizes.tried.count(found + 1));
      // No more than thirds alone would take: five rounds of two.
      EXPECT_LE(sizes.tried.size(), 10u);
    }
  }
}

// Runs of percents that make one file, and foresight right or wrong,
// change which percents are tried, never the answer: each run is tried
// once at most, and a right foresight takes one round.
TEST(QualitySearch, HintsChangeTheTrialsNotTheAnswer) {
  struct Variant {
    const char* name;
    int32_t run;   // percents per run of one file
    bool predict;  // with foresight: the answer + off
    int32_t off;   // kWild: 100, the other 1; kBlind: cannot tell
    size_t mostTrials;
    bool oneAtATime = false;
  };
  constexpr int32_t kWild = 1000, kBlind = -1000;
  const Variant variants[] = {{"runs of 3", 3, false, 0, 10},
                              {"foreseen", 1, true, 0, 2},
                              {"foreseen 6 above", 1, true, 6, 12},
                              {"foreseen 9 below", 3, true, -9, 12},
                              {"foreseen wildly", 1, true, kWild, 12},
                              {"blind", 1, true, kBlind, 10},
                              {"one at a time, foreseen", 1, true, 0, 2, true},
                              {"one at a time, 6 above", 3, true, 6, 12, true}};
  for (const Variant& v : variants) {
    MadeSizes sizes;
    sizes.run = v.run;
    for (const uint64_t budget : {sizes.Bytes(63), sizes.Bytes(63) - 1, sizes.Bytes(1) - 1,
                                  sizes.Bytes(100), sizes.Bytes(7) + 5}) {
      int32_t expected = 0;
      for (int32_t p = 1; p <= 100; ++p) expected = sizes.Bytes(p) <= budget ? p : expected;
      SearchHints hints;
      hints.oneAtATime = v.oneAtATime;
      if (v.run > 1) hints.sameFileTop = [&](int32_t p) { return sizes.Top(p); };
      if (v.predict) {
        hints.predict = [&](int32_t, int32_t, const std::vector<TriedPercent>&) {
          if (v.off == kWild) return Foresight{100, 1};
          return Foresight{v.off == kBlind ? -1 : expected + v.off, -1};
        };
      }
      for (const bool parallel : {false, true}) {
        SCOPED_TRACE(std::string(v.name) + " " + std::to_string(budget) +
                     (parallel ? " parallel" : ""));
        sizes.tried.clear();
        OSErr err = paramErr;
        EXPECT_EQ(HighestBelow(sizes.Trial(budget), std::log(double(budget) + 0.5), hints, parallel,
                               &err),
                  expected);
        EXPECT_EQ(err, noErr);
        std::set<int32_t> runs;
        for (const int32_t p : sizes.tried) runs.insert(sizes.Top(p));
        EXPECT_EQ(runs.size(), sizes.tried.size());
        EXPECT_TRUE(expected == 0 || runs.count(sizes.Top(expected)));
        EXPECT_TRUE(expected == 100 || runs.count(sizes.Top(expected + 1)));
        EXPECT_LE(sizes.tried.size(), v.mostTrials);
      }
    }
  }
}

TEST(QualitySearch, AFailedTrialEndsTheSearch) {
  int32_t calls = 0;
  OSErr err = noErr;
  const int32_t found = HighestBelow(
      [&](int32_t) {
        ++calls;
        return SearchTrial{memFullErr, false, 0};
      },
      1, {}, false, &err);
  EXPECT_EQ(err, memFullErr);
  EXPECT_EQ(found, 0);
  EXPECT_EQ(calls, 2);
}

// Colours under the decoded file's transparent pixels, which an encoder
// may change at will, do not count; under opaque ones they do.
TEST(StructuralSimilarity, ColoursUnderTransparencyDoNotCount) {
  constexpr int32_t kSide = 16;
  std::vector<uint32_t> kept(kSide * kSide), decoded(kSide * kSide);
  for (int32_t i = 0; i < kSide * kSide; ++i) {
    const uint32_t colour = uint32_t(i * 2654435761u) & 0xFFFFFF;
    const bool clear = i % kSide < kSide / 2;
    kept[size_t(i)] = (clear ? 0u : 0xFF000000u) | colour;
    decoded[size_t(i)] = clear ? 0u : 0xFF000000u | colour;
  }
  const auto view = [](std::vector<uint32_t>& pixels) {
    return PixelView{
        reinterpret_cast<uint8_t*>(pixels.data()), kSide * 4, kSide, kSide, k32ARGBPixelFormat, 32};
  };
  EXPECT_DOUBLE_EQ(StructuralSimilarity(view(kept), view(decoded)), 1.0);
  for (uint32_t& pixel : decoded) pixel |= 0xFF000000u;
  EXPECT_LT(StructuralSimilarity(view(kept), view(decoded)), 0.9);
}

// A picture tall enough for the bands' foresight (JPEG, budgets of
// exactly a file's size and one under; JPEG XL, whose bands are read off a
// line between two sizes, its first trial aimed for the second to end the
// search: a count of encodes), and AVIF, whose percents sharing
// a quantiser make one file: the file written is the plain encode at the
// quality reported, and the percent beyond it (above for a budget, below
// for a score) makes another file, over the budget.
TEST(QualitySearch, WritesThePlainFileAtTheBoundary) {
  ASSERT_EQ(StartQuickTime(0), noErr);
  const UniqueGWorld tall(Tall());
  const UniqueGWorld small(Drawn("a.png"));
  test::TempDir dir;
  const std::string out = (dir.path() / "o").string();
  ExportSettings jpeg, avif, jxl;
  avif.codec = FourCC("avif");  // as "/c avif" spells it
  jxl.codec = FourCC("JXL ");
  const auto plain = [](GWorldPtr picture, ExportSettings at, int32_t percent) {
    at.quality = QualityOfWholePercent(percent);
    std::vector<uint8_t> bytes;
    EXPECT_EQ(EncodeImage(picture, at, nullptr, &bytes), noErr);
    return bytes;
  };
  const uint64_t at70 = plain(tall.get(), jpeg, 70).size();
  const struct {
    GWorldPtr picture;
    ExportSettings settings;
    QualityGoal goal;
    int32_t mostEncodes;  // trials and band encodes together, where counted
  } cases[] = {
      {tall.get(), jpeg, {QualityGoalKind::kMaxBytes, at70, 0}, 0},
      {tall.get(), jpeg, {QualityGoalKind::kMaxBytes, at70 - 1, 0}, 0},
      {tall.get(), jxl, {QualityGoalKind::kMaxBytes, plain(tall.get(), jxl, 70).size() - 1, 0}, 10},
      {small.get(), avif, {QualityGoalKind::kMaxBytes, plain(small.get(), avif, 50).size(), 0}, 0},
      {small.get(), avif, {QualityGoalKind::kScore, 0, 0.9}, 0}};
  for (const auto& c : cases) {
    const bool bytes = c.goal.kind == QualityGoalKind::kMaxBytes;
    SCOPED_TRACE(std::to_string(c.goal.maxBytes) + (bytes ? " bytes" : " score"));
    QualityChoice chosen;
    ASSERT_EQ(ExportForGoal(c.picture, ResizeRequest{}, c.settings, c.goal, nullptr, out, true,
                            Deadline(), &chosen),
              noErr);
    EXPECT_EQ(chosen.bandTrials > 0, c.picture == tall.get());
    if (c.mostEncodes > 0) {
      EXPECT_LE(chosen.trials + chosen.bandTrials, c.mostEncodes);
    }
    const std::vector<uint8_t> written = test::ReadFileBytes(out);
    EXPECT_EQ(written, plain(c.picture, c.settings, chosen.percent));
    const std::vector<uint8_t> beyond =
        plain(c.picture, c.settings, chosen.percent + (bytes ? 1 : -1));
    EXPECT_NE(beyond, written);
    if (bytes) {
      EXPECT_LE(written.size(), c.goal.maxBytes);
      EXPECT_GT(beyond.size(), c.goal.maxBytes);
    }
  }
  StopQuickTime();
}

// Once the job's deadline has passed no trial is encoded and nothing is
// written; with time left the same search writes its file.
TEST(QualitySearch, NoTrialAfterTheDeadline) {
  ASSERT_EQ(StartQuickTime(0), noErr);
  GWorldPtr picture = Drawn("a.png");
  test::TempDir dir;
  const std::string out = (dir.path() / "o.jpg").string();
  const Deadline passed = Deadline::After(1e-9);
  while (!passed.Passed()) {
  }
  QualityGoal bytes{QualityGoalKind::kMaxBytes, 1000000, 0};
  QualityGoal score{QualityGoalKind::kScore, 0, 0.9};
  for (const QualityGoal& goal : {bytes, score}) {
    QualityChoice chosen;
    EXPECT_EQ(ExportForGoal(picture, ResizeRequest{}, ExportSettings{}, goal, nullptr, out, false,
                            passed, &chosen),
              kTimedOutErr);
    EXPECT_EQ(chosen.trials, 0);
    EXPECT_FALSE(std::filesystem::exists(out));
    EXPECT_EQ(ExportForGoal(picture, ResizeRequest{}, ExportSettings{}, goal, nullptr, out, false,
                            Deadline(), &chosen),
              noErr);
    EXPECT_TRUE(std::filesystem::exists(out));
    std::filesystem::remove(out);
  }
  DisposeGWorld(picture);
}

}  // namespace
