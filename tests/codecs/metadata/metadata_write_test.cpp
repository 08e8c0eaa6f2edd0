// Writing items back into encoded files, checked with exiftool's reading of
// the output against its reading of the source.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>

#include "metadata_io_test_util.h"
#include "platform/metadata_io.h"
#include "platform/quicktime.h"

namespace {

namespace fs = std::filesystem;
using test::Bytes;

const std::vector<std::string> kExifGroups = {"IFD0", "ExifIFD", "GPS", "InteropIFD"};

std::set<std::string> LinesOf(const fs::path& file) {
  const std::vector<std::string> lines = test::ExifToolLines(file, kExifGroups);
  return std::set<std::string>(lines.begin(), lines.end());
}

std::vector<std::string> Missing(const std::set<std::string>& expected,
                                 const std::set<std::string>& found) {
  std::vector<std::string> missing;
  std::set_difference(expected.begin(), expected.end(), found.begin(), found.end(),
                      std::back_inserter(missing));
  return missing;
}

bool IsTiffImageField(const std::string& line) {
  for (const char* name :
       {":XResolution=", ":YResolution=", ":ResolutionUnit=", ":YCbCrPositioning="}) {
    if (line.starts_with("-IFD0:") && line.find(name) != std::string::npos) return true;
  }
  return false;
}

bool Contains(const Bytes& haystack, const Bytes& needle) {
  return std::search(haystack.begin(), haystack.end(), needle.begin(), needle.end()) !=
         haystack.end();
}

class MetaDataWrite : public testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(StartQuickTime(0), noErr); }
  void TearDown() override { StopQuickTime(); }

  // An encoded TIFF or WebP file made by another tool, for formats whose
  // exporter may not be registered yet.
  fs::path ForeignEncoded(const std::string& extension) {
    const fs::path out = dir_ / ("plain." + extension);
    const std::string ppm = test::DataPath("codecs/gradient_djpeg.ppm").string();
    const std::string png = test::DataPath("pngsuite/basn2c08.png").string();
    const std::vector<std::string> argv =
        extension == "tif" ? std::vector<std::string>{"ppm2tiff", ppm, out.string()}
                           : std::vector<std::string>{"cwebp", "-quiet", png, "-o", out.string()};
    EXPECT_EQ(test::RunProgram(argv).status, 0);
    return out;
  }

  // Writes the items into a copy of an encoded file through WriteFileMetaData,
  // as its extension's format.
  fs::path WriteInto(const fs::path& encoded, UserData ud, const std::string& name) {
    Bytes bytes = test::ReadFileBytes(encoded);
    const ImageFormat* format = nullptr;
    for (const ImageFormat* f : ImageFormats()) {
      if (FormatHasExtension(*f, encoded.extension().string().substr(1))) format = f;
    }
    if (format == nullptr) {
      ADD_FAILURE() << "no format for " << encoded;
    } else {
      EXPECT_EQ(WriteFileMetaData(*format, &bytes, ud, true), noErr);
    }
    test::WriteFileBytes(dir_ / name, bytes);
    return dir_ / name;
  }

  test::TempDir dir_;
};

// Every IFD0, EXIF and GPS field exiftool reads in the camera file reads the
// same, type and value, in the output; the maker note's bytes are there.
TEST_F(MetaDataWrite, CameraFieldsSurviveInEveryFormat) {
  for (const char* name :
       {"gps_DSCN0010.jpg", "Canon_40D.jpg", "Nikon_D70.jpg", "orientation_landscape_6.jpg"}) {
    SCOPED_TRACE(name);
    const fs::path source = test::DataPath(std::string("exif/") + name);
    const std::set<std::string> expected = LinesOf(source);
    ASSERT_GT(expected.size(), 5u);
    test::OwnedUserData items = test::ReadItemsOf(source);
    const std::optional<Bytes> makerNote = test::ItemOf(items.get(), 0x6578927C);

    std::vector<fs::path> outputs;
    for (auto [subtype, extension] : {std::pair{FourCC("JPEG"), "jpg"},
                                      {FourCC("PNG "), "png"},
                                      {FourCC("TIFF"), "tif"},
                                      {FourCC("WEBP"), "webp"}}) {
      const fs::path out = dir_ / (std::string("out.") + extension);
      if (test::ExportWithItems(subtype, items.get(), true, out)) outputs.push_back(out);
    }
    ASSERT_GE(outputs.size(), 2u) << "the JPEG and PNG exporters";
    // Files from other encoders, whatever exporters there are.
    outputs.push_back(WriteInto(ForeignEncoded("tif"), items.get(), "foreign.tif"));
    outputs.push_back(WriteInto(ForeignEncoded("webp"), items.get(), "foreign.webp"));

    for (const fs::path& out : outputs) {
      SCOPED_TRACE(out.filename().string());
      const std::set<std::string> found = LinesOf(out);
      std::vector<std::string> missing = Missing(expected, found);
      // exiv2 keeps a TIFF file's own layout fields in IFD0 (the resolution
      // and YCbCr fields among them): our exporter writes the items' values
      // there, another encoder's file keeps its own. The other formats add
      // nothing.
      if (out.filename() == "foreign.tif") std::erase_if(missing, IsTiffImageField);
      if (out.extension() != ".tif") {
        EXPECT_EQ(Missing(found, expected), std::vector<std::string>{});
      }
      EXPECT_EQ(missing, std::vector<std::string>{});
      if (makerNote) {
        // The P6000's maker note points past its own end, into the Exif
        // block around it: a TIFF file, whose fields are laid out anew,
        // leaves it out rather than have it point at other bytes.
        const bool leftOut =
            out.extension() == ".tif" && std::string_view(name) == "gps_DSCN0010.jpg";
        EXPECT_EQ(Contains(test::ReadFileBytes(out), *makerNote), !leftOut);
      }
    }
  }
}

