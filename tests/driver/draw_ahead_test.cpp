// A job may overlap its steps: the source drawn on another thread while the
// resampler follows it row by row (only without progress lines), and the
// rows encoded while the resampler is still filling them. Overlapped or in
// turn, a job must end alike to the byte: the same output file, the same
// status, the same error line, also when the drawing fails half-way, the
// vertical edge treatment reads rows out of order, or 16-bit rows must
// change byte order before the encoder sees them.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "png_files.h"
#include "test_support.h"

namespace fs = std::filesystem;

namespace {

struct Outcome {
  int status = -1;
  std::string lastErrorLine;
  std::vector<uint8_t> output;  // empty when no file was written
};

std::string LastLine(const std::string& text) {
  if (text.empty()) return "";
  const size_t end = text.back() == '\n' ? text.size() - 1 : text.size();
  const size_t start = text.rfind('\n', end == 0 ? 0 : end - 1);
  return text.substr(start == std::string::npos ? 0 : start + 1, end - (start + 1));
}

Outcome Run(const test::TempDir& dir, bool verbose, std::vector<std::string> args,
            const fs::path& input) {
  const fs::path out = dir / (verbose ? "verbose.out" : "quiet.out");
  fs::remove(out);
  if (verbose) args.insert(args.begin(), "/v");
  args.insert(args.end(), {"/o", out.string(), input.string()});
  const test::RunResult run = test::RunTavrel(args);
  Outcome o;
  o.status = run.status;
  o.lastErrorLine = run.status == 0 ? "" : LastLine(run.err);
  if (fs::exists(out)) o.output = test::ReadFileBytes(out);
  return o;
}

void ExpectSameBothWays(const test::TempDir& dir, const std::vector<std::string>& args,
                        const fs::path& input, bool expectOutput) {
  SCOPED_TRACE(input.filename().string());
  const Outcome quiet = Run(dir, false, args, input);
  const Outcome verbose = Run(dir, true, args, input);
  EXPECT_EQ(quiet.status, verbose.status);
  EXPECT_EQ(quiet.lastErrorLine, verbose.lastErrorLine);
  EXPECT_EQ(quiet.output.empty(), !expectOutput);
  EXPECT_TRUE(quiet.output == verbose.output) << "the output files differ";
}

fs::path CutCopy(const test::TempDir& dir, const fs::path& from, double fraction) {
  std::vector<uint8_t> bytes = test::ReadFileBytes(from);
  bytes.resize(size_t(double(bytes.size()) * fraction));
  const fs::path to = dir / ("cut_" + from.filename().string());
  test::WriteFileBytes(to, bytes);
  return to;
}

TEST(DrawAhead, JpegAndPngEndAsWhenDrawnFirst) {
  test::TempDir dir;
  const fs::path camera = test::DataPath("exif/gps_DSCN0010.jpg");
  const fs::path progressive = test::DataPath("codecs/gradient_progressive.jpg");
  const fs::path interlaced = test::DataPath("pngsuite/basi2c08.png");
  const fs::path png = dir / "pattern.png";
  ASSERT_TRUE(test::WritePng(png, test::MakeTestPattern(300, 200, 8, 4)));

  for (const char* edges : {"", "vw", "vp", "hwvw"}) {
    std::vector<std::string> args = {"/w", "157", "/h", "301"};
    if (*edges != '\0') args.insert(args.end(), {"/p", edges});
    ExpectSameBothWays(dir, args, camera, true);
  }
  ExpectSameBothWays(dir, {"/w", "40", "/h", "30", "/k", "g"}, progressive, true);
  ExpectSameBothWays(dir, {"/w", "77", "/h", "50", "/c", "png", "/b", "32"}, png, true);
  ExpectSameBothWays(dir, {"/w", "64", "/h", "64", "/c", "png", "/r", "90"}, interlaced, true);
}

TEST(DrawAhead, FailuresHalfWayAreTheReadingsAsWhenDrawnFirst) {
  test::TempDir dir;
  const fs::path png = dir / "pattern.png";
  ASSERT_TRUE(test::WritePng(png, test::MakeTestPattern(300, 200, 8, 3)));
  // A PNG or JPEG that ends inside its image data fails the reading.
  ExpectSameBothWays(dir, {"/w", "100", "/h", "100"}, CutCopy(dir, png, 0.6), false);
  ExpectSameBothWays(dir, {"/w", "100", "/h", "100", "/p", "vw"}, CutCopy(dir, png, 0.3), false);
  const fs::path png16 = dir / "pattern16.png";
  ASSERT_TRUE(test::WritePng(png16, test::MakeTestPattern(300, 200, 16, 3)));
  ExpectSameBothWays(dir, {"/w", "100", "/h", "100", "/b", "48", "/c", "png"},
                     CutCopy(dir, png16, 0.5), false);
  ExpectSameBothWays(dir, {"/w", "100", "/h", "100", "/b", "64", "/c", "png"}, png16, true);
  ExpectSameBothWays(dir, {"/w", "100", "/h", "100"},
                     CutCopy(dir, test::DataPath("exif/gps_DSCN0010.jpg"), 0.9), false);
  ExpectSameBothWays(dir, {"/w", "40", "/h", "30"},
                     CutCopy(dir, test::DataPath("codecs/gradient_progressive.jpg"), 0.9), false);
  // A destination that cannot be had, while a good source is being drawn,
  // is the allocation's failure; with a failing source, the reading's.
  ExpectSameBothWays(dir, {"/w", "2000000000", "/h", "2000000000"}, png, false);
  ExpectSameBothWays(dir, {"/w", "2000000000", "/h", "2000000000"}, CutCopy(dir, png, 0.6), false);
}

}  // namespace
