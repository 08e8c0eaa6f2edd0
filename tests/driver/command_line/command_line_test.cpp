#include "driver/command_line/command_line.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "driver/job/process_state.h"
#include "resample/sharpen.h"
#include "test_support.h"

namespace {

struct Scanned {
  JobSettings settings;
  ScanOutcome outcome;
  std::string messages;  // every message note, in order
};

Scanned Scan(const std::vector<std::string>& words) {
  Scanned r;
  r.outcome = ScanWords(words, r.settings);
  for (const Note& n : r.outcome.notes) {
    if (n.kind == NoteKind::kMessage) r.messages += n.text;
  }
  return r;
}

TEST(ScanWordsTest, ArgumentsInTheSameWordOrTheNext) {
  EXPECT_EQ(Scan({"/w100"}).settings.width, 100);
  EXPECT_EQ(Scan({"/w", "100"}).settings.width, 100);

  Scanned vw = Scan({"/vw100"});
  EXPECT_TRUE(vw.outcome.verbose);
  EXPECT_EQ(vw.settings.width, 100);

  Scanned wv = Scan({"/w100v"});  // "v" belongs to the argument
  EXPECT_FALSE(wv.outcome.verbose);
  EXPECT_EQ(wv.settings.width, 100);

  // The next word is the argument whatever it begins with.
  Scanned dump = Scan({"/M", "-", "-h", "-7"});
  EXPECT_EQ(dump.settings.dumpTarget, "-");
  EXPECT_EQ(dump.settings.height, -7);

  Scanned combined = Scan({"-vm!", "/h", " +42px"});
  EXPECT_TRUE(combined.outcome.verbose);
  EXPECT_TRUE(combined.outcome.trace);
  EXPECT_TRUE(combined.settings.copyMetadata);
  EXPECT_EQ(combined.settings.height, 42);
  EXPECT_EQ(combined.settings.errorCount, 0);
  EXPECT_FALSE(combined.settings.inputPath);
}

TEST(ScanWordsTest, KernelLetterThenFurtherFlags) {
  Scanned kgv = Scan({"/kgv"});
  EXPECT_EQ(kgv.settings.kernel, kKernelGaussian);
  EXPECT_TRUE(kgv.outcome.verbose);

  Scanned split = Scan({"/k", "gv"});
  EXPECT_EQ(split.settings.kernel, kKernelGaussian);
  EXPECT_TRUE(split.outcome.verbose);
  EXPECT_FALSE(split.settings.inputPath);

  EXPECT_EQ(Scan({"/kG"}).settings.kernel, kKernelWideGaussian);
  EXPECT_EQ(Scan({"/kG", "-ks"}).settings.kernel, kKernelSinc);

  Scanned unknown = Scan({"/kGkxm"});
  EXPECT_EQ(unknown.messages, "Unknown kernel 'x'\n");
  EXPECT_EQ(unknown.settings.kernel, kKernelWideGaussian);
  EXPECT_TRUE(unknown.settings.copyMetadata);
  EXPECT_EQ(unknown.settings.errorCount, 0);

  Scanned last = Scan({"/k"});
  EXPECT_EQ(last.messages, "Expected argument for flag \"-k\"\n");
  EXPECT_EQ(last.settings.errorCount, 1);
}

TEST(ScanWordsTest, EdgeModes) {
  struct Case {
    const char* argument;
    int32_t horizontal, vertical;
  };
  for (Case c : {Case{"hv", 3, 3}, Case{"hp", 4, 0}, Case{"vx", 0, 3}, Case{"hpvw", 4, 3},
                 Case{"hwhp", 4, 0}, Case{"xyz", 0, 0}, Case{"vp", 0, 4}, Case{"hh", 3, 0}}) {
    Scanned s = Scan({"/p", c.argument});
    EXPECT_EQ(s.settings.horizontalEdge, c.horizontal) << c.argument;
    EXPECT_EQ(s.settings.verticalEdge, c.vertical) << c.argument;
  }
  EXPECT_EQ(Scan({"/phv"}).settings.verticalEdge, 3);
}

TEST(ScanWordsTest, CodecQualityAndDepth) {
  EXPECT_EQ(Scan({}).settings.exportSettings.codec, 0x6A706567u);  // "jpeg"
  EXPECT_EQ(Scan({"/c", "png"}).settings.exportSettings.codec, 0x706E6700u);
  EXPECT_EQ(Scan({"/c", "tiffx"}).settings.exportSettings.codec, 0x74696666u);
  EXPECT_EQ(Scan({"/cJPEG"}).settings.exportSettings.codec, 0x4A504547u);
  EXPECT_EQ(Scan({"/c", "j"}).settings.exportSettings.codec, 0x6A000000u);

  EXPECT_EQ(Scan({}).settings.exportSettings.quality, 768);
  EXPECT_EQ(Scan({"/q", "75"}).settings.exportSettings.quality, 767);
  EXPECT_EQ(Scan({"/q100"}).settings.exportSettings.quality, 1023);
  EXPECT_EQ(Scan({"/q", "-5"}).settings.exportSettings.quality, -51);  // -51.15 cut toward zero
  EXPECT_EQ(Scan({"/q", "101"}).settings.exportSettings.quality, 1033);
  EXPECT_EQ(Scan({"/q", "1e30"}).settings.exportSettings.quality,
            std::numeric_limits<int32_t>::max());
  EXPECT_EQ(Scan({"/q", "-1e300"}).settings.exportSettings.quality,
            std::numeric_limits<int32_t>::min());

  EXPECT_EQ(Scan({}).settings.exportSettings.depth, 24);
  EXPECT_EQ(Scan({"/b", "48"}).settings.exportSettings.depth, 48);
  EXPECT_EQ(Scan({"/b", "65584"}).settings.exportSettings.depth, 48);  // kept in 16 bits
}

TEST(ScanWordsTest, NumbersReadAsDecimalPrefixes) {
  EXPECT_EQ(Scan({"/w", "  -12abc"}).settings.width, -12);
  EXPECT_EQ(Scan({"/w", "abc"}).settings.width, 0);
  EXPECT_EQ(Scan({"/w", "+"}).settings.width, 0);
  EXPECT_EQ(Scan({"/w", "1.9"}).settings.width, 1);
  EXPECT_EQ(Scan({"/w", "2147483647"}).settings.width, 2147483647);
  EXPECT_EQ(Scan({"/w", "2147483648"}).settings.width, 2147483647);  // saturates
  EXPECT_EQ(Scan({"/w", "-2147483648"}).settings.width, -2147483647 - 1);
  EXPECT_EQ(Scan({"/w", "-99999999999999999999999"}).settings.width, -2147483647 - 1);
  EXPECT_EQ(Scan({"/r", "0x10"}).settings.rotation, 0);

  EXPECT_EQ(Scan({"/%", "50"}).settings.percentScale, 50.0f);
  EXPECT_EQ(Scan({"/%12.5e1x"}).settings.percentScale, 125.0f);
  EXPECT_EQ(Scan({"/%", " -.5"}).settings.percentScale, -0.5f);
  EXPECT_EQ(Scan({"/%", "7e"}).settings.percentScale, 7.0f);
  EXPECT_EQ(Scan({"/%", "."}).settings.percentScale, 0.0f);
  EXPECT_EQ(Scan({"/%", "inf"}).settings.percentScale, 0.0f);
  EXPECT_EQ(Scan({"/%", "0x20"}).settings.percentScale, 0.0f);
  EXPECT_EQ(Scan({"/%", "0.1"}).settings.percentScale, 0.1f);
  EXPECT_TRUE(std::isinf(Scan({"/%", "1e39"}).settings.percentScale));
  EXPECT_TRUE(std::isinf(Scan({"/%", "-1e999"}).settings.percentScale));
}

TEST(ScanWordsTest, UnknownFlagsAndInputNames) {
  Scanned z = Scan({"/z", "10", "20"});
  EXPECT_EQ(z.messages, "Unknown flag: -z\n");
  EXPECT_EQ(z.settings.errorCount, 1);
  EXPECT_EQ(z.settings.inputPath, "20");

  Scanned several = Scan({"-vxy", "a.png"});
  EXPECT_EQ(several.messages, "Unknown flag: -x\nUnknown flag: -y\n");
  EXPECT_EQ(several.settings.errorCount, 2);
  EXPECT_TRUE(several.outcome.verbose);

  Scanned lone = Scan({"-", "/", "b.png"});
  EXPECT_EQ(lone.settings.errorCount, 0);
  EXPECT_EQ(lone.messages, "");
  EXPECT_EQ(lone.settings.inputPath, "b.png");
}

TEST(ScanWordsTest, LongOptions) {
  Scanned width = Scan({"--resampleWidth", "300"});
  EXPECT_EQ(width.settings.width, 300);
  EXPECT_FALSE(width.settings.inputPath);

  Scanned both = Scan({"//resampleHeightWidth", "50", "80"});
  EXPECT_EQ(both.settings.height, 50);
  EXPECT_EQ(both.settings.width, 80);

  EXPECT_EQ(Scan({"-/resampleHeight", "9"}).settings.height, 9);
  EXPECT_EQ(Scan({"/-rotate", "-90"}).settings.rotation, -90);
  EXPECT_EQ(Scan({"//out", "o.png"}).settings.outputName, "o.png");

  // Filter spaces take no argument: the next word stays the input.
  Scanned linear = Scan({"//linear", "a.png"});
  EXPECT_TRUE(linear.settings.filterSpace.linear);
  EXPECT_FALSE(linear.settings.filterSpace.premultiply);
  EXPECT_EQ(linear.settings.inputPath, "a.png");
  Scanned premultiply = Scan({"--premultiply"});
  EXPECT_TRUE(premultiply.settings.filterSpace.premultiply);
  EXPECT_FALSE(premultiply.settings.filterSpace.linear);

  // So does the alignment; without it the corners are aligned.
  Scanned centre = Scan({"//centre", "a.png"});
  EXPECT_EQ(centre.settings.alignment, SampleAlignment::kCentres);
  EXPECT_EQ(centre.settings.inputPath, "a.png");
  EXPECT_EQ(linear.settings.alignment, SampleAlignment::kCorners);

  Scanned afterVerbose = Scan({"/v-out", "x.png"});
  EXPECT_TRUE(afterVerbose.outcome.verbose);
  EXPECT_EQ(afterVerbose.settings.outputName, "x.png");

  Scanned wrongCase = Scan({"--Out", "x"});
  EXPECT_EQ(wrongCase.messages, "Unknown flag: --Out\n");
  EXPECT_EQ(wrongCase.settings.errorCount, 0);
  EXPECT_EQ(wrongCase.settings.inputPath, "x");
  EXPECT_FALSE(wrongCase.settings.outputName);

  Scanned empty = Scan({"--"});
  EXPECT_EQ(empty.messages, "Unknown flag: --\n");
  EXPECT_EQ(empty.settings.errorCount, 0);
}

TEST(ScanWordsTest, MissingArguments) {
  Scanned o = Scan({"/o"});
  EXPECT_EQ(o.messages, "Expected argument for flag \"-o\"\n");
  EXPECT_EQ(o.settings.errorCount, 1);
  EXPECT_FALSE(o.settings.outputName);

  Scanned out = Scan({"--out"});
  EXPECT_EQ(out.messages, "Expected argument for flag \"-out\"\n");
  EXPECT_EQ(out.settings.errorCount, 1);
  EXPECT_EQ(out.settings.outputName, "");

  Scanned w = Scan({"/w", "5", "/q", "90", "/w"});
  EXPECT_EQ(w.settings.width, 0);
  EXPECT_EQ(w.settings.exportSettings.quality, 920);
  Scanned q = Scan({"/q"});
  EXPECT_EQ(q.settings.exportSettings.quality, 0);
  Scanned p = Scan({"/p", "h", "/p"});
  EXPECT_EQ(p.settings.horizontalEdge, kEdgeWrap);
  Scanned c = Scan({"/c", "png", "/c"});
  EXPECT_EQ(c.settings.exportSettings.codec, 0x706E6700u);

  Scanned pair = Scan({"/h", "3", "/w", "4", "//resampleHeightWidth", "50"});
  EXPECT_EQ(pair.messages, "Expected argument for flag \"-resampleHeightWidth\"\n");
  EXPECT_EQ(pair.settings.errorCount, 1);
  EXPECT_EQ(pair.settings.height, 3);
  EXPECT_EQ(pair.settings.width, 4);
  EXPECT_FALSE(pair.settings.inputPath);  // the one word left is consumed

  Scanned rotate = Scan({"/r", "90", "--rotate"});
  EXPECT_EQ(rotate.settings.rotation, 0);
  EXPECT_EQ(rotate.settings.errorCount, 1);
}

TEST(ScanWordsTest, UsageAndVersionKeepTheirPlaceAmongMessages) {
  Scanned s = Scan({"/z", "/?", "--help", "/Vy", "in.png"});
  ASSERT_EQ(s.outcome.notes.size(), 5u);
  EXPECT_EQ(s.outcome.notes[0].text, "Unknown flag: -z\n");
  EXPECT_EQ(s.outcome.notes[1].kind, NoteKind::kUsage);
  EXPECT_EQ(s.outcome.notes[2].kind, NoteKind::kUsage);
  EXPECT_EQ(s.outcome.notes[3].kind, NoteKind::kVersion);
  EXPECT_EQ(s.outcome.notes[4].text, "Unknown flag: -y\n");
  EXPECT_EQ(s.settings.errorCount, 2);
  EXPECT_EQ(s.settings.inputPath, "in.png");
}

TEST(ScanWordsTest, AbsolutePathsAgainstFlagWords) {
  test::TempDir dir;
  const std::string existing = (dir / "a.png").string();
  test::WriteFileBytes(existing, {1, 2, 3});
  const std::string missing = (dir / "missing.png").string();

  EXPECT_EQ(Scan({existing}).settings.inputPath, existing);
  EXPECT_EQ(Scan({missing}).settings.inputPath, missing);
  EXPECT_EQ(Scan({"/o", missing, existing}).settings.outputName, missing);
  EXPECT_TRUE(WordIsAbsoluteInputPath(dir.path().string() + "/sub"));
  EXPECT_FALSE(WordIsAbsoluteInputPath("/tmp"));  // a folder with no second slash is no input
  EXPECT_FALSE(WordIsAbsoluteInputPath("/nonexistent-top/a.png"));

  Scanned o = Scan({"/o/tmp/x.jpg"});
  EXPECT_EQ(o.settings.outputName, "/tmp/x.jpg");
  EXPECT_FALSE(o.settings.inputPath);

  Scanned out = Scan({"//out", "o.png"});
  EXPECT_EQ(out.settings.outputName, "o.png");
  EXPECT_FALSE(out.settings.inputPath);

  Scanned dev = Scan({"/dev"});  // a folder without a second slash: flags d, e, v
  EXPECT_EQ(dev.messages, "Unknown flag: -d\nUnknown flag: -e\n");
  EXPECT_TRUE(dev.outcome.verbose);
  EXPECT_FALSE(dev.settings.inputPath);

  Scanned w = Scan({"/w100/x"});  // "/w100" names no folder
  EXPECT_EQ(w.settings.width, 100);
}

TEST(ProgramNameTest, AfterLastBackslashElseSlash) {
  EXPECT_EQ(ProgramNameFromPath("C:\\tools\\tavrel.exe"), "tavrel.exe");
  EXPECT_EQ(ProgramNameFromPath("/usr/local/bin/tavrel"), "tavrel");
  EXPECT_EQ(ProgramNameFromPath("odd\\mix/name"), "mix/name");
  EXPECT_EQ(ProgramNameFromPath("tavrel"), "tavrel");
  EXPECT_EQ(ProgramNameFromPath("dir/"), "");
}

}  // namespace

namespace {

// "//sharpen": the next word is its amount only when it is a plain number.
TEST(ScanWordsTest, SharpenAmountIsTakenOnlyWhenItIsANumber) {
  const struct {
    std::vector<std::string> words;
    int32_t amount;
    const char* input;
  } cases[] = {
      {{"//sharpen"}, kSharpenDefault, nullptr},
      {{"//sharpen", "a.jpg"}, kSharpenDefault, "a.jpg"},
      {{"//sharpen", "0.5", "a.jpg"}, 128, "a.jpg"},
      {{"//sharpen", ".01", "2.jpg"}, 3, "2.jpg"},
      {{"//sharpen", "4"}, kSharpenMost, nullptr},
  };
  for (const auto& c : cases) {
    const Scanned r = Scan(c.words);
    EXPECT_EQ(r.settings.sharpen, c.amount) << c.words.back();
    EXPECT_EQ(r.settings.errorCount, 0);
    EXPECT_EQ(r.settings.inputPath.value_or("none"), c.input != nullptr ? c.input : "none");
  }
}

}  // namespace
