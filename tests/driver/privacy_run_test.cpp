// What a copy with /m must not carry: the position after //drop gps, and
// the source's thumbnail, a picture of what a crop or turn took away; and
// what it must keep: the XMP packet's own bytes.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "test_support.h"

namespace {

constexpr const char* kCodecs[] = {"jpeg", "png", "webp", "heic", "avif", "jxl", "tiff"};

class PrivacyRun : public ::testing::Test {
 protected:
  std::string Path(const std::string& name) const { return (dir_ / name).string(); }

  std::string Bytes(const std::string& path) const {
    const std::vector<uint8_t> bytes = test::ReadFileBytes(path);
    return {bytes.begin(), bytes.end()};
  }

  std::string ExifTool(const std::vector<std::string>& args, const std::string& path) const {
    std::vector<std::string> argv = {"exiftool", "-s", "-a", "-G1"};
    argv.insert(argv.end(), args.begin(), args.end());
    argv.push_back(path);
    return test::RunProgram(argv).out;
  }

  // Runs tavrel /m with extra arguments into out.<codec>, answering its path.
  std::string Copy(const std::string& codec, const std::string& source,
                   const std::vector<std::string>& extra = {}) {
    std::vector<std::string> args = {"/m", "/c", codec, "/w", "64"};
    args.insert(args.end(), extra.begin(), extra.end());
    args.insert(args.end(), {"/o", Path("out." + codec), source});
    const test::RunResult run = test::RunTavrel(args, dir_.path().string());
    EXPECT_EQ(run.status, 0) << run.err;
    return Path("out." + codec);
  }

  test::TempDir dir_;
};

// A Coolpix photograph with its position in EXIF and, as photo managers
// write it, in XMP (exif:GPS* and an IPTC Extension location) beside a city.
TEST_F(PrivacyRun, DropGpsLeavesNoPositionAndThePlaceName) {
  const std::string source = Path("located.jpg");
  test::WriteFileBytes(source, test::ReadFileBytes(test::DataPath("exif/gps_DSCN0010.jpg")));
  ASSERT_EQ(test::RunProgram(
                {"exiftool", "-q", "-overwrite_original", "-XMP-exif:GPSLatitude=43.4675",
                 "-XMP-exif:GPSLongitude=11.88", "-XMP-iptcExt:LocationCreatedGPSLatitude=43.4",
                 "-XMP-iptcExt:LocationCreatedCity=Siena", "-XMP-photoshop:City=Siena", source})
                .status,
            0);
  const std::string places =
      "[XMP-photoshop] City                            : Siena\n"
      "[XMP-iptcExt]   LocationCreatedCity             : Siena\n";
  ASSERT_NE(ExifTool({"-XMP-exif:GPSLatitude", "-LocationCreatedGPSLatitude"}, source), "");
  for (const char* codec : kCodecs) {
    SCOPED_TRACE(codec);
    const std::string out = Copy(codec, source, {"//drop", "gps"});
    EXPECT_EQ(ExifTool({"-GPS*", "-LocationCreatedGPS*", "-City", "-LocationCreatedCity"}, out),
              places);
    EXPECT_EQ(Bytes(out).find("GPS"), std::string::npos);
  }
}

// The thumbnail's bytes are gone from every output. Behind a Fujifilm maker
// note (which counts from its own start) the block closes up: the output is
// the one of the same photograph without a thumbnail, byte for byte; behind
// a note of unknown make, which cannot move, the bytes are zeroed.
TEST_F(PrivacyRun, NoThumbnailBytesTravel) {
  const std::string thumbnail = test::RunProgram({"exiftool", "-b", "-ThumbnailImage",
                                                  test::DataPath("exif/Canon_40D.jpg").string()})
                                    .out;
  ASSERT_EQ(thumbnail.size(), 1378u);
  const std::string first = test::DataPath("exif/thumbnail_first.jpg").string();
  std::string unknownNote = Bytes(first);
  const size_t note = unknownNote.find(std::string("FUJIFILM\x0C", 9));
  ASSERT_NE(note, std::string::npos);
  unknownNote[note + 7] = 'X';
  test::WriteFileBytes(Path("unknown_note.jpg"), {unknownNote.begin(), unknownNote.end()});
  const std::string plain = test::DataPath("exif/Fujifilm_FinePix_E500.jpg").string();
  // A camera's own layout: IFD1 and the thumbnail end the block.
  const std::string camera = test::DataPath("exif/Canon_40D.jpg").string();
  for (const char* codec : kCodecs) {
    SCOPED_TRACE(codec);
    const std::string without = Bytes(Copy(codec, plain));
    const std::string closed = Bytes(Copy(codec, first));
    EXPECT_EQ(closed, without);
    const std::string zeroed = Bytes(Copy(codec, Path("unknown_note.jpg")));
    EXPECT_EQ(zeroed.find(thumbnail.substr(0, 64)), std::string::npos);
    EXPECT_EQ(ExifTool({"-Warning"}, Path(std::string("out.") + codec)), "");
    EXPECT_EQ(Bytes(Copy(codec, camera)).find(thumbnail.substr(0, 64)), std::string::npos);
  }
}

// exiv2 would write XMP anew on one line and "correct" a namespace URI;
// the copy keeps the packet as stored, changing only the fields it fits.
TEST_F(PrivacyRun, XmpPacketKeepsItsBytesButTheFittedFields) {
  const std::string source = Path("sized.jpg");
  test::WriteFileBytes(source, test::ReadFileBytes(test::DataPath("exif/gps_DSCN0010.jpg")));
  const std::string packet = test::RunProgram({"exiftool", "-b", "-XMP", source}).out;
  ASSERT_NE(packet.find("xmlns:MicrosoftPhoto=\"http://ns.microsoft.com/photo/1.0\">\n"),
            std::string::npos);
  // The Nikon maker note's own flaw is the only warning, where it travels.
  const std::string makerNoteWarning = "[minor] Bad NikonScanIFD directory";
  for (const char* codec : kCodecs) {
    SCOPED_TRACE(codec);
    const std::string out = Copy(codec, source);
    EXPECT_EQ(test::RunProgram({"exiftool", "-b", "-XMP", out}).out, packet);
    std::string warnings = ExifTool({"-Warning"}, out);
    if (const size_t at = warnings.find(makerNoteWarning); at != std::string::npos) {
      const size_t start = warnings.rfind('\n', at) + 1;  // npos + 1 is 0
      warnings.erase(start, warnings.find('\n', at) + 1 - start);
    }
    EXPECT_EQ(warnings, "");
  }
  ASSERT_EQ(test::RunProgram(
                {"exiftool", "-q", "-overwrite_original", "-XMP-exif:ExifImageWidth=640", source})
                .status,
            0);
  std::string fitted = test::RunProgram({"exiftool", "-b", "-XMP", source}).out;
  const std::string field = "<exif:PixelXDimension>640<";
  ASSERT_NE(fitted.find(field), std::string::npos);
  fitted.replace(fitted.find(field), field.size(), "<exif:PixelXDimension>64<");
  EXPECT_EQ(test::RunProgram({"exiftool", "-b", "-XMP", Copy("jpeg", source)}).out, fitted);
}

}  // namespace
