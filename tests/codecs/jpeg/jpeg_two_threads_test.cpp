// A JPEG decoded on two threads (in bands, or with the entropy stage) gives
// the serial decode's pixels, warnings and result, from memory and from the
// open file, at every scale.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "base/output_geometry.h"
#include "codecs/codec_test_util.h"
#include "codecs/jpeg/jpeg_bands.h"
#include "codecs/jpeg/jpeg_entropy_stage.h"
#include "platform/codec.h"
#include "platform/decode_warnings.h"
#include "test_support.h"

namespace {

const ImporterCodec& JpegImporter() {
  return *ImporterCodecs().at(0);
}

struct Drawn {
  OSErr err = noErr;
  std::vector<uint8_t> pixels;
  std::vector<std::string> warnings;
};

// Draws path at 1/scale with the threads given, from memory or the file.
Drawn Draw(const std::string& path, int32_t scale, int32_t threads, bool fromFile) {
  Drawn d;
  const std::vector<uint8_t> file = test::ReadFileBytes(path);
  const ByteSpan bytes(file.data(), file.size());
  ImageHeader header;
  d.err = JpegImporter().readHeader(bytes, &header);
  if (d.err != noErr) return d;
  test::OwnedGWorld image = test::MakeGWorld(k32ARGBPixelFormat, DecodedSide(header.width, scale),
                                             DecodedSide(header.height, scale));
  RowBand rows;
  rows.AttachWhole(PixelViewOf(image.get()), false);
  const DrawRequest request{&rows, nullptr, scale, threads};
  {
    const DecodeWarningCollection collection(&d.warnings);
    if (fromFile) {
      const int fd = ::open(path.c_str(), O_RDONLY);
      d.err = JpegImporter().drawFromFile(fd, file.size(), request);
      ::close(fd);
    } else {
      d.err = JpegImporter().draw(bytes, request);
    }
  }
  const PixelView view = PixelViewOf(image.get());
  for (int32_t y = 0; y < view.height; ++y) {
    const uint8_t* row = view.base + y * view.rowBytes;
    d.pixels.insert(d.pixels.end(), row, row + 4 * view.width);
  }
  return d;
}

struct SplitCase {
  const char* name;
  std::vector<std::string> make;  // the program's words, OUT the file made
  bool banded;                    // the band path must decode it to the end
  bool staged;                    // so must the entropy stage
};

// Which two-thread path decoded a file to the end.
struct Taken {
  bool banded = false;
  bool staged = false;
};

// Draws path at 1/scale on one thread and on two: the same result, warnings
// and pixels.
Taken ExpectSplitEqualsSerial(const std::string& path, int32_t scale, bool fromFile) {
  SCOPED_TRACE(path + " at 1/" + std::to_string(scale) + (fromFile ? " from file" : ""));
  const Drawn serial = Draw(path, scale, 1, fromFile);
  const int64_t bandsBefore = JpegImagesDecodedInBands();
  const int64_t stagedBefore = JpegImagesDecodedWithEntropyStage();
  const Drawn split = Draw(path, scale, 2, fromFile);
  EXPECT_EQ(split.err, serial.err);
  EXPECT_EQ(split.warnings, serial.warnings);
  EXPECT_TRUE(split.pixels == serial.pixels);
  return {JpegImagesDecodedInBands() > bandsBefore,
          JpegImagesDecodedWithEntropyStage() > stagedBefore};
}

// Edits a file's bytes in place.
template <typename Edit>
void EditFile(const std::string& path, Edit edit) {
  std::vector<uint8_t> bytes = test::ReadFileBytes(path);
  edit(&bytes);
  test::WriteFileBytes(path, bytes);
}

// Flips bits inside the entropy data, away from any marker.
void Damage(std::vector<uint8_t>* bytes) {
  std::vector<uint8_t>& b = *bytes;
  for (size_t at = b.size() * 2 / 3; at < b.size() * 2 / 3 + 40; ++at) {
    if (b[at] != 0xFF && b[at - 1] != 0xFF && b[at] < 0xF0) b[at] ^= 0x2C;
  }
}

TEST(JpegTwoThreads, EqualTheSerialDecode) {
  test::TempDir dir;
  const std::string cwd = dir.path().string();
  auto run = [&](std::vector<std::string> argv) {
    ASSERT_EQ(test::RunProgram(argv, cwd).status, 0) << argv.front() << " " << argv.back();
  };
  // 1920x1440 (the 640x480 photo enlarged): bands of 32 or 64 rows of
  // MCUs where chroma is upsampled vertically leave at least two.
  run({"convert", test::DataPath("exif/gps_DSCN0010.jpg").string(), "-resize", "300%",
       "photo.ppm"});
  run({"cjpeg", "-sample", "2x2", "-outfile", "420.jpg", "photo.ppm"});
  run({"convert", "photo.ppm", "-colorspace", "CMYK", "cmyk.jpg"});
  const SplitCase cases[] = {
      {"baseline", {"cjpeg", "-outfile", "OUT", "photo.ppm"}, false, true},
      {"444", {"cjpeg", "-sample", "1x1", "-outfile", "OUT", "photo.ppm"}, false, true},
      {"422", {"cjpeg", "-sample", "2x1", "-outfile", "OUT", "photo.ppm"}, false, true},
      {"grey", {"cjpeg", "-grayscale", "-outfile", "OUT", "photo.ppm"}, false, true},
      {"cmyk_plain", {"cp", "cmyk.jpg", "OUT"}, false, true},
      {"optimized",
       {"cjpeg", "-optimize", "-quality", "97", "-outfile", "OUT", "photo.ppm"},
       false,
       true},
      {"fill_before_end", {"cp", "420.jpg", "OUT"}, false, true},
      {"bytes_before_end", {"cp", "420.jpg", "OUT"}, false, false},
      {"no_end_marker", {"cp", "420.jpg", "OUT"}, false, false},
      {"marker_in_scan", {"cp", "420.jpg", "OUT"}, false, false},
      {"damaged_baseline", {"cp", "420.jpg", "OUT"}, false, false},
      {"truncated_baseline", {"cp", "420.jpg", "OUT"}, false, false},
      {"progressive",
       {"jpegtran", "-progressive", "-restart", "1", "-outfile", "OUT", "420.jpg"},
       false,
       false},
      {"420_mcu", {"jpegtran", "-restart", "1B", "-outfile", "OUT", "420.jpg"}, true, false},
      {"420_4mcus", {"jpegtran", "-restart", "4B", "-outfile", "OUT", "420.jpg"}, true, false},
      {"420_row", {"jpegtran", "-restart", "1", "-outfile", "OUT", "420.jpg"}, true, false},
      {"420_3rows", {"jpegtran", "-restart", "3", "-outfile", "OUT", "420.jpg"}, true, false},
      // 120 MCUs a row: 7 rows from one row start to the next.
      {"420_7mcus", {"jpegtran", "-restart", "7B", "-outfile", "OUT", "420.jpg"}, false, false},
      {"422_mcu",
       {"cjpeg", "-sample", "2x1", "-restart", "1B", "-outfile", "OUT", "photo.ppm"},
       true,
       false},
      {"444_row",
       {"cjpeg", "-sample", "1x1", "-restart", "1", "-outfile", "OUT", "photo.ppm"},
       true,
       false},
      {"440_row",
       {"cjpeg", "-sample", "1x2", "-restart", "1", "-outfile", "OUT", "photo.ppm"},
       true,
       false},
      {"grey_mcu",
       {"cjpeg", "-grayscale", "-restart", "1B", "-outfile", "OUT", "photo.ppm"},
       true,
       false},
      {"cmyk_row", {"jpegtran", "-restart", "1", "-outfile", "OUT", "cmyk.jpg"}, true, false},
      {"arithmetic",
       {"jpegtran", "-arithmetic", "-restart", "1", "-outfile", "OUT", "420.jpg"},
       false,
       false},
      {"arithmetic_plain", {"jpegtran", "-arithmetic", "-outfile", "OUT", "420.jpg"}, false, false},
      {"damaged", {"jpegtran", "-restart", "1B", "-outfile", "OUT", "420.jpg"}, false, false},
      {"truncated", {"jpegtran", "-restart", "1", "-outfile", "OUT", "420.jpg"}, false, false},
      {"marker_swapped", {"jpegtran", "-restart", "1", "-outfile", "OUT", "420.jpg"}, false, false},
  };
  const auto beforeEnd = [](std::vector<uint8_t> insert) {
    return [insert](std::vector<uint8_t>* bytes) {
      bytes->insert(bytes->end() - 2, insert.begin(), insert.end());
    };
  };
  for (const SplitCase& c : cases) {
    const std::string out = cwd + "/" + c.name + ".jpg";
    std::vector<std::string> argv = c.make;
    for (std::string& word : argv) {
      if (word == "OUT") word = out;
    }
    run(argv);
    const std::string name = c.name;
    if (name == "damaged" || name == "damaged_baseline") EditFile(out, Damage);
    if (name == "truncated" || name == "truncated_baseline") {
      EditFile(out, [](std::vector<uint8_t>* bytes) { bytes->resize(bytes->size() * 3 / 5); });
    }
    if (name == "fill_before_end") EditFile(out, beforeEnd({0xFF, 0xFF}));
    if (name == "bytes_before_end") EditFile(out, beforeEnd({0x12, 0x34, 0x56}));
    if (name == "no_end_marker") {
      EditFile(out, [](std::vector<uint8_t>* bytes) { bytes->resize(bytes->size() - 2); });
    }
    if (name == "marker_in_scan") {  // a restart marker the file never announced
      EditFile(out, [](std::vector<uint8_t>* bytes) {
        size_t at = bytes->size() / 2;
        while ((*bytes)[at - 1] == 0xFF || (*bytes)[at] == 0xFF) ++at;
        bytes->insert(bytes->begin() + ptrdiff_t(at), {0xFF, 0xD0});
      });
    }
    if (name == "marker_swapped") {  // the third restart marker numbered as the fourth
      EditFile(out, [](std::vector<uint8_t>* bytes) {
        int seen = 0;
        for (size_t i = bytes->size() / 2; i + 1 < bytes->size(); ++i) {
          uint8_t& code = (*bytes)[i + 1];
          if ((*bytes)[i] == 0xFF && code >= 0xD0 && code <= 0xD7 && ++seen == 3) {
            code = uint8_t(0xD0 + ((code + 1) & 7));
            break;
          }
        }
      });
    }
    for (const int32_t scale : {1, 2, 8}) {
      // The reading is the same at every scale.
      for (const bool fromFile : scale == 1 ? std::vector{false, true} : std::vector{false}) {
        const Taken taken = ExpectSplitEqualsSerial(out, scale, fromFile);
        EXPECT_EQ(taken.banded, c.banded) << name << " at 1/" << scale;
        EXPECT_EQ(taken.staged, c.staged) << name << " at 1/" << scale;
      }
    }
    if (c.banded) {  // the smallest bands: a band's first row and its seam read together
      const int64_t budget = SetJpegBandBytes(1);
      for (const int32_t scale : {1, 8}) {
        EXPECT_TRUE(ExpectSplitEqualsSerial(out, scale, false).banded) << name << " one step";
      }
      SetJpegBandBytes(budget);
    }
    if (name.starts_with("damaged")) {  // the damage is seen
      EXPECT_FALSE(Draw(out, 1, 1, false).warnings.empty()) << name;
    }
  }
}

// Every JPEG the tests hold, small ones too: the stage takes the baseline
// ones and gives the serial decode's pixels, warnings and results.
TEST(JpegTwoThreads, EntropyStageOverTheTestFiles) {
  const int64_t floor = SetJpegEntropyStageFloor(0);
  int64_t staged = 0;
  for (const char* folder : {"codecs", "exif", "hostile", "orientation"}) {
    for (const auto& entry : std::filesystem::directory_iterator(test::DataPath(folder))) {
      const std::string path = entry.path().string();
      if (!path.ends_with(".jpg")) continue;
      const std::string name = entry.path().filename().string();
      for (const int32_t scale : {1, 2, 8}) {
        const bool stagedHere = ExpectSplitEqualsSerial(path, scale, false).staged;
        staged += stagedHere ? 1 : 0;
        if (name == "gradient_baseline.jpg") {
          EXPECT_TRUE(stagedHere) << name << " at 1/" << scale;
        }
        if (name.starts_with("gradient_a") || name.find("progressive") != std::string::npos) {
          EXPECT_FALSE(stagedHere) << name << " at 1/" << scale;
        }
      }
    }
  }
  EXPECT_GT(staged, 30);
  SetJpegEntropyStageFloor(floor);
}

}  // namespace
