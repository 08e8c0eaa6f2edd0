#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "metadata/dump.h"
#include "platform/quicktime.h"
#include "test_support.h"

namespace {

namespace fs = std::filesystem;

class JsonDumpTest : public testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(StartQuickTime(0), noErr); }
  void TearDown() override { StopQuickTime(); }
  test::TempDir dir_;
};

// Both dumps of each file, the readable one rebuilt from the JSON by a
// script that parses it: every item, label, size and value the same.
TEST_F(JsonDumpTest, HoldsEveryItemOfTheReadableDump) {
  if (std::system("python3 -c 'import json' 2>/dev/null") != 0) GTEST_SKIP() << "no python3";
  const char* files[] = {
      "exif/Canon_40D.jpg",   "exif/gps_DSCN0010.jpg",    "exif/Fujifilm_FinePix_E500.jpg",
      "exif/latin1_text.png", "exif/two_exif_chunks.png", "exif/xmp_BlueSquare.jpg",
      "pngsuite/f00n0g08.png"};
  const fs::path script = fs::path(TAVREL_TEST_DATA).parent_path() / "metadata/json_dump_check.py";
  for (const char* file : files) {
    SCOPED_TRACE(file);
    const std::string input = test::DataPath(file).string();
    const fs::path text = dir_ / "dump.txt", json = dir_ / "dump.json";
    ASSERT_EQ(DumpMetaData(input, text.string()), noErr);
    ASSERT_EQ(DumpMetaData(input, json.string(), DumpFallback::kStandardOutput, DumpStyle::kJson),
              noErr);
    const std::string command =
        "python3 '" + script.string() + "' '" + text.string() + "' '" + json.string() + "' >&2";
    EXPECT_EQ(std::system(command.c_str()), 0);
  }
}

}  // namespace
