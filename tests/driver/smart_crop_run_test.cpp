// "//crop": a fill's window placed on an off-centre subject, said in the
// report; "//crop centre" writes the same bytes as no "//crop".
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <fstream>
#include <string>

#include "png_files.h"
#include "test_support.h"

namespace {

namespace fs = std::filesystem;

// An 800 x 400 flat grey field with one subject: a skin-toned disc (a face)
// centred at (120, 200), or an 80 x 80 black and white checker at x 640 to
// 720. The RGB of the pixel at (x, y).
std::array<uint16_t, 3> Subject(bool face, int32_t x, int32_t y) {
  if (face && (x - 120) * (x - 120) + (y - 200) * (y - 200) < 60 * 60) return {200, 146, 112};
  if (!face && x >= 640 && x < 720 && y >= 160 && y < 240) {
    const uint16_t v = ((x / 8 + y / 8) % 2) * 255;
    return {v, v, v};
  }
  return {120, 120, 120};
}

test::PngPixels Picture(bool face) {
  test::PngPixels p;
  p.width = 800, p.height = 400, p.channels = 3;
  for (int32_t y = 0; y < p.height; ++y) {
    for (int32_t x = 0; x < p.width; ++x) {
      const std::array<uint16_t, 3> rgb = Subject(face, x, y);
      p.samples.insert(p.samples.end(), rgb.begin(), rgb.end());
    }
  }
  return p;
}

// The face stored a quarter turn anticlockwise, as a PPM (400 x 800) for
// cjpeg: Exif orientation 6 puts it upright.
void WriteStoredFacePpm(const fs::path& path) {
  std::string ppm = "P6\n400 800\n255\n";
  for (int32_t sy = 0; sy < 800; ++sy) {
    for (int32_t sx = 0; sx < 400; ++sx) {
      for (const uint16_t v : Subject(true, 799 - sy, sx)) ppm.push_back(char(v));
    }
  }
  std::ofstream(path, std::ios::binary) << ppm;
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
  // A window placed before the run is placed on a small copy of the JPEG
  // decoded at 1/4, which must be put upright (every run here puts its
  // source upright) first; the output's own resize is upright already.
  WriteStoredFacePpm(dir / "stored.ppm");
  const auto make = [&](std::vector<std::string> argv) {
    ASSERT_EQ(test::RunProgram(argv, dir.path().string()).status, 0) << argv.front();
  };
  make({"cjpeg", "-quality", "95", "-outfile", "stored.jpg", "stored.ppm"});
  make({"exiftool", "-q", "-q", "-n", "-Orientation=6", "-o", "face6.jpg", "stored.jpg"});
  // The full resize is 200 x 100 and the window 100 wide: the face spans
  // 15 to 45, the checker 160 to 180. At 600 the window is placed on a
  // reduction of the full resize (1200 x 600, the checker 960 to 1080) and
  // carried back. At 2100 the full resize (4200 x 2100)
  // is too large to hold, and the window is placed on a small copy of the
  // source before the run: the face spans 315 to 945, the checker 3360 to
  // 3780.
  struct Case {
    const char* input;
    const char* rule;
    int side;             // the window's
    int lowest, highest;  // its left
  } cases[] = {
      {"face.png", "attention", 100, 0, 15},      {"face.png", "entropy", 100, 0, 15},
      {"face6.jpg", "attention", 100, 0, 15},     {"detail.png", "attention", 100, 80, 100},
      {"detail.png", "entropy", 100, 80, 100},    {"detail.png", "centre", 100, 50, 50},
      {"detail.png", "attention", 600, 480, 600}, {"face6.jpg", "attention", 2100, 0, 315},
      {"detail.png", "entropy", 2100, 1680, 2100}};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.input) + " " + c.rule + " " + std::to_string(c.side));
    const std::string side = std::to_string(c.side);
    const test::RunResult run =
        test::RunTavrel({"//upright", "//fill", side, side, "//crop", c.rule, "//report", "r.json",
                         "/c", c.side == 100 ? "png" : "jpeg", "/o", "o.png", c.input},
                        dir.path().string());
    ASSERT_EQ(run.status, 0) << run.err;
    const std::vector<uint8_t> report = test::ReadFileBytes(dir / "r.json");
    const int left = CropLeft(std::string(report.begin(), report.end()));
    EXPECT_GE(left, c.lowest);
    EXPECT_LE(left, c.highest);
    if (c.side != 100) continue;
    // The pixels are the full resize's at that place.
    ASSERT_EQ(test::RunTavrel(
                  {"//upright", "/w", "200", "/h", "100", "/c", "png", "/o", "full.png", c.input},
                  dir.path().string())
                  .status,
              0);
    test::PngPixels full, window;
    ASSERT_TRUE(test::ReadPng(dir / "full.png", &full));
    ASSERT_TRUE(test::ReadPng(dir / "o.png", &window));
    ASSERT_EQ(window.width, 100);
    for (int32_t y = 0; y < window.height; ++y) {
      const uint16_t* row = full.At(y, left);
      ASSERT_TRUE(std::equal(row, row + 100 * full.channels, window.At(y, 0))) << y;
    }
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