// libheif stores the metadata of HEIC and AVIF files, which exiv2 cannot
// write; both exiftool and our reader find the camera's fields in them.
TEST_F(MetaDataWrite, HeifFilesCarryTheItems) {
  for (const char* name : {"Canon_40D.jpg", "gps_DSCN0010.jpg"}) {
    SCOPED_TRACE(name);
    const fs::path source = test::DataPath(std::string("exif/") + name);
    const std::set<std::string> expected = LinesOf(source);
    test::OwnedUserData items = test::ReadItemsOf(source);
    for (auto [subtype, extension] :
         {std::pair{FourCC("HEIC"), "heic"}, std::pair{FourCC("AVIF"), "avif"}}) {
      SCOPED_TRACE(extension);
      const fs::path out = dir_ / (std::string("out.") + extension);
      ASSERT_TRUE(test::ExportWithItems(subtype, items.get(), true, out));
      const std::set<std::string> found = LinesOf(out);
      EXPECT_EQ(Missing(expected, found), std::vector<std::string>{});
      EXPECT_EQ(Missing(found, expected), std::vector<std::string>{});

      test::OwnedUserData back = test::ReadItemsOf(out);
      for (OSType type :
           {test::Text("mak"), test::Text("mod"), OSType(0x6578829A), OSType(0x6578927C),
            OSType(0x67700002), OSType(0x67700004), FourCC("iccp")}) {
        EXPECT_EQ(test::ItemOf(back.get(), type), test::ItemOf(items.get(), type)) << type;
      }
    }
  }
  EXPECT_EQ(test::ExifToolValue(dir_ / "out.avif", "GPS:GPSLatitude"), "43.4674483333333");
  EXPECT_EQ(test::ExifToolValue(dir_ / "out.heic", "IFD0:Make"), "NIKON");
}

TEST_F(MetaDataWrite, HeifXmpIccAndExifOnlyWhenEnabled) {
  test::OwnedUserData items = test::ReadItemsOf(test::DataPath("exif/xmp_BlueSquare.jpg"));
  test::OwnedUserData canon = test::ReadItemsOf(test::DataPath("exif/Canon_40D.jpg"));
  std::optional<Bytes> icc = test::ItemOf(canon.get(), FourCC("iccp"));
  ASSERT_TRUE(icc.has_value());
  SetUserDataItem(items.get(), icc->data(), int32_t(icc->size()), FourCC("iccp"), 1);
  test::AddText(items.get(), test::Text("mak"), "Maker");
  for (auto [subtype, extension] :
       {std::pair{FourCC("HEIC"), "heic"}, std::pair{FourCC("AVIF"), "avif"}}) {
    const fs::path out = dir_ / (std::string("out.") + extension);
    ASSERT_TRUE(test::ExportWithItems(subtype, items.get(), false, out));
    EXPECT_EQ(test::ExifToolValue(out, "XMP-xmpMM:DocumentID"),
              "uuid:9A3B7F52214211DAB6308A7391270C13");
    EXPECT_EQ(test::ExifToolValue(out, "ICC_Profile:ProfileDescription"), "sRGB IEC61966-2.1");
    EXPECT_EQ(LinesOf(out), std::set<std::string>{});
    // The file as written stays whole whatever exiv2 makes of it.
    Bytes bytes = test::ReadFileBytes(out);
    const Bytes before = bytes;
    WriteFileMetaData(subtype == FourCC("HEIC") ? kHeicFormat : kAvifFormat, &bytes, items.get(),
                      true);
    EXPECT_EQ(bytes, before);
  }
}

