// "//placeholder" from the command line to the report: the colour and the
// preview of each written output, whatever its depth, turn or streaming.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "png_files.h"
#include "test_support.h"

namespace {

// The value of "placeholder" in a report line, up to its closing brace.
std::string PlaceholderField(const std::string& line) {
  const size_t at = line.find("\"placeholder\":");
  if (at == std::string::npos) return std::string();
  return line.substr(at, line.find('}', at) - at + 1);
}

TEST(PlaceholderRun, EveryOutputLineCarriesItsColourAndPreview) {
  test::TempDir dir;
  // Two thirds one colour at the top, the rest another.
  test::PngPixels png;
  png.width = 60;
  png.height = 90;
  png.bitDepth = 8;
  png.channels = 3;
  for (int32_t y = 0; y < png.height; ++y) {
    for (int32_t x = 0; x < png.width; ++x) {
      const bool top = y < 60;
      for (const uint16_t v : {top ? 0xA0 : 0x1E, top ? 0x3C : 0x50, top ? 0x14 : 0xB4})
        png.samples.push_back(v);
    }
  }
  ASSERT_TRUE(test::WritePng(dir / "in.png", png));
  // At its own size, so that no pixel mixes the two colours.
  const struct {
    std::vector<std::string> args;
  } cases[] = {
      {{"/w", "60", "/h", "90", "/c", "png"}},
      {{"/w", "60", "/h", "90", "/c", "png", "/b", "64"}},
      {{"/w", "60", "/h", "90", "/c", "png", "/r", "90"}},
  };
  for (const auto& c : cases) {
    std::vector<std::string> args = c.args;
    args.insert(args.end(), {"//placeholder", "//report", "-", "in.png", "/o", "out.png"});
    const test::RunResult run = test::RunTavrel(args, dir.path().string());
    ASSERT_EQ(run.status, 0) << run.err;
    // The written file's commonest colour as libpng reads it (the resize
    // may move a flat colour by a level).
    test::PngPixels written;
    ASSERT_TRUE(test::ReadPng(dir / "out.png", &written));
    const double scale = written.bitDepth == 16 ? 257.0 : 1.0;
    std::map<std::string, int> counts;
    for (int32_t y = 0; y < written.height; ++y) {
      for (int32_t x = 0; x < written.width; ++x) {
        char hex[8];
        const uint16_t* p = written.At(y, x);
        std::snprintf(hex, sizeof hex, "#%02x%02x%02x", int(std::lround(p[0] / scale)),
                      int(std::lround(p[1] / scale)), int(std::lround(p[2] / scale)));
        ++counts[hex];
      }
    }
    const std::string colour =
        std::max_element(counts.begin(), counts.end(), [](const auto& a, const auto& b) {
          return a.second < b.second;
        })->first;
    const std::string field = PlaceholderField(run.out);
    EXPECT_EQ(field.rfind("\"placeholder\":{\"colour\":\"" + colour +
                              "\",\"preview\":\"data:image/webp;base64,",
                          0),
              0u)
        << run.out;
    EXPECT_LE(field.size(), 340u);
  }
  // Without it the line has no such field.
  const test::RunResult plain = test::RunTavrel(
      {"/w", "30", "//report", "-", "in.png", "/o", "out.png"}, dir.path().string());
  EXPECT_EQ(PlaceholderField(plain.out), "");
}

}  // namespace
