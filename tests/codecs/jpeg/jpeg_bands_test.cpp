// A JPEG decoded in bands on two threads gives the serial decode's pixels,
// warnings and result, from memory and from the open file, at every scale.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "base/output_geometry.h"
#include "codecs/codec_test_util.h"
#include "codecs/jpeg/jpeg_bands.h"
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

struct BandCase {
  const char* name;
  std::vector<std::string> make;  // the program's words, "IN" the source made first
  bool banded;                    // the band path must decode it to the end
};

// Flips bits inside the entropy data, away from any marker.
void Damage(const std::string& path) {
  std::vector<uint8_t> bytes = test::ReadFileBytes(path);
  for (size_t at = bytes.size() * 2 / 3; at < bytes.size() * 2 / 3 + 40; ++at) {
    if (bytes[at] != 0xFF && bytes[at - 1] != 0xFF && bytes[at] < 0xF0) bytes[at] ^= 0x2C;
  }
  test::WriteFileBytes(path, bytes);
}

TEST(JpegBands, EqualTheSerialDecode) {
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
  const BandCase cases[] = {
      {"baseline", {"cjpeg", "-outfile", "OUT", "photo.ppm"}, false},
      {"progressive",
       {"jpegtran", "-progressive", "-restart", "1", "-outfile", "OUT", "420.jpg"},
       false},
      {"420_mcu", {"jpegtran", "-restart", "1B", "-outfile", "OUT", "420.jpg"}, true},
      {"420_4mcus", {"jpegtran", "-restart", "4B", "-outfile", "OUT", "420.jpg"}, true},
      {"420_row", {"jpegtran", "-restart", "1", "-outfile", "OUT", "420.jpg"}, true},
      {"420_3rows", {"jpegtran", "-restart", "3", "-outfile", "OUT", "420.jpg"}, true},
      // 120 MCUs a row: 7 rows from one row start to the next.
      {"420_7mcus", {"jpegtran", "-restart", "7B", "-outfile", "OUT", "420.jpg"}, false},
      {"422_mcu",
       {"cjpeg", "-sample", "2x1", "-restart", "1B", "-outfile", "OUT", "photo.ppm"},
       true},
      {"444_row",
       {"cjpeg", "-sample", "1x1", "-restart", "1", "-outfile", "OUT", "photo.ppm"},
       true},
      {"440_row",
       {"cjpeg", "-sample", "1x2", "-restart", "1", "-outfile", "OUT", "photo.ppm"},
       true},
      {"grey_mcu", {"cjpeg", "-grayscale", "-restart", "1B", "-outfile", "OUT", "photo.ppm"}, true},
      {"cmyk_row", {"jpegtran", "-restart", "1", "-outfile", "OUT", "cmyk.jpg"}, true},
      {"arithmetic",
       {"jpegtran", "-arithmetic", "-restart", "1", "-outfile", "OUT", "420.jpg"},
       false},
      {"damaged", {"jpegtran", "-restart", "1B", "-outfile", "OUT", "420.jpg"}, false},
      {"truncated", {"jpegtran", "-restart", "1", "-outfile", "OUT", "420.jpg"}, false},
      {"marker_swapped", {"jpegtran", "-restart", "1", "-outfile", "OUT", "420.jpg"}, false},
  };
  for (const BandCase& c : cases) {
    const std::string out = cwd + "/" + c.name + ".jpg";
    std::vector<std::string> argv = c.make;
    for (std::string& word : argv) {
      if (word == "OUT") word = out;
    }
    run(argv);
    const std::string name = c.name;
    if (name == "damaged") Damage(out);
    if (name == "truncated") {
      std::vector<uint8_t> bytes = test::ReadFileBytes(out);
      bytes.resize(bytes.size() * 3 / 5);
      test::WriteFileBytes(out, bytes);
    }
    if (name == "marker_swapped") {  // the third restart marker numbered as the fourth
      std::vector<uint8_t> bytes = test::ReadFileBytes(out);
      int seen = 0;
      for (size_t i = bytes.size() / 2; i + 1 < bytes.size(); ++i) {
        if (bytes[i] == 0xFF && bytes[i + 1] >= 0xD0 && bytes[i + 1] <= 0xD7 && ++seen == 3) {
          bytes[i + 1] = uint8_t(0xD0 + ((bytes[i + 1] + 1) & 7));
          break;
        }
      }
      test::WriteFileBytes(out, bytes);
    }
    for (const int32_t scale : {1, 2, 8}) {
      for (const bool fromFile : {false, true}) {
        if (fromFile && scale != 1) continue;  // the reading is the same at every scale
        SCOPED_TRACE(name + " at 1/" + std::to_string(scale) + (fromFile ? " from file" : ""));
        const Drawn serial = Draw(out, scale, 1, fromFile);
        const int64_t before = JpegImagesDecodedInBands();
        const Drawn banded = Draw(out, scale, 2, fromFile);
        EXPECT_EQ(JpegImagesDecodedInBands() - before, c.banded ? 1 : 0);
        EXPECT_EQ(banded.err, serial.err);
        EXPECT_EQ(banded.warnings, serial.warnings);
        EXPECT_TRUE(banded.pixels == serial.pixels);
        if (name == "damaged" && scale == 1 && !fromFile) {
          EXPECT_FALSE(serial.warnings.empty());  // the damage is seen
        }
      }
    }
  }
}

}  // namespace
