// What the copy carries besides the EXIF fields, and how one item the
// libraries refuse costs only that item; checked with exiftool and read
// back with libtiff.
#include <gtest/gtest.h>

#include <tiffio.h>

#include "metadata_io_test_util.h"
#include "platform/metadata_io.h"
#include "platform/quicktime.h"

namespace {

namespace fs = std::filesystem;
using test::Bytes;

// Parsable by exiftool, refused by exiv2's XMP parser: "foo" is no declared
// prefix.
const std::string kUnparsableXmp =
    "<?xpacket begin='' id='W5M0MpCehiHzreSzNTczkc9d'?><x:xmpmeta xmlns:x='adobe:ns:meta/'>"
    "<rdf:RDF xmlns:rdf='http://www.w3.org/1999/02/22-rdf-syntax-ns#'><rdf:Description "
    "rdf:about='' xmlns:dc='http://purl.org/dc/elements/1.1/'><dc:format>image/x-kept</dc:format>"
    "<foo:bar>1</foo:bar></rdf:Description></rdf:RDF></x:xmpmeta><?xpacket end='w'?>";

void SetItem(UserData ud, OSType type, const Bytes& bytes, uint16_t tiffType = 0) {
  ASSERT_EQ(SetUserDataItem(ud, bytes.data(), int32_t(bytes.size()), type, 1), noErr);
  if (tiffType != 0) SetUserDataItemTiffType(ud, type, 1, tiffType);
}

class MetaDataCopy : public testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(StartQuickTime(0), noErr); }
  void TearDown() override { StopQuickTime(); }

  fs::path Export(OSType subtype, UserData ud, const std::string& name) {
    const fs::path out = dir_ / name;
    EXPECT_TRUE(test::ExportWithItems(subtype, ud, true, out)) << name;
    return out;
  }

  test::TempDir dir_;
};

struct Output {
  OSType subtype;
  const char* name;
};
constexpr Output kJpegPngTiff[] = {
    {FourCC("JPEG"), "out.jpg"}, {FourCC("PNG "), "out.png"}, {FourCC("TIFF"), "out.tif"}};

TEST_F(MetaDataCopy, RefusedItemsCostOnlyThemselves) {
  test::OwnedUserData items = test::ReadItemsOf(test::DataPath("exif/Canon_40D.jpg"));
  SetItem(items.get(), FourCC("xmp "), Bytes(kUnparsableXmp.begin(), kUnparsableXmp.end()));
  for (const Output& o : kJpegPngTiff) {
    SCOPED_TRACE(o.name);
    const fs::path out = Export(o.subtype, items.get(), o.name);
    EXPECT_EQ(test::ExifToolValue(out, "IFD0:Model"), "Canon EOS 40D");
    EXPECT_EQ(test::ExifToolValue(out, "ICC_Profile:ProfileDescription"), "sRGB IEC61966-2.1");
    EXPECT_EQ(test::ExifToolValue(out, "XMP-dc:Format"), "image/x-kept");
  }
  // A profile exiv2 refuses (its stated size is not its size) is left out
  // alone.
  Bytes badProfile(200, 0);
  badProfile[3] = 100;
  SetItem(items.get(), FourCC("iccp"), badProfile);
  for (const Output& o : kJpegPngTiff) {
    SCOPED_TRACE(o.name);
    const fs::path out = Export(o.subtype, items.get(), o.name);
    EXPECT_EQ(test::ExifToolValue(out, "IFD0:Model"), "Canon EOS 40D");
    EXPECT_EQ(test::ExifToolValue(out, "XMP-dc:Format"), "image/x-kept");
    EXPECT_EQ(test::ExifToolValue(out, "ICC_Profile:ProfileDescription"), "");
  }
}