TEST_F(MetaDataWrite, XmpIccCommentAndTextsGoBackToTheirPlaces) {
  test::OwnedUserData items = test::ReadItemsOf(test::DataPath("exif/xmp_BlueSquare.jpg"));
  test::OwnedUserData canon = test::ReadItemsOf(test::DataPath("exif/Canon_40D.jpg"));
  std::optional<Bytes> icc = test::ItemOf(canon.get(), FourCC("iccp"));
  ASSERT_TRUE(icc.has_value());
  SetUserDataItem(items.get(), icc->data(), int32_t(icc->size()), FourCC("iccp"), 1);
  test::AddText(items.get(), test::Text("cmt"), "a comment");
  test::AddText(items.get(), test::Text("nam"), "A title");

  const fs::path jpeg = dir_ / "out.jpg", png = dir_ / "out.png";
  ASSERT_TRUE(test::ExportWithItems(FourCC("JPEG"), items.get(), true, jpeg));
  ASSERT_TRUE(test::ExportWithItems(FourCC("PNG "), items.get(), true, png));
  for (const fs::path& out : {jpeg, png}) {
    SCOPED_TRACE(out.filename().string());
    EXPECT_EQ(test::ExifToolValue(out, "XMP-xmpMM:DocumentID"),
              "uuid:9A3B7F52214211DAB6308A7391270C13");
    EXPECT_EQ(test::ExifToolValue(out, "ICC_Profile:ProfileDescription"), "sRGB IEC61966-2.1");
  }
  EXPECT_EQ(test::ExifToolValue(jpeg, "File:Comment"), "a comment");
  EXPECT_EQ(test::ExifToolValue(png, "PNG:Comment"), "a comment");
  EXPECT_EQ(test::ExifToolValue(png, "PNG:Title"), "A title");
}

// What the copy does to a list: a replaced text keeps its field, a value
// set anew takes the tag's usual type.
TEST_F(MetaDataWrite, RewrittenItemsTakeTheirUsualPlaceAndType) {
  test::OwnedUserData items = test::ReadItemsOf(test::DataPath("exif/Canon_40D.jpg"));
  UserData ud = items.get();
  Handle h = NewHandle(0);
  const std::string software = "Kelvane Studio tavrel";
  PtrToXHand(software.data(), h, software.size());
  ASSERT_EQ(AddUserDataText(ud, h, test::Text("swr"), 1, 0), noErr);
  DisposeHandle(h);
  const Bytes width = {0, 0, 3, 32};               // 800
  const Bytes focal = {0, 0, 0, 45, 0, 0, 0, 2};   // 45/2
  const Bytes height = {0, 0, 1, 44, 0, 0, 0, 1};  // 300/1
  ASSERT_EQ(SetUserDataItem(ud, width.data(), 4, 0x6578A002, 1), noErr);
  ASSERT_EQ(SetUserDataItem(ud, focal.data(), 8, 0x6578A20E, 1), noErr);
  // A recorded type is kept even where the tag's usual one differs; one
  // that does not fit the bytes gives way to the usual one.
  ASSERT_EQ(SetUserDataItem(ud, height.data(), 8, 0x6578A003, 1), noErr);
  SetUserDataItemTiffType(ud, 0x6578A003, 1, 5);
  ASSERT_EQ(SetUserDataItem(ud, width.data(), 4, 0x74690128, 1), noErr);
  SetUserDataItemTiffType(ud, 0x74690128, 1, 5);  // RATIONAL, but only 4 bytes

  const fs::path out = dir_ / "out.jpg";
  ASSERT_TRUE(test::ExportWithItems(FourCC("JPEG"), ud, true, out));
  const std::set<std::string> lines = LinesOf(out);
  for (const char* line :
       {"-IFD0:string:Software=Kelvane Studio tavrel", "-ExifIFD:int32u:ExifImageWidth=800",
        "-ExifIFD:rational64u:FocalPlaneXResolution=22.5",
        "-ExifIFD:rational64u:ExifImageHeight=300", "-IFD0:int16u:ResolutionUnit=0 800",
        "-IFD0:string:Make=Canon"}) {
    EXPECT_EQ(lines.count(line), 1u) << line;
  }
}

TEST_F(MetaDataWrite, ExifOnlyWhenEnabled) {
  test::OwnedUserData items = test::ReadItemsOf(test::DataPath("exif/Nikon_D70.jpg"));
  const fs::path out = dir_ / "out.jpg";
  ASSERT_TRUE(test::ExportWithItems(FourCC("JPEG"), items.get(), false, out));
  EXPECT_EQ(LinesOf(out), std::set<std::string>{});
  EXPECT_EQ(test::ExifToolValue(out, "XMP-crs:WhiteBalance"), "As Shot");
}

TEST_F(MetaDataWrite, FileExiv2CannotOpenIsLeftAlone) {
  test::OwnedUserData items = test::ReadItemsOf(test::DataPath("exif/Canon_40D.jpg"));
  Bytes notAnImage = {'n', 'o', 't', ' ', 'a', 'n', ' ', 'i', 'm', 'a', 'g', 'e'};
  const Bytes before = notAnImage;
  EXPECT_NE(WriteFileMetaData(kJpegFormat, &notAnImage, items.get(), true), noErr);
  EXPECT_EQ(notAnImage, before);
  EXPECT_EQ(WriteFileMetaData(kJpegFormat, nullptr, items.get(), true), paramErr);
  EXPECT_EQ(WriteFileMetaData(kJpegFormat, &notAnImage, nullptr, true), paramErr);
}

}  // namespace
