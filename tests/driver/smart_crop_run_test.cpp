// "//crop": a fill's window placed on an off-centre subject, said in the
// report; "//crop centre" writes the same bytes as no "//crop".
#include <gtest/gtest.h>

#include <string>

#include "png_files.h"
#include "test_support.h"

namespace {

namespace fs = std::filesystem;

// A 400 x 200 flat grey field with one subject: a skin-toned disc (a face)
// centred at (60, 100), or a 40 x 40 black and white checker at x 320 to 360.
test::PngPixels Picture(bool face) {
  test::PngPixels p;
  p.width = 400, p.height = 200, p.channels = 3;
  p.samples.assign(size_t(p.width) * p.height * 3, 120);
  for (int32_t y = 0; y < p.height; ++y) {
    for (int32_t x = 0; x < p.width; ++x) {
      uint16_t* s = &p.samples[(size_t(y) * p.width + x) * 3];
      if (face && (x - 60) * (x - 60) + (y - 100) * (y - 100) < 30 * 30) {
        s[0] = 200, s[1] = 146, s[2] = 112;
      } else if (!face && x >= 320 && x < 360 && y >= 80 && y < 120) {
        s[0] = s[1] = s[2] = ((x / 4 + y / 4) % 2) * 255;
      }
    }
  }
  return p;
}

// The report's "crop" left, or -1 without one.
int CropLeft(const std::string& report) {
  const std::string key = "\"crop\":{\"left\":";
  const size_t at = report.find(key);
  return at == std::string::npos ? -1 : std::stoi(report.substr(at + key.size()));
}

TEST(SmartCrop, WindowHoldsTheSubject) {
  test::TempDir dir;
  ASSERT_TRUE(test::WritePng(dir / "face.png", Picture(true)));
  ASSERT_TRUE(test::WritePng(dir / "detail.png", Picture(false)));
  // The full resize is 200 x 100 and the window 100 wide: the face spans
  // 15 to 45, the checker 160 to 180.
  struct Case {
    const char* input;
    const char* rule;
    int lowest, highest;  // the window's left
  } cases[] = {{"face.png", "attention", 0, 15},
               {"face.png", "entropy", 0, 15},
               {"detail.png", "attention", 80, 100},
               {"detail.png", "entropy", 80, 100},
               {"detail.png", "centre", 50, 50}};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.input) + " " + c.rule);
    const test::RunResult run =
        test::RunTavrel({"//fill", "100", "100", "//crop", c.rule, "//report", "r.json", "/c",
                         "png", "/o", "o.png", c.input},
                        dir.path().string());
    ASSERT_EQ(run.status, 0) << run.err;
    const std::vector<uint8_t> report = test::ReadFileBytes(dir / "r.json");
    const int left = CropLeft(std::string(report.begin(), report.end()));
    EXPECT_GE(left, c.lowest);
    EXPECT_LE(left, c.highest);
  }
  const auto centred = [&](std::vector<std::string> crop, const char* out) {
    std::vector<std::string> args = {"//fill", "100", "100", "/c", "png", "/o", out, "detail.png"};
    args.insert(args.begin(), crop.begin(), crop.end());
    EXPECT_EQ(test::RunTavrel(args, dir.path().string()).status, 0);
    return test::ReadFileBytes(dir / out);
  };
  EXPECT_EQ(centred({"//crop", "centre"}, "a.png"), centred({}, "b.png"));
}

}  // namespace
