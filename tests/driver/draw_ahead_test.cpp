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

#include "driver/image_job.h"
#include "platform/quicktime.h"
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

// In this process, so that the overlap can be switched off for the
// reference run.
struct JobCase {
  std::string input;
  int32_t width;
  int32_t height;
  int32_t edges;  // horizontal in the low byte, vertical above
  int32_t kernel;
  int32_t rotation;
  ExportSettings settings;
};

std::vector<uint8_t> RunJob(const test::TempDir& dir, const JobCase& c, bool overlap,
                            int32_t* result) {
  SetImageJobOverlap(overlap);
  const fs::path out = dir / (overlap ? "overlap.out" : "inturn.out");
  JobSettings settings;
  settings.inputPath = c.input;
  settings.outputPath = out.string();
  settings.width = c.width;
  settings.height = c.height;
  settings.horizontalEdge = c.edges & 0xFF;
  settings.verticalEdge = c.edges >> 8;
  settings.kernel = c.kernel;
  settings.rotation = c.rotation;
  settings.exportSettings = c.settings;
  settings.copyMetadata = true;
  *result = RunImageJob(settings);
  SetImageJobOverlap(true);
  return fs::exists(out) ? test::ReadFileBytes(out) : std::vector<uint8_t>();
}

TEST(DrawAhead, EncodingWhileResamplingWritesTheSameFile) {
  ASSERT_EQ(StartQuickTime(0), noErr);
  test::TempDir dir;
  const std::string camera = test::DataPath("exif/gps_DSCN0010.jpg").string();
  const fs::path png16 = dir / "pattern16.png";
  ASSERT_TRUE(test::WritePng(png16, test::MakeTestPattern(120, 90, 16, 4)));
  const ExportSettings jpeg{FourCC("jpeg"), 0, 24, 767};
  const ExportSettings greyJpeg{FourCC("jpeg"), 0, 8, 1000};
  const ExportSettings png{FourCC("png "), 0, 32, 768};
  const ExportSettings png64{FourCC("png "), 0, 64, 768};
  const ExportSettings png48{FourCC("png "), 0, 48, 768};
  const ExportSettings jpeg64{FourCC("jpeg"), 0, 64, 500};
  const ExportSettings tiff64{FourCC("tiff"), 0, 64, 768};
  const JobCase cases[] = {
      {camera, 320, 240, 0, 0, 0, jpeg},
      {camera, 1280, 33, 0x0300, 1, 0, greyJpeg},  // vertical wrap reads the bottom first
      {camera, 97, 501, 0x0403, 2, 0, png},
      {camera, 200, 150, 0, 0, 0, png64},
      {png16.string(), 301, 17, 0, 0, 0, png48},
      {png16.string(), 64, 480, 0x0400, 0, 0, png64},
      {png16.string(), 64, 48, 0, 0, 0, jpeg64},
      {png16.string(), 64, 48, 0, 0, 0, tiff64},  // an encoder that needs the whole image
      {png16.string(), 64, 48, 0, 0, 90, png64},  // a turn needs it too
  };
  for (const JobCase& c : cases) {
    SCOPED_TRACE(fs::path(c.input).filename().string() + " to " + std::to_string(c.width) + "x" +
                 std::to_string(c.height));
    int32_t inTurn = 1;
    int32_t overlapped = 1;
    const std::vector<uint8_t> reference = RunJob(dir, c, false, &inTurn);
    const std::vector<uint8_t> output = RunJob(dir, c, true, &overlapped);
    EXPECT_EQ(inTurn, noErr);
    EXPECT_EQ(overlapped, noErr);
    EXPECT_FALSE(reference.empty());
    EXPECT_TRUE(output == reference) << "the output files differ";
  }
  StopQuickTime();
}

}  // namespace
