// "//max-bytes" and "//target-quality": the file written is the plain run's
// at the quality chosen, within the budget, and a budget one byte under it
// makes the search go lower; goals no quality meets and outputs without a
// quality write nothing.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <utility>

#include "png_files.h"
#include "test_support.h"

namespace {

namespace fs = std::filesystem;

// 240 x 160 of smooth colour and fine texture: its files' sizes follow the quality.
test::PngPixels Photo() {
  test::PngPixels p;
  p.width = 240, p.height = 160, p.channels = 3;
  uint32_t noise = 12345;
  for (int32_t y = 0; y < p.height; ++y) {
    for (int32_t x = 0; x < p.width; ++x) {
      for (int32_t c = 0; c < 3; ++c) {
        noise = noise * 1103515245u + 12345u;
        const double wave = 90 * std::sin(x / (9.0 + c * 4)) * std::cos(y / 13.0);
        p.samples.push_back(uint16_t(std::lround(120 + wave + ((noise >> 16) % 24))));
      }
    }
  }
  return p;
}

// The first number after "key": in the report; -1 for none or null.
double ReportNumber(const fs::path& report, const std::string& key) {
  const std::vector<uint8_t> bytes = test::ReadFileBytes(report);
  const std::string text(bytes.begin(), bytes.end());
  const size_t at = text.find("\"" + key + "\":");
  if (at == std::string::npos || text.compare(at + key.size() + 3, 4, "null") == 0) return -1;
  return std::stod(text.substr(at + key.size() + 3));
}

struct Chosen {
  int quality = -1;
  double bytes = -1;
  double similarity = -1;
};

// bits: "/b"'s argument.
Chosen RunGoal(const test::TempDir& dir, const std::string& goal, const std::string& value,
               const std::string& codec, const std::string& bits, const std::string& out) {
  const test::RunResult run = test::RunTavrel({goal, value, "//report", "r.json", "/w", "120", "/c",
                                               codec, "/b", bits, "/o", out, "in.png"},
                                              dir.path().string());
  EXPECT_EQ(run.status, 0) << run.err;
  const fs::path report = dir / "r.json";
  return {int(ReportNumber(report, "quality")), ReportNumber(report, "bytes"),
          ReportNumber(report, "similarity")};
}

std::vector<uint8_t> Plain(const test::TempDir& dir, int quality, const std::string& codec,
                           const std::string& bits) {
  EXPECT_EQ(test::RunTavrel({"/q", std::to_string(quality), "/w", "120", "/c", codec, "/b", bits,
                             "/o", "plain", "in.png"},
                            dir.path().string())
                .status,
            0);
  return test::ReadFileBytes(dir / "plain");
}

TEST(QualityGoal, WritesThePlainRunsFileWithinTheBudget) {
  test::TempDir dir;
  ASSERT_TRUE(test::WritePng(dir / "in.png", Photo()));
  for (const std::string codec : {"jpg", "webp", "avif", "jxl"}) {
    SCOPED_TRACE(codec);
    const uint64_t budget = Plain(dir, 50, codec, "24").size();
    const Chosen chosen = RunGoal(dir, "//max-bytes", std::to_string(budget), codec, "24", "g");
    const std::vector<uint8_t> written = test::ReadFileBytes(dir / "g");
    ASSERT_GE(chosen.quality, 50);
    EXPECT_LE(written.size(), budget);
    EXPECT_EQ(double(written.size()), chosen.bytes);
    EXPECT_EQ(written, Plain(dir, chosen.quality, codec, "24"));
    // One byte under what was written: a lower quality, within it.
    const uint64_t tighter = written.size() - 1;
    const Chosen lower = RunGoal(dir, "//max-bytes", std::to_string(tighter), codec, "24", "h");
    EXPECT_LT(lower.quality, chosen.quality);
    EXPECT_LE(test::ReadFileBytes(dir / "h").size(), tighter);
  }
  // Scored against the pixels as written: grey, and 16-bit ones whose
  // codec decodes them to 8 bits or to 16.
  const std::pair<const char*, const char*> scoredOutputs[] = {
      {"jpg", "24"}, {"jpg", "8"}, {"jpg", "48"}, {"jxl", "48"}};
  for (const auto& [codec, bits] : scoredOutputs) {
    SCOPED_TRACE(std::string(codec) + " " + bits);
    const Chosen scored = RunGoal(dir, "//target-quality", "0.93", codec, bits, "t");
    EXPECT_GE(scored.similarity, 0.93);
    EXPECT_EQ(test::ReadFileBytes(dir / "t"), Plain(dir, scored.quality, codec, bits));
  }
}

TEST(QualityGoal, NothingWrittenWhenNoQualityMeetsItOrNoneCanBeSearched) {
  test::TempDir dir;
  ASSERT_TRUE(test::WritePng(dir / "in.png", Photo()));
  struct Case {
    std::vector<std::string> words;
    const char* line;
    int status;  // 0: any failure
  } cases[] = {
      {{"//max-bytes", "0"}, "Invalid argument for flag \"-max-bytes\": \"0\"", 0},
      {{"//target-quality", "1.5"}, "Invalid argument for flag \"-target-quality\": \"1.5\"", 0},
      {{"//max-bytes", "100"}, "\"o\": even the lowest quality is over //max-bytes (-8972)", 244},
      {{"//target-quality", "1"}, "\"o\": no quality reaches //target-quality (-8973)", 243},
      {{"//max-bytes", "9000", "/c", "png"}, "PNG has no quality to search", 0},
      {{"//max-bytes", "9000", "//animated", "/c", "webp"}, "not with //animated", 0},
      {{"//max-bytes", "9000", "//target-quality", "0.9"}, "Conflicting quality choice", 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    std::vector<std::string> words = c.words;
    for (const char* w : {"/w", "120", "/o", "o", "in.png"}) words.push_back(w);
    const test::RunResult run = test::RunTavrel(words, dir.path().string());
    EXPECT_NE(run.err.find(c.line), std::string::npos) << run.err;
    EXPECT_TRUE(c.status == 0 ? run.status != 0 : run.status == c.status) << run.status;
    EXPECT_FALSE(fs::exists(dir / "o"));
  }
}

}  // namespace
