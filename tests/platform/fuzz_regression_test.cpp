// Replays what the importer and animation fuzz targets found
// (tests/data/fuzz-regressions/import_*/, animation_*/) through the same read
// paths: each file must come back with a documented result code, quickly,
// whatever importer takes it.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "../../fuzz/animation_path.h"
#include "../../fuzz/import_path.h"
#include "codecs/png/png_chunks.h"
#include "platform/quicktime.h"
#include "test_support.h"

namespace fs = std::filesystem;

namespace {

std::vector<fs::path> RegressionFiles(const std::string& prefix) {
  std::vector<fs::path> files;
  for (const auto& folder : fs::directory_iterator(test::DataPath("fuzz-regressions"))) {
    if (!folder.is_directory() || folder.path().filename().string().rfind(prefix, 0) != 0) continue;
    for (const auto& entry : fs::directory_iterator(folder.path())) files.push_back(entry.path());
  }
  return files;
}

TEST(FuzzRegression, ImporterInputsGiveCleanResults) {
  ASSERT_EQ(StartQuickTime(0), noErr);
  const std::vector<fs::path> files = RegressionFiles("import_");
  ASSERT_FALSE(files.empty());
  for (const fs::path& file : files) {
    SCOPED_TRACE(file.string());
    const fuzz::ImportOutcome outcome = fuzz::ExerciseImporter(file.string());
    EXPECT_TRUE(fuzz::IsCleanImportOutcome(outcome))
        << "choose " << outcome.choose << " bounds " << outcome.bounds << " description "
        << outcome.description << " draw " << outcome.drawPreferred << "/" << outcome.draw32
        << " metadata " << outcome.metaData;
  }
  StopQuickTime();
}

TEST(FuzzRegression, AnimationInputsReadCleanly) {
  const std::vector<fs::path> files = RegressionFiles("animation_");
  ASSERT_FALSE(files.empty());
  for (const fs::path& file : files) {
    SCOPED_TRACE(file.string());
    const std::vector<uint8_t> bytes = test::ReadFileBytes(file);
    bool read = false;
    for (const ImporterCodec* codec : ImporterCodecs()) {
      if (codec->openAnimation == nullptr || !codec->sniff(bytes)) continue;
      EXPECT_TRUE(fuzz::ExerciseAnimation(*codec, bytes));
      read = true;
    }
    EXPECT_TRUE(read);
  }
}

TEST(FuzzRegression, PngChunkLengthsPastTheEndAreNotShown) {
  // The files found by the fuzzer: each is damaged at a chunk claiming far
  // more bytes than follow, so it reads as damaged, never as an image.
  ASSERT_EQ(StartQuickTime(0), noErr);
  for (const fs::path& file : RegressionFiles("import_png")) {
    SCOPED_TRACE(file.string());
    const fuzz::ImportOutcome outcome = fuzz::ExerciseImporter(file.string());
    EXPECT_EQ(outcome.choose, noErr);
    EXPECT_EQ(outcome.subtype, FourCC("PNG "));
    EXPECT_EQ(outcome.bounds, codecErr);
  }
  StopQuickTime();
}

TEST(FuzzRegression, PngCompleteChunksCutsAtTheFirstOverlongChunk) {
  // Signature (8), a 13-byte IHDR (25 with its frame), then a chunk of
  // stated length L: complete when L + 12 bytes follow offset 33.
  std::vector<uint8_t> png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  const uint8_t ihdr[8] = {0, 0, 0, 13, 'I', 'H', 'D', 'R'};
  png.insert(png.end(), ihdr, ihdr + 8);
  png.resize(33, 0);  // IHDR body and CRC
  const uint8_t text[8] = {0, 0, 0, 5, 't', 'E', 'X', 't'};
  png.insert(png.end(), text, text + 8);
  png.resize(33 + 8 + 5 + 4, 'x');  // exactly complete: 50 bytes
  EXPECT_EQ(PngCompleteChunks(png).size(), 50u);

  png.pop_back();  // one CRC byte short: the text chunk is not shown
  EXPECT_EQ(PngCompleteChunks(png).size(), 33u);

  png.push_back('x');
  png[33] = 0xFF;  // length 0xFF000005 in a 50-byte file
  EXPECT_EQ(PngCompleteChunks(png).size(), 33u);

  // A trailing partial header (fewer than 12 bytes) is left for libpng.
  png[33] = 0;
  png.insert(png.end(), {0, 0, 0});
  EXPECT_EQ(PngCompleteChunks(png).size(), 53u);
  // Image data that runs past the end is libpng's to read as far as it goes:
  // a file cut inside it still has a readable header.
  png[33 + 4] = 'I', png[33 + 5] = 'D', png[33 + 6] = 'A', png[33 + 7] = 'T';
  png[33] = 0xFF;
  EXPECT_EQ(PngCompleteChunks(png).size(), 53u);
  // Not even a signature: shown as it is.
  EXPECT_EQ(PngCompleteChunks(std::span(png).first(5)).size(), 5u);
}

}  // namespace
