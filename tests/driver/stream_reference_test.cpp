// Streaming against the reference: a job that holds only rings of rows, its
// stages overlapped on threads, must end exactly as the job that holds whole
// buffers and runs its stages one after another: the same status and the
// same output file, for every importer, edge-mode pair, turn and depth, and
// for files that fail half-way; for colour-matched sources, whichever
// thread matched their rows; and in linear light and with premultiplied
// alpha, whose source rows a ring converts and a whole source does not.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "codecs/jpeg/jpeg_bands.h"
#include "driver/command_line/checks.h"
#include "driver/job/image_job.h"
#include "pipeline/pipeline.h"
#include "platform/quicktime.h"
#include "png_files.h"
#include "resample/resampler_seam.h"
#include "resample/simd_level.h"
#include "test_support.h"

namespace fs = std::filesystem;

namespace {

// Tall enough for the source rings to wrap around many times.
constexpr int32_t kWidth = 24;
constexpr int32_t kHeight = 400;

struct Input {
  std::string name;
  fs::path path;
};

JobSettings Job(const fs::path& in, const fs::path& out, int32_t width, int32_t height) {
  JobSettings s;
  s.inputPath = in.string();
  s.outputName = out.string();
  s.width = width;
  s.height = height;
  s.copyMetadata = true;
  return s;
}

// The job as the driver runs it: its checks first, which build the geometry.
int32_t CheckAndRun(JobSettings s) {
  std::vector<Note> notes;
  RunChecks(s, notes);
  EXPECT_EQ(s.errorCount, 0) << *s.inputPath;
  return RunImageJob(s).code;
}

// Converts in to another format at the same size through the job itself.
fs::path Convert(const fs::path& in, const fs::path& out, OSType codec, int16_t depth,
                 int32_t quality = 1000) {
  JobSettings s = Job(in, out, kWidth, kHeight);
  s.exportSettings = {codec, 0, depth, quality};
  EXPECT_EQ(CheckAndRun(s), noErr) << out;
  return out;
}

fs::path CutCopy(const fs::path& from, const fs::path& to, double fraction) {
  std::vector<uint8_t> bytes = test::ReadFileBytes(from);
  bytes.resize(size_t(double(bytes.size()) * fraction));
  test::WriteFileBytes(to, bytes);
  return to;
}

std::vector<Input> MakeInputs(const test::TempDir& dir) {
  const fs::path png8 = dir / "rgba8.png", png16 = dir / "rgba16.png", rgb16 = dir / "rgb16.png";
  EXPECT_TRUE(test::WritePng(png8, test::MakeTestPattern(kWidth, kHeight, 8, 4)));
  EXPECT_TRUE(test::WritePng(png16, test::MakeTestPattern(kWidth, kHeight, 16, 4)));
  EXPECT_TRUE(test::WritePng(rgb16, test::MakeTestPattern(kWidth, kHeight, 16, 3)));
  const fs::path jpeg = Convert(png8, dir / "baseline.jpg", FourCC("jpeg"), 24);
  const fs::path progressive = dir / "progressive.jpg";
  EXPECT_EQ(test::RunProgram({"jpegtran", "-progressive", "-outfile", progressive, jpeg}).status,
            0);
  // Grey, a marker every row of blocks: 50 rows, in bands on two threads.
  const fs::path restarts = dir / "restarts.jpg";
  EXPECT_EQ(
      test::RunProgram({"jpegtran", "-grayscale", "-restart", "1", "-outfile", restarts, jpeg})
          .status,
      0);
  const fs::path tiff16 = Convert(rgb16, dir / "rgb16.tif", FourCC("tiff"), 48);
  const fs::path webp = Convert(png8, dir / "rgba.webp", FourCC("webp"), 32);
  const fs::path tiled = dir / "tiled.tif";
  EXPECT_EQ(test::RunProgram({"tiffcp", "-t", "-w", "16", "-l", "16", tiff16, tiled}).status, 0);
  return {
      {"baseline JPEG", jpeg},
      {"progressive JPEG", progressive},
      {"JPEG with restart markers", restarts},
      {"8-bit RGBA PNG", png8},
      {"16-bit RGBA PNG", png16},
      {"16-bit RGB PNG", rgb16},
      {"interlaced PNG", test::DataPath("pngsuite/basi6a16.png")},
      {"8-bit TIFF strips", Convert(png8, dir / "rgba8.tif", FourCC("tiff"), 32)},
      {"16-bit TIFF strips", tiff16},
      {"16-bit TIFF tiles", tiled},
      {"WebP", webp},
      {"lossless WebP", Convert(png8, dir / "rgba_lossless.webp", FourCC("webp"), 32, 1024)},
      {"JPEG XL", Convert(png16, dir / "rgba16.jxl", FourCC("jxl "), 32)},
      {"GIF", test::DataPath("formats/interlaced.gif")},
      {"HEIC", test::DataPath("formats/rgba8.heic")},
      {"JPEG cut half-way", CutCopy(jpeg, dir / "cut.jpg", 0.6)},
      {"PNG cut half-way", CutCopy(png16, dir / "cut.png", 0.6)},
      {"TIFF cut half-way", CutCopy(tiff16, dir / "cut.tif", 0.6)},
      {"WebP cut half-way", CutCopy(webp, dir / "cut.webp", 0.6)},
  };
}

struct Outcome {
  int32_t result = 1;
  std::vector<uint8_t> output;  // empty when no file was written
};

Outcome RunOnce(const JobSettings& job, bool stream) {
  fs::remove(*job.outputName);
  SetImageJobOverlap(stream);
  Outcome o;
  o.result = CheckAndRun(job);
  SetImageJobOverlap(true);
  if (fs::exists(*job.outputName)) o.output = test::ReadFileBytes(*job.outputName);
  return o;
}

TEST(StreamReference, EveryImporterEdgeTurnAndDepthGivesTheReferenceBytes) {
  ASSERT_EQ(StartQuickTime(0), noErr);
  test::TempDir dir;
  const std::vector<Input> inputs = MakeInputs(dir);
  // Outputs go to memory where it can: every file written is flushed to
  // disk, which would take most of the time of thousands of small jobs.
  const fs::path out = fs::is_directory("/dev/shm")
                           ? fs::path("/dev/shm") / ("tavrel-stream-" + std::to_string(getpid()))
                           : dir / "out";
  struct Edges {
    const char* name;
    int32_t horizontal, vertical;
  };
  const Edges edges[] = {{"", 0, 0},   {"hw", 3, 0},   {"vw", 0, 3},
                         {"vp", 0, 4}, {"hwvw", 3, 3}, {"hwvp", 3, 4}};
  // Each depth through another encoder: JPEG, PNG, TIFF and PNG again.
  struct Depth {
    int16_t bits;
    OSType codec;
  };
  const Depth depths[] = {
      {24, FourCC("jpeg")}, {32, FourCC("png ")}, {48, FourCC("tiff")}, {64, FourCC("png ")}};
  int compared = 0, failed = 0;
  const int64_t bandedBefore = JpegImagesDecodedInBands();
  for (const Input& input : inputs) {
    for (const Edges& e : edges) {
      for (int32_t rotation : {0, 90, 180, 270}) {
        for (const Depth& d : depths) {
          SCOPED_TRACE(input.name + " /p " + e.name + " /r " + std::to_string(rotation) + " /b " +
                       std::to_string(d.bits));
          // A narrower, slightly taller image: both directions filter and
          // the destination ring wraps around too.
          JobSettings job = Job(input.path, out, 19, 437);
          job.horizontalEdge = EdgeMode(e.horizontal);
          job.verticalEdge = EdgeMode(e.vertical);
          job.kernel = KernelKind((compared / 3) % 3);
          job.rotation = rotation;
          job.exportSettings = {d.codec, 0, d.bits, 900};
          const Outcome reference = RunOnce(job, false);
          const Outcome streamed = RunOnce(job, true);
          EXPECT_EQ(streamed.result, reference.result);
          EXPECT_TRUE(streamed.output == reference.output) << "the output files differ";
          ++compared;
          if (reference.result != noErr) ++failed;
        }
      }
    }
  }
  fs::remove(out);
  // The cut files fail and every other one succeeds, in both arrangements.
  EXPECT_EQ(failed, 4 * 6 * 4 * 4);
  // Streamed, every run of the file with restart markers (into a ring or a
  // whole buffer) was decoded in bands, where two cores allow it.
  if (DrawThreads(1) == 2) {
    EXPECT_EQ(JpegImagesDecodedInBands() - bandedBefore, 6 * 4 * 4);
  }
  StopQuickTime();
}

TEST(StreamReference, ColourMatchedSourcesGiveTheReferenceBytes) {
  ASSERT_EQ(StartQuickTime(0), noErr);
  test::TempDir dir;
  const std::vector<uint8_t> adobe =
      test::ReadFileBytes("/usr/share/color/icc/compatibleWithAdobeRGB1998.icc");
  ASSERT_FALSE(adobe.empty());
  // Each tagged source beside its untagged twin.
  std::vector<std::pair<fs::path, fs::path>> inputs;
  for (int32_t bits : {8, 16}) {
    const std::string name = std::to_string(bits) + ".png";
    test::PngPixels pixels = test::MakeTestPattern(kWidth, kHeight, bits, 3);
    ASSERT_TRUE(test::WritePng(dir / ("plain" + name), pixels));
    pixels.icc = adobe;
    ASSERT_TRUE(test::WritePng(dir / ("adobe" + name), pixels));
    inputs.emplace_back(dir / ("adobe" + name), dir / ("plain" + name));
  }
  // The profile travels into the JPEG with the metadata.
  inputs.emplace_back(Convert(inputs[0].first, dir / "adobe.jpg", FourCC("jpeg"), 24),
                      Convert(inputs[0].second, dir / "plain.jpg", FourCC("jpeg"), 24));
  const fs::path out = dir / "out";
  for (const auto& [tagged, plain] : inputs) {
    for (int32_t rotation : {0, 90}) {
      for (int16_t depth : {24, 48}) {
        // In linear light the rows are matched first, then converted.
        const bool linear = (rotation == 90) != (depth == 48);
        SCOPED_TRACE(tagged.filename().string() + " /r " + std::to_string(rotation) + " /b " +
                     std::to_string(depth) + (linear ? " //linear" : ""));
        JobSettings job = Job(tagged, out, 19, 437);
        job.copyMetadata = false;
        job.rotation = rotation;
        job.filterSpace.linear = linear;
        job.exportSettings = {FourCC("tiff"), 0, depth, 1000};
        const Outcome reference = RunOnce(job, false);
        const Outcome streamed = RunOnce(job, true);
        EXPECT_EQ(streamed.result, noErr);
        EXPECT_TRUE(streamed.output == reference.output) << "the output files differ";
        job.inputPath = plain.string();
        EXPECT_FALSE(RunOnce(job, true).output == streamed.output) << "nothing was matched";
      }
    }
  }
  StopQuickTime();
}

TEST(StreamReference, LinearAndPremultipliedGiveTheReferenceBytes) {
  ASSERT_EQ(StartQuickTime(0), noErr);
  test::TempDir dir;
  const std::vector<Input> all = MakeInputs(dir);
  const fs::path out = dir / "out";
  const FilterSpace spaces[] = {{true, false}, {false, true}, {true, true}};
  int compared = 0;
  for (const Input& input : all) {
    // Every importer; the cut files fail alike with or without the option.
    if (input.name.find("cut") != std::string::npos) continue;
    for (int32_t vertical : {0, 4}) {
      for (int32_t rotation : {0, 90}) {
        for (int16_t depth : {32, 48, 64}) {
          const FilterSpace& space = spaces[compared++ % 3];
          SCOPED_TRACE(input.name + " /p " + (vertical ? "hwvp" : "") + " /r " +
                       std::to_string(rotation) + " /b " + std::to_string(depth) + " linear " +
                       std::to_string(space.linear) + " premultiplied " +
                       std::to_string(space.premultiply));
          JobSettings job = Job(input.path, out, 19, 437);
          job.horizontalEdge = vertical ? kEdgeWrap : kEdgeDefault;
          job.verticalEdge = EdgeMode(vertical);
          job.rotation = rotation;
          job.filterSpace = space;
          job.exportSettings = {FourCC("png "), 0, depth, 0};
          const Outcome reference = RunOnce(job, false);
          // The way the rows come is known before the resize is prepared:
          // its tables are built once, converted rows or not.
          const int64_t prepared = ResizesPrepared();
          const Outcome streamed = RunOnce(job, true);
          EXPECT_EQ(ResizesPrepared() - prepared, 1);
          EXPECT_EQ(reference.result, noErr);
          EXPECT_TRUE(streamed.output == reference.output) << "the output files differ";
        }
      }
    }
  }
  StopQuickTime();
}

// Pixel centres aligned: other tables (starts that lead the rows sooner,
// more taps), the same plan of source rows held and let go.
TEST(StreamReference, CentreAlignedGivesTheReferenceBytes) {
  ASSERT_EQ(StartQuickTime(0), noErr);
  test::TempDir dir;
  const std::vector<Input> inputs = MakeInputs(dir);
  const fs::path out = dir / "out";
  const int32_t edges[][2] = {{0, 0}, {3, 3}, {3, 4}};
  int compared = 0;
  for (const Input& input : inputs) {
    for (const auto& e : edges) {
      for (int32_t rotation : {0, 90}) {
        SCOPED_TRACE(input.name + " edges " + std::to_string(e[0]) + "/" + std::to_string(e[1]) +
                     " /r " + std::to_string(rotation));
        // Enlarging across and reducing down, the window of a //fill.
        JobSettings job = Job(input.path, out, 0, 0);
        job.boxRule = BoxRule::kFill;
        job.boxWidth = 31;
        job.boxHeight = 150;
        job.alignment = SampleAlignment::kCentres;
        job.horizontalEdge = EdgeMode(e[0]);
        job.verticalEdge = EdgeMode(e[1]);
        job.kernel = KernelKind(compared % 3);
        job.rotation = rotation;
        job.exportSettings = compared % 2 == 0 ? ExportSettings{FourCC("jpeg"), 0, 24, 900}
                                               : ExportSettings{FourCC("png "), 0, 64, 0};
        const Outcome reference = RunOnce(job, false);
        const Outcome streamed = RunOnce(job, true);
        EXPECT_EQ(streamed.result, reference.result);
        EXPECT_TRUE(streamed.output == reference.output) << "the output files differ";
        ++compared;
      }
    }
  }
  StopQuickTime();
}

// The rows beyond a pinched pole of an odd width are means of two stored
// pixels whichever way the source is read: a PNG read through a ring (whose
// rows are otherwise converted to working samples as they come) and the
// same pixels interlaced (read whole) give the same bytes; and an opaque
// image is premultiplied to the bytes it has without the option.
TEST(StreamReference, OddWidthPinchIsAlikeOnEveryReadingPath) {
  ASSERT_EQ(StartQuickTime(0), noErr);
  test::TempDir dir;
  const fs::path out = dir / "out";
  for (int32_t bits : {8, 16}) {
    test::PngPixels pixels = test::MakeTestPattern(25, 40, bits, 4);
    for (size_t i = 3; i < pixels.samples.size(); i += 4) {
      if (i % 3 == 0) pixels.samples[i] = uint16_t(i % (bits == 8 ? 256 : 65536));  // some alpha
    }
    test::PngPixels opaque = test::MakeTestPattern(25, 40, bits, 4);
    const fs::path plain = dir / "plain.png", interlaced = dir / "interlaced.png",
                   solid = dir / "opaque.png";
    ASSERT_TRUE(test::WritePng(plain, pixels));
    ASSERT_TRUE(test::WritePng(solid, opaque));
    pixels.interlaced = true;
    ASSERT_TRUE(test::WritePng(interlaced, pixels));
    for (const FilterSpace& space : {FilterSpace{true, false}, {false, true}, {true, true}}) {
      SCOPED_TRACE(std::to_string(bits) + " bits, linear " + std::to_string(space.linear) +
                   " premultiplied " + std::to_string(space.premultiply));
      JobSettings job = Job(plain, out, 17, 90);
      job.horizontalEdge = kEdgeWrap;
      job.verticalEdge = kEdgePinch;
      job.filterSpace = space;
      job.exportSettings = {FourCC("png "), 0, int16_t(bits == 8 ? 32 : 64), 0};
      const Outcome ring = RunOnce(job, true);
      job.inputPath = interlaced.string();
      const Outcome whole = RunOnce(job, true);
      ASSERT_EQ(ring.result, noErr);
      EXPECT_TRUE(ring.output == whole.output) << "the output files differ";
      if (!space.premultiply || space.linear) continue;
      job.inputPath = solid.string();
      const Outcome premultiplied = RunOnce(job, true);
      job.filterSpace = {};
      EXPECT_TRUE(premultiplied.output == RunOnce(job, true).output) << "opaque bytes changed";
    }
  }
  StopQuickTime();
}

}  // namespace

