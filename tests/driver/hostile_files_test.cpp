// Hostile input files through the real program. Each ends in its documented
// outcome within bounded memory: the input check's error line and the usage
// text (status 1), the job's error line (its code as the status), or a
// complete image of the right size; never a crash, never an output file
// after a failure, never anything else on the standard error. The files
// are made here at run time or by tests/data/hostile/make_hostile.py.
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "png_files.h"
#include "test_support.h"

namespace fs = std::filesystem;

namespace {

// Runaway work on a file of a few kilobytes shows as memory touched (a canvas
// or chunk of the size a header claims); the sanitizers' shadow memory fits
// well inside the bound. A hang ends at the test's timeout.
constexpr int64_t kPeakLimitKiB = 1024 * 1024;
constexpr int kCodecError = -8969;
constexpr int kNoHandler = -2003;
constexpr int kNotEnoughMemory = -108;

fs::path Hostile(const std::string& name) {
  return test::DataPath("hostile/" + name);
}

std::vector<uint8_t> Cut(const std::vector<uint8_t>& bytes, size_t size) {
  return std::vector<uint8_t>(bytes.begin(), bytes.begin() + std::ptrdiff_t(size));
}

// The usage text, as printed after the lines of a failed check.
const std::string& UsageText() {
  static const std::string usage = [] {
    const std::string noWords =
        "No input file specified\nNo output file specified\nInsufficient size specification\n";
    std::string err = test::RunTavrel({}).err;
    return err.compare(0, noWords.size(), noWords) == 0 ? err.substr(noWords.size()) : "";
  }();
  return usage;
}

// One run of the program on input, writing out.png in a fresh folder.
class HostileRun {
 public:
  HostileRun(const fs::path& input, std::vector<std::string> flags = {"/w", "100", "/c", "png"}) {
    flags.insert(flags.end(), {"/o", Output().string(), input.string()});
    result_ = test::RunTavrel(flags, dir_.path().string());
    name_ = input.string();
  }
  // No extension: the codec is chosen by /c alone.
  fs::path Output() const { return dir_ / "out"; }

  // The input check failed: its line, the usage text, one error counted.
  void ExpectCheckError(int code) const {
    ExpectBounded();
    EXPECT_EQ(result_.status, 1) << name_;
    EXPECT_EQ(result_.err,
              "Error code: \"" + name_ + "\": " + std::to_string(code) + "\n" + UsageText())
        << name_;
    EXPECT_FALSE(fs::exists(Output())) << name_;
  }
  // The job failed while reading: one line, the code as the status.
  void ExpectReadError(int code) const {
    ExpectBounded();
    EXPECT_EQ(result_.status, code & 0xFF) << name_;
    const std::string line = code == kNotEnoughMemory
                                 ? "Error: not enough memory (-108)\n"
                                 : "Error code: \"" + name_ + "\": " + std::to_string(code) + "\n";
    EXPECT_EQ(result_.err, line) << name_;
    EXPECT_FALSE(fs::exists(Output())) << name_;
  }
  // The job succeeded: an image of the size asked for, nothing on stderr.
  test::PngPixels ExpectImage(int32_t width, int32_t height) const {
    ExpectBounded();
    EXPECT_EQ(result_.status, 0) << name_ << ": " << result_.err;
    EXPECT_EQ(result_.err, "") << name_;
    test::PngPixels pixels;
    EXPECT_TRUE(test::ReadPng(Output(), &pixels)) << name_;
    EXPECT_EQ(pixels.width, width) << name_;
    EXPECT_EQ(pixels.height, height) << name_;
    return pixels;
  }
  const test::RunResult& result() const { return result_; }

 private:
  void ExpectBounded() const { EXPECT_LT(result_.peakKiB, kPeakLimitKiB) << name_; }

