// The format records are the one description of each format: every
// extension an exporter's record lists is found by "/c auto" and writes a
// file of that format.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <set>
#include <sstream>
#include <string>

#include "imageio/export.h"
#include "platform/codec.h"
#include "platform/quicktime.h"
#include "test_support.h"

namespace {

std::string Upper(std::string s) {
  for (char& c : s) c = char(std::toupper(uint8_t(c)));
  return s;
}

const ImporterCodec* ImporterOf(const ImageFormat* format) {
  for (const ImporterCodec* codec : ImporterCodecs()) {
    if (codec->format == format) return codec;
  }
  return nullptr;
}

TEST(FormatRecords, EveryExportedExtensionRoundTripsThroughCodecAuto) {
  ASSERT_EQ(StartQuickTime(0), noErr);
  test::TempDir dir;
  const std::string source = std::string(TAVREL_TEST_DATA) + "/pngsuite/basn2c08.png";
  std::set<std::string> claimed;
  for (const ExporterCodec* exporter : ExporterCodecs()) {
    const ImageFormat& format = *exporter->format;
    SCOPED_TRACE(format.name);
    std::istringstream words(format.extensions);
    std::string first;
    for (std::string extension; words >> extension;) {
      if (first.empty()) first = extension;
      EXPECT_TRUE(claimed.insert(extension).second) << extension << " claimed twice";
      EXPECT_EQ(CodecForFileName("dir.x/out." + extension), format.subtype) << extension;
      EXPECT_EQ(CodecForFileName("OUT." + Upper(extension)), format.subtype) << extension;
    }
    ASSERT_FALSE(first.empty()) << "an exporter without extensions";
    EXPECT_EQ(ExportFormat(format.subtype), &format);

    const std::string out = (dir / ("out." + first)).string();
    const test::RunResult run = test::RunTavrel({"/c", "auto", "/w", "8", "/o", out, source});
    ASSERT_EQ(run.status, 0) << run.err;
    const ImporterCodec* importer = ImporterOf(&format);
    ASSERT_NE(importer, nullptr);
    const std::vector<uint8_t> written = test::ReadFileBytes(out);
    EXPECT_TRUE(importer->sniff(written)) << out;
  }
  StopQuickTime();
}

}  // namespace
