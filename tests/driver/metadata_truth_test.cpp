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
