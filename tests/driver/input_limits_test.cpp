// Input limits and the job's deadline. Every importer's input is refused by
// a limit one below what its headers say it costs, before any pixel memory
// is asked for, and goes through at exactly its cost; a deadline stops a
// still's rows and an animation's frames, leaving nothing behind. The
// deadline's clock is a seam that moves a second at every look, so that
// nothing here depends on the machine's speed.
#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <string>
#include <vector>

#include "base/deadline_seam.h"
#include "base/memory_limit_seam.h"
#include "driver/command_line/checks.h"
#include "driver/command_line/command_line.h"
#include "driver/job/image_job.h"
#include "jxl_animation_file.h"
#include "platform/quicktime.h"
#include "test_support.h"

namespace fs = std::filesystem;

namespace {

// Every output is 8 x 4, written as WebP (which keeps every frame).
constexpr uint64_t kOutputPixels = 8 * 4;

JobSettings Settings(const fs::path& in, const fs::path& out, bool animated,
                     const InputLimits& limits) {
  JobSettings s;
  s.inputPath = in.string();
  s.outputName = out.string();
  s.width = 8;
  s.height = 4;
  s.animated = animated;
  s.exportSettings.codec = FourCC("WEBP");
  s.limits = limits;
  std::vector<Note> notes;
  RunChecks(s, notes);
  EXPECT_EQ(s.errorCount, 0) << in;
  return s;
}

struct Ran {
  int32_t code = 0;
  uint64_t asks = 0;  // pixel memory asked for by the job
};

Ran RunCounted(const JobSettings& s) {
  const uint64_t before = PixelMemoryAsks();
  const int32_t code = RunImageJob(s).code;
  return {code, PixelMemoryAsks() - before};
}

// Three frames of 16 x 8, as a lossless JPEG XL animation.
fs::path JxlAnimation(const fs::path& dir) {
  test::JxlAnimation jxl;
  jxl.width = 16;
  jxl.height = 8;
  for (uint8_t shade : {0, 120, 250}) {
    jxl.frames.push_back({0, 0, 16, 8, 100, std::vector<uint8_t>(16 * 8 * 4, shade)});
  }
  const fs::path path = dir / "three.jxl";
  test::WriteFileBytes(path, test::EncodeJxlAnimation(jxl));
  return path;
}

TEST(InputLimits, EachLimitRefusesEveryFormatBeforeAnyPixelIsAllocated) {
  ASSERT_EQ(StartQuickTime(0), noErr);
  test::TempDir dir;
  struct Source {
    const char* format;
    fs::path path;
    uint64_t width, height, frames;  // as identify, webpmux and jxlinfo tell them
  };
  const Source sources[] = {
      {"JPEG", test::DataPath("codecs/gradient_baseline.jpg"), 48, 40, 1},
      {"PNG", test::DataPath("pngsuite/basn2c08.png"), 32, 32, 1},
      {"GIF", test::DataPath("formats/animated.gif"), 8, 6, 2},
      {"WebP", test::DataPath("formats/animated.webp"), 24, 16, 2},
      {"HEIF", test::DataPath("formats/rgb8.heic"), 24, 16, 1},
      {"JPEG XL", JxlAnimation(dir.path()), 16, 8, 3},
  };
  for (const Source& source : sources) {
    const uint64_t pixels = source.width * source.height;
    struct Limit {
      const char* name;
      uint64_t InputLimits::*field;
      uint64_t cost;
      int32_t code;
    };
    const Limit limits[] = {
        {"pixels", &InputLimits::pixels, pixels, kPixelLimitErr},
        {"frames", &InputLimits::frames, source.frames, kFrameLimitErr},
        {"work", &InputLimits::work, source.frames * (pixels + kOutputPixels), kWorkLimitErr},
        {"bytes", &InputLimits::bytes, fs::file_size(source.path), kByteLimitErr},
    };
    for (const Limit& limit : limits) {
      if (limit.cost == 1) continue;  // a limit of 0 is none
      SCOPED_TRACE(std::string(source.format) + ", " + limit.name);
      const fs::path out = dir / "out.webp";
      InputLimits below;
      below.*limit.field = limit.cost - 1;
      const Ran refused = RunCounted(Settings(source.path, out, true, below));
      EXPECT_EQ(refused.code, limit.code);
      EXPECT_EQ(refused.asks, 0u);
      EXPECT_FALSE(fs::exists(out));
      InputLimits at;
      at.*limit.field = limit.cost;
      const Ran passed = RunCounted(Settings(source.path, out, true, at));
      EXPECT_EQ(passed.code, noErr);
      EXPECT_GT(passed.asks, 0u);
      EXPECT_TRUE(fs::remove(out));
    }
  }
}

TEST(InputLimits, HeadersClaimingVastImagesAreRefusedUnasked) {
  ASSERT_EQ(StartQuickTime(0), noErr);
  test::TempDir dir;
  // What the canvas rules let through: they refuse a vast canvas only
  // where its first frame or data could not paint it.
  const char* bombs[] = {
      "limits/jpeg_65500x65500.jpg",         "limits/png_1000000x1000000.png",
      "limits/gif_8000x8000_two_pixels.gif", "hostile/largest_16384x16384_lossless.webp",
      "limits/heic_1000000x1000000.heic",    "limits/avif_1000000x1000000.avif",
      "limits/tiff_1000000x1000000.tif"};
  for (const char* bomb : bombs) {
    SCOPED_TRACE(bomb);
    const Ran run =
        RunCounted(Settings(test::DataPath(bomb), dir / "out.webp", true, ServiceLimits()));
    EXPECT_EQ(run.code, kPixelLimitErr);
    EXPECT_EQ(run.asks, 0u);
  }
}

// A refusal as the command line shows it: the limit's own line and status.
TEST(InputLimits, ARefusalSaysWhichLimitAndExitsWithItsCode) {
  test::TempDir dir;
  const std::string gif = test::DataPath("formats/animated.gif").string();
  const std::string wide = test::DataPath("limits/webp_16777216x1_canvas.webp").string();
  const std::string out = (dir / "out.webp").string();
  struct Case {
    std::vector<std::string> words;
    std::string in;
    int status;
    std::string line;
  } cases[] = {
      {{"//limit-pixels", "47"}, gif, 235, "more pixels than //limit-pixels allows (-8981)"},
      {{"//limit-frames", "1"}, gif, 234, "more frames than //limit-frames allows (-8982)"},
      {{"//limit-work", "159"}, gif, 233, "more work than //limit-work allows (-8983)"},
      {{"//limit-bytes", "75"}, gif, 232, "larger than //limit-bytes allows (-8984)"},
      // The height of 100 / 16777216 rounds to 0.
      {{"//limit-pixels", "50000000", "/w", "100"},
       wide,
       230,
       "an output side comes to less than one pixel (-8986)"},
  };
  for (const Case& c : cases) {
    std::vector<std::string> args = {"//animated", "/c", "webp", "/o", out};
    if (c.in == gif) args.insert(args.end(), {"/w", "8", "/h", "4"});
    args.insert(args.end(), c.words.begin(), c.words.end());
    args.push_back(c.in);
    const test::RunResult run = test::RunTavrel(args);
    EXPECT_EQ(run.status, c.status) << c.words[0];
    EXPECT_EQ(run.err, "Error \"" + c.in + "\": " + c.line + "\n");
    EXPECT_FALSE(fs::exists(out));
  }
  // A pipe has no size until it is read: it is counted then, before its pixels.
  const test::RunResult piped = test::RunProgram(
      {"sh", "-c",
       "cat \"$1\" | \"$0\" //animated /c webp /w 8 /h 4 /o \"$2\" //limit-bytes 75 /dev/stdin",
       TAVREL_BINARY, gif, out});
  EXPECT_EQ(piped.status, 232) << piped.err;
  EXPECT_FALSE(fs::exists(out));
}

// In a batch each input is measured alone and fails alone.
TEST(InputLimits, ABatchInputBeyondALimitFailsAlone) {
  test::TempDir dir;
  const std::string jpeg = test::DataPath("codecs/gradient_baseline.jpg").string();  // 1920 px
  const std::string png = test::DataPath("pngsuite/basn2c08.png").string();          // 1024 px
  const test::RunResult run = test::RunTavrel({"//each", "//limit-pixels", "1024", "/w", "8", "/o",
                                               (dir / "{name}.webp").string(), jpeg, png});
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.err, "Error \"" + jpeg + "\": more pixels than //limit-pixels allows (-8981)\n");
  EXPECT_FALSE(fs::exists(dir / "gradient_baseline.webp"));
  EXPECT_TRUE(fs::exists(dir / "basn2c08.webp"));
}

