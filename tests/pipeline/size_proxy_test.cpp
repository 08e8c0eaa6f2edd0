// //max-bytes on a picture tall enough for the bands' foresight: the file
// written is the highest percent's within the budget, byte for byte the
// plain encode at it, for a budget exactly a file's size and one under.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "base/deadline.h"
#include "imageio/export.h"
#include "pipeline/goal_export.h"
#include "platform/owned.h"
#include "platform/quality.h"
#include "platform/quicktime.h"
#include "test_support.h"

namespace {

// 200 x 640 of waves and noise, whose sizes follow the quality.
UniqueGWorld Photo() {
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
  return UniqueGWorld(made);
}

std::vector<uint8_t> Plain(GWorldPtr picture, int32_t percent) {
  ExportSettings settings;
  settings.quality = QualityOfWholePercent(percent);
  std::vector<uint8_t> bytes;
  EXPECT_EQ(EncodeImage(picture, settings, nullptr, &bytes), noErr);
  return bytes;
}

TEST(SizeProxy, ForeseenSearchWritesTheHighestFittingPercent) {
  ASSERT_EQ(StartQuickTime(0), noErr);
  const UniqueGWorld picture = Photo();
  test::TempDir dir;
  const std::string out = (dir.path() / "o.jpg").string();
  const uint64_t at70 = Plain(picture.get(), 70).size();
  for (const uint64_t budget : {at70, at70 - 1}) {
    SCOPED_TRACE(budget);
    QualityChoice chosen;
    ASSERT_EQ(ExportForGoal(picture.get(), ResizeRequest{}, ExportSettings{},
                            {QualityGoalKind::kMaxBytes, budget, 0}, nullptr, out, true, Deadline(),
                            &chosen),
              noErr);
    EXPECT_GT(chosen.bandTrials, 0);
    EXPECT_EQ(chosen.percent >= 70, budget == at70);
    const std::vector<uint8_t> written = test::ReadFileBytes(out);
    EXPECT_EQ(written, Plain(picture.get(), chosen.percent));
    EXPECT_LE(written.size(), budget);
    EXPECT_GT(Plain(picture.get(), chosen.percent + 1).size(), budget);
  }
  StopQuickTime();
}

}  // namespace