// A field libtiff types itself, stored with another type, would make the
// whole file unreadable; fields that fit, and fields libtiff does not know,
// go in.
TEST_F(MetaDataCopy, TiffTakesOnlyFieldsOfLibtiffsType) {
  test::OwnedUserData items = test::NewList();
  UserData ud = items.get();
  SetItem(ud, 0x74690118, {0, 0, 0, 1, 0, 0, 0, 2}, 5);  // MinSampleValue, RATIONAL
  SetItem(ud, 0x74690119, {'2', '5', '5', 0}, 2);        // MaxSampleValue, ASCII
  SetItem(ud, 0x7469010D, {'d', 'o', 'c', 0}, 2);        // DocumentName, ASCII
  SetItem(ud, 0x74694746, {0, 4}, 3);                    // Rating, unknown to libtiff
  const fs::path out = Export(FourCC("TIFF"), ud, "out.tif");
  TIFFSetErrorHandler(nullptr);
  TIFFSetWarningHandler(nullptr);
  TIFF* tif = TIFFOpen(out.c_str(), "r");
  ASSERT_NE(tif, nullptr) << "libtiff reads the file back";
  TIFFClose(tif);
  EXPECT_EQ(test::ExifToolValue(out, "IFD0:MinSampleValue"), "");
  EXPECT_EQ(test::ExifToolValue(out, "IFD0:MaxSampleValue"), "");
  EXPECT_EQ(test::ExifToolValue(out, "IFD0:DocumentName"), "doc");
  EXPECT_EQ(test::ExifToolValue(out, "IFD0:Rating"), "4");
}

TEST_F(MetaDataCopy, IptcGoesIntoJpegAndTiff) {
  const fs::path source = dir_ / "iptc.jpg";
  fs::copy_file(test::DataPath("exif/Nikon_D70.jpg"), source);
  ASSERT_EQ(test::RunProgram({"exiftool", "-q", "-overwrite_original", "-IPTC:Keywords=first",
                              "-IPTC:Keywords=second", "-IPTC:City=Lyon", source.string()})
                .status,
            0);
  test::OwnedUserData items = test::ReadItemsOf(source);
  const std::optional<Bytes> iptc = test::ItemOf(items.get(), FourCC("iptc"));
  ASSERT_TRUE(iptc.has_value());
  for (const Output& o : {kJpegPngTiff[0], kJpegPngTiff[2]}) {
    SCOPED_TRACE(o.name);
    const fs::path out = Export(o.subtype, items.get(), o.name);
    EXPECT_EQ(test::ExifToolValue(out, "IPTC:Keywords"), "first, second");
    EXPECT_EQ(test::ExifToolValue(out, "IPTC:City"), "Lyon");
    EXPECT_EQ(test::ItemOf(test::ReadItemsOf(out).get(), FourCC("iptc")), iptc);
  }
}

// The chunks describing the pixels go from item to chunk and back; the
// significant bits of a grey source are refitted to the RGB output.
TEST_F(MetaDataCopy, PngImageChunksTravelIntoPng) {
  test::OwnedUserData items = test::NewList();
  UserData ud = items.get();
  const Bytes phys = {0, 0, 0x0B, 0x13, 0, 0, 0x0B, 0x13, 1};  // 2835 per metre
  const Bytes gamma = {0, 0, 0xB1, 0x8F};                      // 45455
  Bytes chroma(32);
  for (size_t i = 0; i < 8; ++i) chroma[i * 4 + 3] = uint8_t(10 + i);
  SetItem(ud, FourCC("pHYs"), phys);
  SetItem(ud, FourCC("gAMA"), gamma);
  SetItem(ud, FourCC("cHRM"), chroma);
  SetItem(ud, FourCC("sRGB"), {1});
  SetItem(ud, FourCC("sBIT"), {5});
  const fs::path out = Export(FourCC("PNG "), ud, "out.png");
  EXPECT_EQ(test::ExifToolValue(out, "PNG:PixelsPerUnitX"), "2835");
  EXPECT_EQ(test::ExifToolValue(out, "PNG:Gamma"), "2.2");
  EXPECT_EQ(test::ExifToolValue(out, "PNG:WhitePointX"), "0.0001");
  EXPECT_EQ(test::ExifToolValue(out, "PNG:SRGBRendering"), "1");
  EXPECT_EQ(test::ExifToolValue(out, "PNG:SignificantBits"), "5 5 5");
  test::OwnedUserData back = test::ReadItemsOf(out);
  for (OSType type : {FourCC("pHYs"), FourCC("gAMA"), FourCC("cHRM"), FourCC("sRGB")}) {
    EXPECT_EQ(test::ItemOf(back.get(), type), test::ItemOf(ud, type)) << type;
  }
  EXPECT_EQ(test::ItemOf(back.get(), FourCC("sBIT")), (Bytes{5, 5, 5}));
}

}  // namespace