TEST(InputLimits, OnlyWholePositiveNumbersAreTaken) {
  struct Case {
    std::vector<std::string> words;
    int32_t errors;
    uint64_t pixels;
    double timeout;
  } cases[] = {
      {{"//limit-pixels", "18446744073709551615"}, 0, UINT64_MAX, 0},
      {{"//limit-pixels", "18446744073709551616"}, 1, 0, 0},
      {{"//limit-pixels", "0"}, 1, 0, 0},
      {{"//limit-pixels", "12x"}, 1, 0, 0},
      {{"//limit-pixels", "-5"}, 1, 0, 0},
      {{"//timeout", "2.5"}, 0, 0, 2.5},
      {{"//timeout", "0"}, 1, 0, 0},
      {{"//timeout", "1e3"}, 1, 0, 0},
  };
  for (const Case& c : cases) {
    JobSettings s;
    ScanWords(c.words, s);
    EXPECT_EQ(s.errorCount, c.errors) << c.words[0] << " " << c.words[1];
    EXPECT_EQ(s.limits.pixels, c.pixels) << c.words[1];
    EXPECT_EQ(s.limits.timeoutSeconds, c.timeout) << c.words[1];
  }
}

// The seam's clock: a second later at every look.
std::atomic<int64_t> ticks{0};
int64_t TickingClock() {
  return (ticks += 1'000'000'000);
}

// Whichever look the deadline passes at, the job stops there, names its
// input and leaves nothing behind; given looks enough, it writes what a job
// without a deadline writes.
TEST(Deadline, AJobStoppedAtAnyLookNamesItsInputAndLeavesNothing) {
  ASSERT_EQ(StartQuickTime(0), noErr);
  OverrideDeadlineClock(TickingClock);
  test::TempDir dir;
  struct Case {
    const char* what;
    fs::path in;
    bool animated;
  } cases[] = {
      {"a still's rows", test::DataPath("pngsuite/basn2c08.png"), false},
      {"a JPEG's rows", test::DataPath("codecs/gradient_baseline.jpg"), false},
      {"an animation's frames", test::DataPath("formats/animated.webp"), true},
      {"a GIF's frames", test::DataPath("formats/animated.gif"), true},
  };
  for (bool overlap : {true, false}) {
    SetImageJobOverlap(overlap);
    for (const Case& c : cases) {
      const fs::path out = dir / "out.webp";
      ASSERT_EQ(RunImageJob(Settings(c.in, out, c.animated, {})).code, noErr);
      const std::vector<uint8_t> undisturbed = test::ReadFileBytes(out);
      fs::remove(out);
      int32_t looks = 1;
      for (; looks < 1000; ++looks) {
        SCOPED_TRACE(std::string(c.what) + (overlap ? ", overlapped, " : ", in turn, ") +
                     std::to_string(looks));
        InputLimits limits;
        limits.timeoutSeconds = looks;  // passes at the looks-th look
        const JobResult result = RunImageJob(Settings(c.in, out, c.animated, limits));
        if (result.code == noErr) break;
        EXPECT_EQ(result.code, kTimedOutErr);
        EXPECT_EQ(result.stage, kStageReading);
        EXPECT_TRUE(fs::is_empty(dir.path()));  // no output, no temporary
      }
      EXPECT_GT(looks, 2) << c.what;  // stopped after the first look, too
      EXPECT_LT(looks, 1000) << c.what;
      EXPECT_EQ(test::ReadFileBytes(out), undisturbed) << c.what;
      EXPECT_TRUE(fs::remove(out)) << c.what;
    }
  }
  SetImageJobOverlap(true);
  OverrideDeadlineClock(nullptr);
}

}  // namespace
