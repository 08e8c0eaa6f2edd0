// What a batch says of its work must be what it did: the report's size is
// the written file's, after the turns and the window; a shard takes the
// inputs at positions counted from 0, as a job index is.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "driver/batch/input_list.h"
#include "driver/png_files.h"
#include "test_support.h"

namespace {

// The number that follows "key": in the report's line (its first field of
// that name: the output's, which comes after the source's object).
int32_t ReportNumber(const std::string& line, const std::string& key) {
  const std::string field = "\"" + key + "\":";
  const size_t source = line.find("\"source\":");
  const size_t sourceEnd = line.find('}', source);
  const size_t at = line.find(field, sourceEnd == std::string::npos ? 0 : sourceEnd);
  if (at == std::string::npos) return -1;
  return std::stoi(line.substr(at + field.size()));
}

TEST(ReportSizes, AreTheWrittenFilesSize) {
  const test::TempDir dir;
  ASSERT_TRUE(test::WritePng(dir / "in.png", test::MakeTestPattern(40, 30, 8, 4)));
  const std::vector<std::vector<std::string>> cases = {
      {"/w", "8"},
      {"/w", "8", "/r", "90"},
      {"/h", "12", "/r", "-90"},
      {"//fill", "20", "10", "/r", "270"},
      {"//fit", "9", "30", "/r", "180"},
  };
  for (std::vector<std::string> args : cases) {
    args.insert(args.end(), {"//report", "-", "/c", "png", "/o", "out.png", "in.png"});
    const test::RunResult run = test::RunTavrel(args, dir.path().string());
    ASSERT_EQ(run.status, 0) << run.err;
    test::PngPixels written;
    ASSERT_TRUE(test::ReadPng(dir / "out.png", &written));
    EXPECT_EQ(ReportNumber(run.out, "width"), written.width) << args[1] << run.out;
    EXPECT_EQ(ReportNumber(run.out, "height"), written.height) << args[1] << run.out;
  }
}

TEST(Shards, TakeThePositionsCountedFromZero) {
  const std::vector<std::pair<size_t, bool>> ofShardZeroOfThree = {
      {0, true}, {1, false}, {2, false}, {3, true}, {6, true}, {7, false}};
  for (const auto& [position, taken] : ofShardZeroOfThree) {
    EXPECT_EQ(InShard(position, 0, 3), taken) << position;
  }
  EXPECT_TRUE(InShard(5, 2, 3));
  EXPECT_TRUE(InShard(4, 0, 1));
  EXPECT_FALSE(InShard(0, 1, 2));
}

}  // namespace