  test::TempDir dir_;
  test::RunResult result_;
  std::string name_;
};

TEST(HostileFiles, EmptyFilesFoldersAndDevicesHoldNoImage) {
  test::TempDir dir;
  for (const char* name : {"empty.jpg", "empty.png", "empty.tif", "empty.webp", "empty.heic"}) {
    test::WriteFileBytes(dir / name, {});
    HostileRun(dir / name).ExpectCheckError(kNoHandler);
  }
  fs::create_directory(dir / "folder.jpg");
  HostileRun(dir / "folder.jpg").ExpectCheckError(kNoHandler);
  ASSERT_EQ(mkfifo((dir / "pipe.png").c_str(), 0600), 0);
  HostileRun(dir / "pipe.png").ExpectCheckError(kNoHandler);
  // Endless and empty devices are never read.
  HostileRun("/dev/zero").ExpectCheckError(kNoHandler);
  HostileRun("/dev/null").ExpectCheckError(kNoHandler);
}

enum class Outcome { kCheckError, kReadError, kImage };

struct TruncatedCase {
  const char* file;  // under tests/data
  size_t size;       // bytes kept
  Outcome outcome;
  int32_t width = 0;  // of the image, for kImage
  int32_t height = 0;
};

// A file cut inside its header fails the input check; one whose image data
// ends before its last row, or its last scan, fails the reading. Only the
// markers that close the data may be missing: JPEG's end of image, GIF's
// empty block and trailer.
TEST(HostileFiles, TruncatedFilesFailCleanly) {
  const TruncatedCase cases[] = {
      // 1037 bytes; the scan header is at 609, its data from 623 to 1035.
      {"codecs/gradient_baseline.jpg", 3, Outcome::kCheckError},
      {"codecs/gradient_baseline.jpg", 300, Outcome::kCheckError},
      {"codecs/gradient_baseline.jpg", 700, Outcome::kReadError},
      {"codecs/gradient_baseline.jpg", 933, Outcome::kReadError},
      {"codecs/gradient_baseline.jpg", 1035, Outcome::kImage, 48, 40},
      // 903 bytes; the first scan's data from 244, the last scan's header at 827.
      {"codecs/gradient_progressive.jpg", 200, Outcome::kCheckError},
      {"codecs/gradient_progressive.jpg", 451, Outcome::kReadError},
      {"codecs/gradient_progressive.jpg", 827, Outcome::kReadError},
      {"codecs/gradient_progressive.jpg", 901, Outcome::kImage, 48, 40},
      // 513 bytes, three rows of blocks; the first two end before 400.
      {"codecs/gradient_arithmetic.jpg", 400, Outcome::kReadError},
      // 145 bytes: IHDR to 33, IDAT data 57 to 129, IEND at 133.
      {"pngsuite/basn2c08.png", 20, Outcome::kCheckError},
      {"pngsuite/basn2c08.png", 100, Outcome::kReadError},
      {"pngsuite/basn2c08.png", 140, Outcome::kImage, 32, 32},
      {"pngsuite/basi0g08.png", 190, Outcome::kReadError},
      // The directory is at the end of these files: any cut loses it.
      {"formats/rgb8_none.tif", 4, Outcome::kCheckError},
      {"formats/rgb8_none.tif", 652, Outcome::kCheckError},
      {"formats/rgb8_lzw_bigendian.tif", 1545, Outcome::kCheckError},
      // 24 x 16, one macroblock row: nothing arrives before the end.
      {"formats/rgb_lossy.webp", 20, Outcome::kCheckError},
      {"formats/rgb_lossy.webp", 163, Outcome::kReadError},
      {"formats/rgb_lossless.webp", 132, Outcome::kReadError},
      {"formats/animated.webp", 305, Outcome::kReadError},
      // 64 bytes: the frame's data from 44 to 61, its terminator at 62.
      {"formats/interlaced.gif", 10, Outcome::kCheckError},
      {"formats/interlaced.gif", 48, Outcome::kReadError},
      {"formats/interlaced.gif", 55, Outcome::kReadError},
      {"formats/interlaced.gif", 62, Outcome::kImage, 20, 14},
      {"formats/rgb8.heic", 16, Outcome::kCheckError},
      {"formats/rgb8.heic", 486, Outcome::kCheckError},
      {"formats/rgb8.heic", 972, Outcome::kCheckError},
      {"formats/rgb8.avif", 276, Outcome::kCheckError},
      {"formats/rgb8.avif", 552, Outcome::kCheckError},
      // 405 and 443 bytes, the header within the first few.
      {"formats/rgb_lossless.jxl", 4, Outcome::kCheckError},
      {"formats/rgb_lossless.jxl", 200, Outcome::kReadError},
      {"formats/rgba_lossy.jxl", 300, Outcome::kReadError},
  };
  test::TempDir dir;
  for (const TruncatedCase& c : cases) {
    const std::vector<uint8_t> whole = test::ReadFileBytes(test::DataPath(c.file));
    ASSERT_LT(c.size, whole.size()) << c.file;
    const fs::path cut = dir / (fs::path(c.file).stem().string() + "_" + std::to_string(c.size) +
                                fs::path(c.file).extension().string());
    test::WriteFileBytes(cut, Cut(whole, c.size));
    SCOPED_TRACE(cut.filename().string());
    switch (c.outcome) {
      case Outcome::kCheckError:
        HostileRun(cut).ExpectCheckError(kCodecError);
        break;
      case Outcome::kReadError:
        HostileRun(cut).ExpectReadError(kCodecError);
        break;
      case Outcome::kImage:
        HostileRun(cut, {"/%", "100", "/c", "png"}).ExpectImage(c.width, c.height);
        break;
    }
  }
}

// A WebP large enough that its first rows decode before the data ends.
TEST(HostileFiles, TruncatedWebpFailsTheReading) {
  test::TempDir dir;
  ASSERT_TRUE(test::WritePng(dir / "in.png", test::MakeTestPattern(256, 256, 8, 3)));
  test::RunResult made = test::RunTavrel(
      {"/%", "100", "/c", "webp", "/q", "90", "/o", (dir / "whole.webp").string(), "in.png"},
      dir.path().string());
  ASSERT_EQ(made.status, 0) << made.err;
  const std::vector<uint8_t> whole = test::ReadFileBytes(dir / "whole.webp");
  test::WriteFileBytes(dir / "half.webp", Cut(whole, whole.size() / 2));

  HostileRun(dir / "half.webp").ExpectReadError(kCodecError);
}

// Random bytes behind each format's magic number are a codec error, found
// by the input check or by the read, never an image.
TEST(HostileFiles, RandomBytesBehindMagicNumbersAreCodecErrors) {
  const std::vector<std::vector<uint8_t>> magics = {
      {0xFF, 0xD8, 0xFF},
      {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'},
      {'I', 'I', 42, 0},
      {'M', 'M', 0, 42},
      {'R', 'I', 'F', 'F', 0xF0, 0xFF, 0, 0, 'W', 'E', 'B', 'P', 'V', 'P', '8', ' '},
      {'R', 'I', 'F', 'F', 0xF0, 0xFF, 0, 0, 'W', 'E', 'B', 'P', 'V', 'P', '8', 'L'},
      {'G', 'I', 'F', '8', '9', 'a'},
      {0, 0, 0, 24, 'f', 't', 'y', 'p', 'h', 'e', 'i', 'c', 0, 0, 0, 0},
      {0, 0, 0, 24, 'f', 't', 'y', 'p', 'a', 'v', 'i', 'f', 0, 0, 0, 0},
      {0xFF, 0x0A},
      {0, 0, 0, 12, 'J', 'X', 'L', ' ', '\r', '\n', 0x87, '\n'},
  };
  std::mt19937 random(20240607);
  test::TempDir dir;
  int index = 0;
  for (const std::vector<uint8_t>& magic : magics) {
    for (size_t length : {size_t(64), size_t(6000)}) {
      std::vector<uint8_t> bytes = magic;
      while (bytes.size() < length) bytes.push_back(uint8_t(random()));
      const fs::path file = dir / ("random" + std::to_string(index++));
      test::WriteFileBytes(file, bytes);
      HostileRun run(file);
      if (run.result().status == 1) {
        run.ExpectCheckError(kCodecError);
      } else {
        run.ExpectReadError(kCodecError);
      }
    }
  }
}

TEST(HostileFiles, HeadersClaimingHugeImagesAreRefusedAtOnce) {
  // PNG and TIFF stream through a few rows: their data ends at once, and
  // the resize stops with the reading.
  HostileRun(Hostile("huge_100000x100000.png")).ExpectReadError(kCodecError);
  HostileRun(Hostile("huge_100000x100000.tif")).ExpectReadError(kCodecError);
  // HEIF decodes whole images: 40 GB is refused before any of it is touched.
  HostileRun(Hostile("huge_100000x100000.heic")).ExpectReadError(kNotEnoughMemory);
  HostileRun(Hostile("huge_100000x100000.avif")).ExpectReadError(kNotEnoughMemory);
  // libwebp refuses canvases of 2^32 pixels or more itself.
  HostileRun(Hostile("huge_100000x100000_anim.webp")).ExpectCheckError(kCodecError);
  // 1 GB of pixels that a 34-byte file cannot fill: no pass over them.
  HostileRun(Hostile("largest_16384x16384_lossless.webp")).ExpectReadError(kCodecError);
}

// Screens and canvases of hundreds of millions of pixels around a tiny first
// frame, or a vast frame with a few hundred bytes of data: refused at the
// header, instead of gigabytes allocated, cleared and resized for minutes.
TEST(HostileFiles, CanvasesThatNoDataPaintsAreRefusedAtOnce) {
  for (const char* name :
       {"gif_screen_65535x65535_frame_1x1.gif", "gif_screen_20000x20000_frame_100x100.gif",
        "gif_frame_20000x20000_one_row.gif", "canvas_16383x16383_frame_1x1.webp"}) {
    HostileRun(Hostile(name)).ExpectCheckError(kCodecError);
  }
}

TEST(HostileFiles, CompressionBombWithinLimitsGivesTheImage) {
  // 2 KB of deflated rows that draw into 64 MB: legal, and all black.
  HostileRun run(Hostile("bomb_4096x4096_1bit.png"));
  const test::PngPixels pixels = run.ExpectImage(100, 100);
  for (size_t i = 0; i < pixels.samples.size(); ++i) {
    const bool alpha = pixels.channels == 4 && i % 4 == 3;
    ASSERT_EQ(pixels.samples[i], alpha ? 255 : 0) << "sample " << i;
  }
}

// Where the segment with marker (0xFF, marker) begins, from `from` on.
size_t FindSegment(const std::vector<uint8_t>& jpeg, uint8_t marker, size_t from = 2) {
  for (size_t i = from; i + 1 < jpeg.size(); ++i) {
    if (jpeg[i] == 0xFF && jpeg[i + 1] == marker) return i;
  }
  ADD_FAILURE() << "no marker " << int(marker);
  return 0;
}

// libjpeg warns about damage, then stops with a fatal error before any row
// is decoded: a failed reading, whole source or streamed, never an image of
// rows that were never decoded.
TEST(HostileFiles, JpegsThatFailAfterAWarningBeforeAnyRowAreCodecErrors) {
  test::TempDir dir;
  // Sequential: a scan that claims to start at coefficient 1 (a warning),
  // then a DC table with a symbol above 15 (fatal when the scan starts).
  std::vector<uint8_t> sequential =
      test::ReadFileBytes(test::DataPath("codecs/gradient_baseline.jpg"));
  // The first table is luma's DC table.
  const size_t dht = FindSegment(sequential, 0xC4);
  ASSERT_EQ(sequential[dht + 4], 0x00);
  sequential[dht + 4 + 17] = 0x20;
  const size_t sos = FindSegment(sequential, 0xDA);
  sequential[sos + 5 + 2 * sequential[sos + 4]] = 1;
  test::WriteFileBytes(dir / "sequential.jpg", sequential);
  // Progressive: stray bytes after the first scan (a warning), then a
  // second frame header (fatal), both read before the first row.
  std::vector<uint8_t> progressive =
      test::ReadFileBytes(test::DataPath("codecs/gradient_progressive.jpg"));
  const size_t sof = FindSegment(progressive, 0xC2);
  const std::vector<uint8_t> frame(
      progressive.begin() + std::ptrdiff_t(sof),
      progressive.begin() +
          std::ptrdiff_t(sof + 2 + (progressive[sof + 2] << 8 | progressive[sof + 3])));
  std::vector<uint8_t> stray = {0x12, 0x34};
  stray.insert(stray.end(), frame.begin(), frame.end());
  const size_t second = FindSegment(progressive, 0xDA, FindSegment(progressive, 0xDA) + 2);
  progressive.insert(progressive.begin() + std::ptrdiff_t(second), stray.begin(), stray.end());
  test::WriteFileBytes(dir / "progressive.jpg", progressive);

  for (const char* name : {"sequential.jpg", "progressive.jpg"}) {
    // Streamed; and whole (vertical wrapping and a turn need both buffers whole).
    HostileRun(dir / name).ExpectReadError(kCodecError);
    HostileRun(dir / name, {"/w", "100", "/p", "vw", "/r", "90", "/c", "png"})
        .ExpectReadError(kCodecError);
  }
}

TEST(HostileFiles, ThousandsOfProgressiveScansAreRefused) {
  HostileRun(Hostile("progressive_3000_scans.jpg")).ExpectReadError(kCodecError);
}

// An 8 x 8 grey ramp behind each broken directory structure; the first
// directory is the image, and the loops are neither followed for ever nor
// a reason to fail, also when the metadata is copied and printed.
TEST(HostileFiles, LoopingAndOutOfRangeTiffDirectories) {
  for (const char* name : {"tiff_ifd_self_loop.tif", "tiff_ifd_two_loop.tif",
                           "tiff_exif_and_subifd_loop.tif", "tiff_ifds_past_end.tif"}) {
    for (bool metadata : {false, true}) {
      std::vector<std::string> flags = {"/%", "100", "/c", "png"};
      if (metadata) flags.insert(flags.end(), {"/m", "/M", "-"});
      HostileRun run(Hostile(name), flags);
      const test::PngPixels pixels = run.ExpectImage(8, 8);
      for (int32_t y = 0; y < pixels.height; ++y) {
        for (int32_t x = 0; x < pixels.width; ++x) {
          // At the same size the filter keeps each sample within one step.
          ASSERT_NEAR(pixels.At(y, x)[0], (x + y) * 16, 1) << name << " at " << x << ", " << y;
        }
      }
    }
  }
  HostileRun(Hostile("tiff_ifd0_past_end.tif")).ExpectCheckError(kCodecError);
  HostileRun(Hostile("tiff_ifd_huge_count.tif")).ExpectCheckError(kCodecError);
}

// Strips that libtiff would read from the file's header, or from the same
// few bytes for each of thousands of rows, are damage, found before any
// row is decoded.
TEST(HostileFiles, TiffStripsTheFileDoesNotHoldAreCodecErrors) {
  for (const char* name : {"tiff_strip_past_end.tif", "tiff_strips_missing_1048616_rows.tif",
                           "tiff_strips_repeated_4000_rows.tif"}) {
    HostileRun(Hostile(name)).ExpectReadError(kCodecError);
  }
}

// Broken Exif blocks in a sound JPEG lose their metadata, never the image:
// the job succeeds copying the metadata into JPEG and PNG, and printing it.
TEST(HostileFiles, BrokenExifBlocksStillGiveTheImage) {
  for (const char* name :
       {"exif_loops.jpg", "exif_chain_loop.jpg", "exif_huge_counts.jpg",
        "exif_offsets_past_end.jpg", "exif_thumbnail_past_end.jpg", "exif_ifd0_past_end.jpg"}) {
    HostileRun png(Hostile(name), {"/%", "100", "/c", "png", "/m", "/M", "-"});
    png.ExpectImage(48, 40);

    HostileRun jpeg(Hostile(name), {"/%", "100", "/m", "/M", "-"});
    EXPECT_EQ(jpeg.result().status, 0) << name << ": " << jpeg.result().err;
    EXPECT_EQ(jpeg.result().err, "") << name;
    const std::vector<uint8_t> written = test::ReadFileBytes(jpeg.Output());
    ASSERT_GE(written.size(), 3u) << name;
    EXPECT_EQ(written[0], 0xFF);
    EXPECT_EQ(written[1], 0xD8);
  }
}

// A Photoshop resource: signature, id, Pascal name padded to even, size
// (the data's unless given) and the data padded to even.
std::string Resource(const char* signature, uint16_t id, const std::string& name,
                     const std::string& data, int64_t size = -1) {
  std::string r = std::string(signature, 4) + char(id >> 8) + char(id & 0xFF);
  r += char(name.size()) + name + (name.size() % 2 == 0 ? std::string(1, '\0') : "");
  const auto stated = uint32_t(size < 0 ? int64_t(data.size()) : size);
  for (int shift : {24, 16, 8, 0}) r += char(stated >> shift);
  return r + data + (data.size() % 2 != 0 ? std::string(1, '\0') : "");
}

// The joined Photoshop blocks of a JPEG file's header segments.
std::string PhotoshopBlockOf(const std::vector<uint8_t>& jpeg) {
  const std::string header("Photoshop 3.0\0", 14);
  std::string block;
  for (size_t at = 2; at + 4 <= jpeg.size() && jpeg[at] == 0xFF && jpeg[at + 1] != 0xDA;) {
    const size_t length = size_t(jpeg[at + 2]) << 8 | jpeg[at + 3];
    const std::string body(jpeg.begin() + long(at) + 4,
                           jpeg.begin() + long(std::min(jpeg.size(), at + 2 + length)));
    if (jpeg[at + 1] == 0xED && body.starts_with(header)) block += body.substr(header.size());
    at += 2 + length;
  }
  return block;
}

// Photoshop blocks that exiv2 refuses or that do not hold together never
// fail the copy into JPEG: the image is written with the block whole, or
// without it.
TEST(HostileFiles, PhotoshopBlocksNeverFailTheCopy) {
  const std::string resolution("\0\x48\0\0\0\1\0\1\0\x48\0\0\0\1\0\1", 16);
  const std::string iptc(
      "\x1C\x02\x78\0\x07"
      "caption",
      12);
  const std::string slices = Resource("8BIM", 0x03ED, "", resolution);
  const std::string imageReady = Resource("MeSa", 0x1B58, "", std::string("\0\0\0\1", 4));
  struct Case {
    const char* what;
    std::string block;
    bool whole;
  };
  const Case cases[] = {
      {"an ImageReady resource", slices + imageReady, true},
      {"a 255-character name", Resource("8BIM", 0x03ED, std::string(255, 'n'), resolution), true},
      {"IPTC records beside an ImageReady resource",
       Resource("8BIM", 0x0404, "", iptc) + imageReady, true},
      {"a size past the block", slices + Resource("8BIM", 0x0424, "", "abcd", 4000), false},
      {"a resource cut in its header", slices + "8BIM\x04", false},
      {"a signature that is none", slices + "XXXX" + std::string(12, '\0'), false},
  };
  const std::vector<uint8_t> plain =
      test::ReadFileBytes(test::DataPath("codecs/gradient_baseline.jpg"));
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string body = "Photoshop 3.0" + std::string(1, '\0') + c.block;
    const std::string segment =
        std::string("\xFF\xED") + char((body.size() + 2) >> 8) + char(body.size() + 2) + body;
    std::vector<uint8_t> jpeg = plain;
    jpeg.insert(jpeg.begin() + 2, segment.begin(), segment.end());
    test::TempDir dir;
    test::WriteFileBytes(dir / "in.jpg", jpeg);
    HostileRun run(dir / "in.jpg", {"/%", "100", "/m"});
    EXPECT_EQ(run.result().status, 0) << run.result().err;
    EXPECT_EQ(run.result().err, "");
    const std::vector<uint8_t> written = test::ReadFileBytes(run.Output());
    ASSERT_GE(written.size(), 2u);
    EXPECT_EQ(written[1], 0xD8);
    EXPECT_EQ(PhotoshopBlockOf(written), c.whole ? c.block : "");
  }
}

}  // namespace