namespace {

// The sharpened rows reach the destination a row late: a ring of them, a
// whole buffer, the plain and the fast filters all give the same bytes.
TEST(StreamReference, SharpenedGivesTheReferenceBytesOnEveryLevel) {
  ASSERT_EQ(StartQuickTime(0), noErr);
  test::TempDir dir;
  const fs::path png8 = dir / "rgba8.png", png16 = dir / "rgba16.png";
  ASSERT_TRUE(test::WritePng(png8, test::MakeTestPattern(kWidth, kHeight, 8, 4)));
  ASSERT_TRUE(test::WritePng(png16, test::MakeTestPattern(kWidth, kHeight, 16, 4)));
  const fs::path out = dir / "out.png";
  for (const fs::path& input : {png8, png16}) {
    for (int16_t depth : {32, 48, 64}) {
      SCOPED_TRACE(input.filename().string() + " /b " + std::to_string(depth));
      JobSettings job = Job(input, out, 19, 337);
      job.exportSettings = {FourCC("png "), 0, depth, 0};
      const Outcome plain = RunOnce(job, true);
      job.sharpen = 256;
      const SimdLevel best = ResampleSimdLevel();
      SetResampleSimdLevel(kSimdNone);
      const Outcome reference = RunOnce(job, false);
      SetResampleSimdLevel(best);
      const Outcome streamed = RunOnce(job, true);
      EXPECT_EQ(reference.result, noErr);
      EXPECT_FALSE(reference.output == plain.output) << "nothing was sharpened";
      EXPECT_TRUE(streamed.output == reference.output) << "the output files differ";
    }
  }
  StopQuickTime();
}

}  // namespace
