#include "metadata/dump.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>

#include "meta_list.h"
#include "platform/graphics_import.h"
#include "platform/quicktime.h"
#include "test_support.h"

namespace {

namespace fs = std::filesystem;

// Runs the dump with the standard output sent to a temporary file and
// returns what it printed there.
std::string DumpToStandardOutput(const std::string& input, const std::string& dumpPath) {
  std::fflush(stdout);
  std::FILE* capture = std::tmpfile();
  const int saved = dup(fileno(stdout));
  dup2(fileno(capture), fileno(stdout));
  DumpMetaData(input, dumpPath);
  std::fflush(stdout);
  dup2(saved, fileno(stdout));
  close(saved);
  std::string text;
  std::rewind(capture);
  for (int c; (c = std::fgetc(capture)) != EOF;) text += char(c);
  std::fclose(capture);
  return text;
}

std::string ReadText(const fs::path& path) {
  const test::Bytes bytes = test::ReadFileBytes(path);
  return std::string(bytes.begin(), bytes.end());
}

// Whether the platform's importer delivers any item for the file; the dump
// of a file with items needs that.
bool ImporterReadsItems(const fs::path& path) {
  FSSpec spec;
  GraphicsImportComponent importer = nullptr;
  if (FSMakeFSSpec(path.string(), &spec) != noErr) return false;
  if (GetGraphicsImporterForFile(&spec, &importer) != noErr) return false;
  test::MetaList list;
  GraphicsImportGetMetaData(importer, list.get());
  CloseComponent(importer);
  return GetNextUserDataType(list.get(), 0) != 0;
}

class DumpMetaDataTest : public testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(StartQuickTime(0), noErr); }
  void TearDown() override { StopQuickTime(); }

  // No chunk but the image's own (basn0g08.png has a gAMA chunk, an item).
  const std::string plainPng_ = test::DataPath("pngsuite/f00n0g08.png").string();
  const fs::path canon_ = test::DataPath("exif/Canon_40D.jpg");
  test::TempDir dir_;
};

TEST_F(DumpMetaDataTest, InputWithoutItemsLeavesAnEmptyDumpFile) {
  const fs::path dump = dir_ / "dump.txt";
  EXPECT_EQ(DumpToStandardOutput(plainPng_, dump.string()), "");
  ASSERT_TRUE(fs::exists(dump));
  EXPECT_EQ(fs::file_size(dump), 0u);
}

TEST_F(DumpMetaDataTest, ExistingDumpFileIsTruncated) {
  const fs::path dump = dir_ / "dump.txt";
  test::WriteFileBytes(dump, {'o', 'l', 'd', '\n'});
  DumpMetaData(plainPng_, dump.string());
  EXPECT_EQ(fs::file_size(dump), 0u);
}

TEST_F(DumpMetaDataTest, UnreadableInputCreatesNoDumpFile) {
  const fs::path dump = dir_ / "dump.txt";
  EXPECT_EQ(DumpToStandardOutput((dir_ / "missing.png").string(), dump.string()), "");
  EXPECT_FALSE(fs::exists(dump));

  const fs::path notAnImage = dir_ / "notes.txt";
  test::WriteFileBytes(notAnImage, {'h', 'i'});
  EXPECT_EQ(DumpToStandardOutput(notAnImage.string(), dump.string()), "");
  EXPECT_FALSE(fs::exists(dump));
}

TEST_F(DumpMetaDataTest, InputWithoutItemsPrintsNothingToTheStandardOutput) {
  EXPECT_EQ(DumpToStandardOutput(plainPng_, "-"), "");
  EXPECT_EQ(DumpToStandardOutput(plainPng_, ""), "");
  EXPECT_TRUE(fs::is_empty(dir_.path()));
}

TEST_F(DumpMetaDataTest, CameraFileGoesToTheFileOrTheStandardOutput) {
  if (!ImporterReadsItems(canon_)) GTEST_SKIP() << "the JPEG importer reads no metadata yet";
  const std::string makeLine = test::Blanks(24) + "Make [    5 bytes]: Canon\n";

  const fs::path dump = dir_ / "dump.txt";
  EXPECT_EQ(DumpToStandardOutput(canon_.string(), dump.string()), "");
  const std::string inFile = ReadText(dump);
  EXPECT_TRUE(inFile.starts_with("\nMeta-data:\n"));
  EXPECT_TRUE(inFile.ends_with("\n\n"));
  EXPECT_NE(inFile.find(makeLine), std::string::npos);

  EXPECT_EQ(DumpToStandardOutput(canon_.string(), "-"), inFile);
  // A dump file that cannot be opened sends the dump to the standard output.
  EXPECT_EQ(DumpToStandardOutput(canon_.string(), (dir_ / "no/such/folder").string()), inFile);
}

}  // namespace
