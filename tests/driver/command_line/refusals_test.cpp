// Command lines the program refuses before it runs, because the run would
// destroy the original or mix the image with the dump, or because options
// contradict each other or do nothing: each is a check error (its line, the
// usage text, the error count as the status), the input stays as it was and
// nothing is written.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "test_support.h"

namespace fs = std::filesystem;

namespace {

// The usage text, as printed after the lines of a failed check.
std::string UsageText() {
  const std::string noWords =
      "No input file specified\nNo output file specified\nInsufficient size specification\n";
  const std::string err = test::RunTavrel({}).err;
  return err.compare(0, noWords.size(), noWords) == 0 ? err.substr(noWords.size()) : "";
}

const char kSameFile[] = "the output is the input file (//in-place replaces it)\n";
const char kOneStream[] = "The image and the metadata dump cannot both go to the standard output\n";

struct Refusal {
  std::vector<std::string> args;  // a.jpg is the input
  std::string line;
};

class Refusals : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::copy_file(test::DataPath("exif/Canon_40D.jpg"), dir_ / "a.jpg");
    fs::create_symlink("a.jpg", dir_ / "link.jpg");
    fs::create_hard_link(dir_ / "a.jpg", dir_ / "hard.jpg");
    original_ = test::ReadFileBytes(dir_ / "a.jpg");
  }
  test::RunResult Run(const std::vector<std::string>& args) {
    return test::RunTavrel(args, dir_.path().string());
  }
  int Entries() { return int(std::distance(fs::directory_iterator(dir_.path()), {})); }

  test::TempDir dir_;
  std::vector<uint8_t> original_;
};

TEST_F(Refusals, EachIsACheckErrorThatTouchesNothing) {
  const Refusal cases[] = {
      {{"/w", "100", "/o", "a.jpg", "a.jpg"}, std::string("Error: \"a.jpg\": ") + kSameFile},
      {{"/w", "100", "/o", "./a.jpg", "a.jpg"}, std::string("Error: \"./a.jpg\": ") + kSameFile},
      {{"/w", "100", "/o", "link.jpg", "a.jpg"}, std::string("Error: \"link.jpg\": ") + kSameFile},
      {{"/w", "100", "/o", "hard.jpg", "a.jpg"}, std::string("Error: \"hard.jpg\": ") + kSameFile},
      {{"/w", "100", "/o", "/dev/stdout", "/M", "-", "a.jpg"}, kOneStream},
      {{"/w", "100", "/o", "-", "/M", "/dev/stdout", "a.jpg"}, kOneStream},
      {{"/w", "100", "/o", "/dev/fd/1", "/M", "-", "a.jpg"}, kOneStream},
      {{"/w", "100", "//drop", "gps", "/o", "out.jpg", "a.jpg"},
       "Nothing to drop: //drop needs /m\n"},
      {{"/w", "100", "//keep", "icc", "/o", "out.jpg", "a.jpg"},
       "Nothing to keep: //keep needs /m\n"},
      {{"/w", "100", "//keep", "icc", "//drop", "gps", "/m", "/o", "out.jpg", "a.jpg"},
       "Conflicting metadata choice with //keep and //drop\n"},
      {{"/w", "100", "//json", "/o", "out.jpg", "a.jpg"},
       "Nothing to print as JSON: //json needs /M\n"},
      {{"/w", "100", "//crop", "attention", "/o", "out.jpg", "a.jpg"},
       "Nothing to crop: //crop needs //fill\n"},
      {{"//fit", "50", "50", "//fill", "60", "60", "/o", "out.jpg", "a.jpg"},
       "Redundant size specification with //fit and //fill\n"},
      {{"/w", "100", "//animated", "/o", "out.jpg", "a.jpg"},
       "JPEG holds no animation: //animated needs WebP or GIF output\n"},
      {{"/w", "100", "//animated", "/c", "auto", "/o", "out.tif", "a.jpg"},
       "TIFF holds no animation: //animated needs WebP or GIF output\n"},
      {{"/w", "100", "//animated", "/c", "heic", "/o", "out.heic", "a.jpg"},
       "HEIC holds no animation: //animated needs WebP or GIF output\n"},
      {{"/w", "100", "//sharpen", "0", "/o", "out.jpg", "a.jpg"},
       "Invalid argument for flag \"-sharpen\": \"0\"\n"},
      {{"/w", "100", "//sharpen", "4.01", "/o", "out.jpg", "a.jpg"},
       "Invalid argument for flag \"-sharpen\": \"4.01\"\n"},
      {{"/w", "100", "//sharpen", "//animated", "/c", "webp", "/o", "out.webp", "a.jpg"},
       "//sharpen sharpens still pictures: not with //animated\n"},
      {{"/w", "100", "//placeholder", "/o", "out.jpg", "a.jpg"},
       "Nowhere to put placeholders: //placeholder needs //report\n"},
  };
  const std::string usage = UsageText();
  ASSERT_FALSE(usage.empty());
  const int entries = Entries();
  for (const Refusal& c : cases) {
    SCOPED_TRACE(c.args[3] + " " + c.args[4]);
    const test::RunResult run = Run(c.args);
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, c.line + usage);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(test::ReadFileBytes(dir_ / "a.jpg"), original_);
    EXPECT_EQ(Entries(), entries) << "something was written";
  }
}

// //in-place asks for the replacement: the original becomes the output,
// metadata copied from it and all.
TEST_F(Refusals, InPlaceReplacesTheInput) {
  const test::RunResult run = Run({"//in-place", "/m", "/w", "60", "/o", "link.jpg", "a.jpg"});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_TRUE(fs::is_symlink(dir_ / "link.jpg"));
  const test::RunResult again = Run({"/v", "/m", "/w", "30", "/o", "b.jpg", "a.jpg"});
  EXPECT_NE(again.err.find("Resizing 60x41 to 30x21\n"), std::string::npos) << again.err;
}

// A dump file that cannot be opened falls back to the standard output only
// while the image does not go there.
TEST_F(Refusals, TheDumpNeverFallsBackIntoTheImage) {
  const test::RunResult run = Run({"/w", "100", "/M", "missing/d.txt", "/o", "-", "a.jpg"});
  EXPECT_EQ(run.status, 0) << run.err;
  ASSERT_GE(run.out.size(), 2u);
  EXPECT_EQ(run.out.substr(0, 2), "\xFF\xD8");
  EXPECT_EQ(run.out.find("Meta-data"), std::string::npos);
  const test::RunResult file = Run({"/w", "100", "/M", "missing/d.txt", "/o", "b.jpg", "a.jpg"});
  EXPECT_EQ(file.status, 0) << file.err;
  EXPECT_NE(file.out.find("Meta-data"), std::string::npos);
}

}  // namespace
