// Decoder warnings through the job: a camera JPEG with damaged entropy
// data, one whose end marker is missing, a PNG whose text chunk fails its
// CRC and a TIFF whose JPEG strip is damaged are decoded anyway; the job
// succeeds with the library's words in its facts and prints nothing more,
// and under //strict it fails its reading with codecErr and leaves no
// file, whether the encoder followed the decoder or waited for it. Also
// the colour facts a job states.
#include <gtest/gtest.h>
#include <zlib.h>

#include <filesystem>
#include <string>
#include <vector>

#include "driver/command_line/checks.h"
#include "driver/job/image_job.h"
#include "platform/quicktime.h"
#include "png_files.h"
#include "test_support.h"

namespace fs = std::filesystem;

namespace {

using Bytes = std::vector<uint8_t>;

const char* const kAdobe = "/usr/share/color/icc/compatibleWithAdobeRGB1998.icc";

// The first byte of the entropy-coded data after the first scan header.
size_t ScanStart(const Bytes& jpeg) {
  for (size_t i = 2; i + 4 < jpeg.size();) {
    const size_t length = size_t(jpeg[i + 2]) << 8 | jpeg[i + 3];
    if (jpeg[i + 1] == 0xDA) return i + 2 + length;
    i += 2 + length;
  }
  return jpeg.size();
}

// 40 bytes of the scan, half-way through, inverted (marker bytes spared).
Bytes Flipped(Bytes jpeg) {
  const size_t start = ScanStart(jpeg);
  const size_t at = start + (jpeg.size() - start) / 2;
  for (size_t i = at; i < at + 40; ++i) {
    if (jpeg[i] != 0xFF && jpeg[i - 1] != 0xFF) jpeg[i] ^= 0xFF;
  }
  return jpeg;
}

Bytes Put32(uint32_t v) {
  return {uint8_t(v >> 24), uint8_t(v >> 16), uint8_t(v >> 8), uint8_t(v)};
}

// The PNG with a tEXt chunk whose CRC is off by one bit, before its image data.
Bytes WithBadTextChunk(const Bytes& png) {
  const std::string body = std::string("Comment") + '\0' + "damaged";
  Bytes chunk = Put32(uint32_t(body.size()));
  chunk.insert(chunk.end(), {'t', 'E', 'X', 't'});
  chunk.insert(chunk.end(), body.begin(), body.end());
  const uLong crc = crc32(0, chunk.data() + 4, uInt(chunk.size() - 4)) ^ 1;
  const Bytes tail = Put32(uint32_t(crc));
  chunk.insert(chunk.end(), tail.begin(), tail.end());
  Bytes out = png;
  out.insert(out.begin() + 8 + 25, chunk.begin(), chunk.end());  // after IHDR
  return out;
}

struct JobRun {
  JobResult result;
  std::vector<fs::path> written;  // everything in the output folder
};

JobRun RunJob(const fs::path& in, const fs::path& outDir, bool strict, bool overlap,
              bool copyMetadata = false) {
  fs::remove_all(outDir);
  fs::create_directories(outDir);
  JobSettings s;
  s.inputPath = in.string();
  s.outputName = (outDir / "out.jpg").string();
  s.width = 100;
  s.copyMetadata = copyMetadata;
  s.strict = strict;
  std::vector<Note> notes;
  RunChecks(s, notes);
  EXPECT_EQ(s.errorCount, 0) << in;
  SetImageJobOverlap(overlap);
  JobRun run{RunImageJob(s), {}};
  SetImageJobOverlap(true);
  for (const auto& entry : fs::directory_iterator(outDir)) run.written.push_back(entry.path());
  return run;
}

struct Damaged {
  std::string name;
  fs::path path;
  std::string warning;  // what the library's words begin with
};

std::vector<Damaged> MakeDamaged(const test::TempDir& dir) {
  const Bytes camera = test::ReadFileBytes(test::DataPath("exif/gps_DSCN0010.jpg"));
  test::WriteFileBytes(dir / "flipped.jpg", Flipped(camera));
  test::WriteFileBytes(dir / "short.jpg", Bytes(camera.begin(), camera.end() - 2));
  EXPECT_TRUE(test::WritePng(dir / "clean.png", test::MakeTestPattern(120, 40, 8, 3)));
  test::WriteFileBytes(dir / "badcrc.png",
                       WithBadTextChunk(test::ReadFileBytes(dir / "clean.png")));
  // The one strip of a JPEG-compressed TIFF, 40 bytes of it inverted.
  Bytes tiff = test::ReadFileBytes(test::DataPath("formats/rgb8_jpeg.tif"));
  for (size_t i = 150; i < 190; ++i) {
    if (tiff[i] != 0xFF && tiff[i - 1] != 0xFF) tiff[i] ^= 0xFF;
  }
  test::WriteFileBytes(dir / "strip.tif", tiff);
  return {
      {"JPEG with 40 bytes flipped", dir / "flipped.jpg", "Corrupt JPEG data"},
      {"JPEG without its end marker", dir / "short.jpg", "Premature end of JPEG file"},
      {"PNG with a bad text chunk CRC", dir / "badcrc.png", "tEXt: CRC error"},
      {"TIFF with a damaged JPEG strip", dir / "strip.tif", "JPEGLib: Corrupt JPEG data"},
      {"clean camera JPEG", test::DataPath("exif/gps_DSCN0010.jpg"), ""},
      {"clean PNG", dir / "clean.png", ""},
  };
}

TEST(DecoderWarnings, AreFactsAndUnderStrictFailTheReadingLeavingNoFile) {
  ASSERT_EQ(StartQuickTime(0), noErr);
  test::TempDir dir;
  for (const Damaged& d : MakeDamaged(dir)) {
    for (bool overlap : {false, true}) {
      SCOPED_TRACE(d.name + (overlap ? ", overlapped" : ", in turn"));
      const JobRun plain = RunJob(d.path, dir / "out", false, overlap);
      EXPECT_EQ(plain.result.code, noErr);
      EXPECT_EQ(plain.written.size(), 1u);
      if (d.warning.empty()) {
        EXPECT_TRUE(plain.result.facts.warnings.empty());
      } else {
        ASSERT_FALSE(plain.result.facts.warnings.empty());
        EXPECT_EQ(plain.result.facts.warnings[0].rfind(d.warning, 0), 0u)
            << plain.result.facts.warnings[0];
      }

      const JobRun strict = RunJob(d.path, dir / "out", true, overlap);
      if (d.warning.empty()) {
        EXPECT_EQ(strict.result.code, noErr);
        continue;
      }
      EXPECT_EQ(strict.result.code, codecErr);
      EXPECT_EQ(strict.result.stage, kStageReading);
      EXPECT_TRUE(strict.written.empty()) << strict.written[0];
      EXPECT_TRUE(strict.result.facts.warnings.empty());
    }
  }
}

// The program says nothing of them; under //strict it prints the line a
// failed reading prints, with its status.
TEST(DecoderWarnings, LeaveTheStandardErrorAsItWas) {
  test::TempDir dir;
  const Bytes camera = test::ReadFileBytes(test::DataPath("exif/gps_DSCN0010.jpg"));
  test::WriteFileBytes(dir / "flipped.jpg", Flipped(camera));
  const std::string out = (dir / "o.jpg").string();
  const test::RunResult plain =
      test::RunTavrel({"/v", "/w", "100", "/o", out, "flipped.jpg"}, dir.path().string());
  EXPECT_EQ(plain.status, 0);
  EXPECT_EQ(plain.err,
            "Reading \"flipped.jpg\"\nResizing 640x480 to 100x75\nWriting \"" + out + "\"\n");
  const test::RunResult strict = test::RunTavrel(
      {"//strict", "/w", "100", "/o", out + ".strict", "flipped.jpg"}, dir.path().string());
  EXPECT_EQ(strict.status, 247);  // -8969's low byte
  EXPECT_EQ(strict.err, "Error code: \"flipped.jpg\": -8969\n");
  EXPECT_FALSE(fs::exists(out + ".strict"));
}

TEST(JobFacts, SayWhichProfileWasConvertedOrKept) {
  if (!fs::exists(kAdobe)) GTEST_SKIP() << kAdobe << " is missing";
  ASSERT_EQ(StartQuickTime(0), noErr);
  test::TempDir dir;
  test::PngPixels pixels = test::MakeTestPattern(120, 40, 8, 3);
  pixels.icc = test::ReadFileBytes(kAdobe);
  ASSERT_TRUE(test::WritePng(dir / "adobe.png", pixels));
  struct Case {
    const char* name;
    bool copyMetadata;
    bool converted;
    bool kept;
  };
  for (const Case& c :
       {Case{"without /m", false, true, false}, Case{"with /m", true, false, true}}) {
    SCOPED_TRACE(c.name);
    const JobRun run = RunJob(dir / "adobe.png", dir / "out", false, true, c.copyMetadata);
    ASSERT_EQ(run.result.code, noErr);
    const JobFacts& facts = run.result.facts;
    if (c.converted) {
      EXPECT_NE(facts.profileConvertedFrom.find("Adobe RGB"), std::string::npos)
          << facts.profileConvertedFrom;
    } else {
      EXPECT_EQ(facts.profileConvertedFrom, "");
    }
    EXPECT_EQ(facts.profileKept, c.kept);
  }
}

}  // namespace
