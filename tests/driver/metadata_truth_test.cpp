// What the copied metadata says is so: each case a source, a command line
// and one field of the output as exiftool reads it, with its stored type.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "test_support.h"

namespace {

struct Case {
  const char* what;
  const char* source;  // under tests/data/exif
  std::vector<std::string> flags;
  const char* tag;
  const char* expected;  // exiftool's "-s2 -G6 -n -a" lines: [type] name: value
};

TEST(MetadataTruth, FieldsSayWhatIsSo) {
  const Case cases[] = {
      {"an orientation stored as a LONG is applied",
       "orientation_long_6.jpg",
       {"//upright", "/m", "/%", "100", "/o", "out.jpg"},
       "ExifImageWidth",
       "[int32u] ExifImageWidth: 40\n"},
      {"and the copy says upright, as a SHORT",
       "orientation_long_6.jpg",
       {"//upright", "/m", "/%", "100", "/o", "out.jpg"},
       "Orientation",
       "[int16u] Orientation: 1\n"},
      {"a SHORT pixel size becomes a LONG",
       "pixel_size_short.jpg",
       {"/m", "/%", "50", "/o", "out.jpg"},
       "ExifImageHeight",
       "[int32u] ExifImageHeight: 20\n"},
      {"an interoperability size above 16 bits is a LONG",
       "interop_short_70000_wide.png",
       {"/m", "/%", "100", "/c", "png", "/o", "out.png"},
       "RelatedImageWidth",
       "[int32u] RelatedImageWidth: 70000\n"},
      {"one that fits stays the SHORT it was",
       "interop_short_70000_wide.png",
       {"/m", "/w", "7000", "/h", "1", "/c", "tiff", "/o", "out.tif"},
       "RelatedImageWidth",
       "[int16u] RelatedImageWidth: 7000\n"},
      {"a PNG's second eXIf chunk adds nothing",
       "two_exif_chunks.png",
       {"/m", "/%", "100", "/c", "tiff", "/o", "out.tif"},
       "ExposureTime",
       "[rational64u] ExposureTime: 0.01666666667\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    test::TempDir dir;
    std::vector<std::string> args = c.flags;
    args.push_back(test::DataPath(std::string("exif/") + c.source).string());
    const test::RunResult run = test::RunTavrel(args, dir.path().string());
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err, "");
    const std::string output = (dir / c.flags[c.flags.size() - 1]).string();
    EXPECT_EQ(
        test::RunProgram({"exiftool", "-s2", "-G6", "-n", "-a", std::string("-") + c.tag, output})
            .out,
        c.expected);
  }
}

TEST(MetadataTruth, TheDumpReadsALongOrientationAsOneNumber) {
  test::TempDir dir;
  const test::RunResult run =
      test::RunTavrel({"/M", "-", "/%", "100", "/o", "out.jpg",
                       test::DataPath("exif/orientation_long_6.jpg").string()},
                      dir.path().string());
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_NE(run.out.find("                 Orientation [    4 bytes]: 6\n"), std::string::npos)
      << run.out;
}

}  // namespace

namespace {

// A JPEG XL is drawn with its codestream's orientation applied: an XMP
// orientation that still says 6 is not applied again, and a copy says the
// picture is upright.
TEST(MetadataTruth, AJpegXlDrawnUprightIsNotTurnedAgain) {
  test::TempDir dir;
  const std::string source = (dir / "in.jpg").string();
  test::WriteFileBytes(source, test::ReadFileBytes(test::DataPath("orientation/landscape_6.jpg")));
  ASSERT_EQ(test::RunProgram(
                {"exiftool", "-q", "-overwrite_original", "-n", "-XMP-tiff:Orientation=6", source})
                .status,
            0);
  const test::RunResult made = test::RunTavrel(
      {"/m", "/q", "101", "/c", "jxl", "/%", "100", "/o", "in.jxl", "in.jpg"}, dir.path().string());
  ASSERT_EQ(made.status, 0) << made.err;
  // The codestream's orientation alone says how the pixels lie.
  ASSERT_EQ(test::RunProgram({"exiftool", "-q", "-overwrite_original",
                              "-EXIF:Orientation=", (dir / "in.jxl").string()})
                .status,
            0);
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"/m", "//upright", "/c", "png", "/%", "100", "/o", "upright.png",
                                 "in.jxl"},
        {"/c", "png", "/%", "100", "/o", "plain.png", "in.jxl"}}) {
    const test::RunResult r = test::RunTavrel(args, dir.path().string());
    ASSERT_EQ(r.status, 0) << r.err;
  }
  auto field = [&](const char* tag, const char* name) {
    return test::RunProgram({"exiftool", "-s2", "-n", tag, (dir / name).string()}).out;
  };
  EXPECT_EQ(field("-ImageSize", "upright.png"), field("-ImageSize", "plain.png"));
  EXPECT_EQ(field("-XMP-tiff:Orientation", "upright.png"), "Orientation: 1\n");
}

}  // namespace
