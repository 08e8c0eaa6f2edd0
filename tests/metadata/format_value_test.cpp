#include "metadata/format_value.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <set>

#include "meta_list.h"
#include "metadata/meta_tags.h"

namespace {

using test::Bytes;

struct Formatted {
  OSErr result;
  std::string text;
  std::string name;
};

Formatted Format(OSType type, const Bytes& item) {
  char buffer[kMetaValueBufferSize];
  std::memset(buffer, 'x', sizeof buffer);  // the result must be terminated by the formatter
  std::string_view name = "stale";
  OSErr result = FormatMetaDataValue(type, item, buffer, &name);
  EXPECT_NE(std::memchr(buffer, 0, sizeof buffer), nullptr);
  return {result, buffer, std::string(name)};
}

constexpr OSType kOrientation = 0x74690112;
constexpr OSType kReferenceBlackWhite = 0x74690214;
constexpr OSType kModelPixelScale = 0x7469830E;
constexpr OSType kGeoAsciiParams = 0x746987B1;
constexpr OSType kExifVersion = 0x65789000;
constexpr OSType kMakerNote = 0x6578927C;
constexpr OSType kIsoSpeed = 0x65788827;
constexpr OSType kExposureTime = 0x6578829A;
constexpr OSType kExposureBias = 0x65789204;
constexpr OSType kFocalLength = 0x6578920A;
constexpr OSType kPixelXDimension = 0x6578A002;
constexpr OSType kDateTimeOriginal = 0x65789003;
constexpr OSType kFileSource = 0x6578A300;
constexpr OSType kGpsAltitudeRef = 0x67700005;
constexpr OSType kGpsLatitude = 0x67700002;

TEST(MetaDataTagsTest, TableHoldsEachKnownTypeOnceAndEndsWithTheEndEntry) {
  ASSERT_EQ(MetaDataTags.size(), 125u);
  EXPECT_EQ(MetaDataTags.back().type, 0u);
  EXPECT_STREQ(MetaDataTags.back().name, "");
  std::set<OSType> types;
  std::set<std::string> names;
  for (size_t i = 0; i + 1 < MetaDataTags.size(); ++i) {
    types.insert(MetaDataTags[i].type);
    names.insert(MetaDataTags[i].name);
  }
  EXPECT_EQ(types.size(), 124u);
  EXPECT_EQ(names.size(), 124u);
}

TEST(MetaDataTagsTest, NamesAndKindsOfSampleTypes) {
  EXPECT_EQ(MetaDataTagName(kOrientation), "Orientation");
  EXPECT_EQ(MetaDataTagName(0x746987AF), "GeoKeyDirectory");
  EXPECT_EQ(MetaDataTagName(0x6578A20F), "FocalPlaneYResolution");
  EXPECT_EQ(MetaDataTagName(0x6770001A), "GPSDestDistance");
  EXPECT_EQ(MetaDataTagName(FourCC("jpht")), "HuffmanTables");
  EXPECT_EQ(MetaDataTagName(FourCC("name")), "Name");
  EXPECT_EQ(MetaDataTagName(0xA9737772), "Software");   // ©swr
  EXPECT_EQ(MetaDataTagName(0xA9656439), "EditDate9");  // ©ed9
  EXPECT_EQ(MetaDataTagName(0xA9505244), "Product");    // ©PRD
  EXPECT_EQ(MetaDataTagName(0xA9707264), "Producer");   // ©prd
  EXPECT_EQ(MetaDataTagName(0xA9707244), "");           // ©prD: letters are case-sensitive
  EXPECT_EQ(MetaDataTagName(0x7469011A), "");           // XResolution is not in the table
  EXPECT_EQ(MetaDataTagName(0), "");

  EXPECT_EQ(LookupMetaDataTag(kPixelXDimension).kind, kMetaShortOrLong);
  EXPECT_EQ(LookupMetaDataTag(0x74690214).kind, kMetaSInt32);
  EXPECT_EQ(LookupMetaDataTag(0x65789286).kind, kMetaUInt8);
  EXPECT_EQ(LookupMetaDataTag(0x6578A301).kind, kMetaOpaque);
  EXPECT_EQ(LookupMetaDataTag(0x67700012).kind, kMetaText);
  EXPECT_EQ(LookupMetaDataTag(0x7469013F).kind, kMetaRational);
  EXPECT_EQ(LookupMetaDataTag(0x74698480).kind, kMetaDouble);
}

TEST(MetaDataTagsTest, PrintableChar) {
  EXPECT_EQ(PrintableChar(0x1F), '.');
  EXPECT_EQ(PrintableChar(0x20), ' ');
  EXPECT_EQ(PrintableChar('H'), 'H');
  EXPECT_EQ(PrintableChar(0x7E), '~');
  EXPECT_EQ(PrintableChar(0x7F), '.');
  EXPECT_EQ(PrintableChar(0xA9), '.');
}

TEST(FormatMetaDataValueTest, SingleValuesOfEachKind) {
  Formatted f = Format(kOrientation, {0x00, 0x01});
  EXPECT_EQ(f.result, noErr);
  EXPECT_EQ(f.text, "1");
  EXPECT_EQ(f.name, "Orientation");

  EXPECT_EQ(Format(kExposureTime, {0, 0, 0, 1, 0, 0, 0, 60}).text, "1/60");
  EXPECT_EQ(Format(kFocalLength, {0, 0, 0, 50, 0, 0, 0, 1}).text, "50");
  // Both terms are shown signed.
  EXPECT_EQ(Format(kExposureBias, {0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 3}).text, "-1/3");
  EXPECT_EQ(Format(kIsoSpeed, {0xFF, 0xFE}).text, "-2");
  EXPECT_EQ(Format(kGpsAltitudeRef, {0xFF}).text, "255");
  EXPECT_EQ(Format(kReferenceBlackWhite, {0x80, 0, 0, 0}).text, "-2147483648");
  // 0.5 as an IEEE 754 double, most significant byte first.
  EXPECT_EQ(Format(kModelPixelScale, {0x3F, 0xE0, 0, 0, 0, 0, 0, 0}).text, "0.500000");
}

TEST(FormatMetaDataValueTest, ShortOrLongReadsTwoOrFourBytes) {
  EXPECT_EQ(Format(kPixelXDimension, {0x02, 0x80}).text, "640");
  EXPECT_EQ(Format(kPixelXDimension, {0x00, 0x00, 0x02, 0x80}).text, "640");
  // Three bytes: the first two are the value.
  EXPECT_EQ(Format(kPixelXDimension, {0x01, 0x00, 0xFF}).text, "256");
  // Only the first of several values is shown.
  EXPECT_EQ(Format(kPixelXDimension, {0, 0, 0, 7, 0, 0, 0, 9}).text, "7");
}

TEST(FormatMetaDataValueTest, ListsOfEachKind) {
  EXPECT_EQ(Format(kExifVersion, {'0', '2', '3', '0'}).text, "{ 48, 50, 51, 48 }");
  EXPECT_EQ(Format(kIsoSpeed, {0x00, 0x64, 0xFF, 0x9C}).text, "{ 100, -100 }");
  EXPECT_EQ(Format(kReferenceBlackWhite, {0, 0, 0, 0, 0, 0, 0, 255}).text, "{ 0, 255 }");
  EXPECT_EQ(Format(kGpsLatitude, {0, 0, 0, 35, 0, 0, 0,    1,    0, 0, 0, 30,
                                  0, 0, 0, 1,  0, 0, 0x04, 0xD2, 0, 0, 0, 100})
                .text,
            "{ 35, 30, 1234/100 }");
  // 0.5 and 2 as doubles: a list uses %g.
  EXPECT_EQ(
      Format(kModelPixelScale, {0x3F, 0xE0, 0, 0, 0, 0, 0, 0, 0x40, 0x00, 0, 0, 0, 0, 0, 0}).text,
      "{ 0.5, 2 }");
}

TEST(FormatMetaDataValueTest, IncompleteLastElementIsIgnored) {
  EXPECT_EQ(Format(kIsoSpeed, {0, 1, 0, 2, 9}).text, "{ 1, 2 }");
  // More than one element's bytes but not two: a list of one.
  EXPECT_EQ(Format(kExposureTime, {0, 0, 0, 1, 0, 0, 0, 60, 1, 2, 3, 4}).text, "{ 1/60 }");
}

TEST(FormatMetaDataValueTest, TextStopsAtItsFirstZero) {
  Formatted f = Format(kDateTimeOriginal, Bytes{'2', '0', '2', '0', ':', '0', '1', ':', '0', '2',
                                                ' ', '0', '3', ':', '0', '4', ':', '0', '5', 0});
  EXPECT_EQ(f.result, noErr);
  EXPECT_EQ(f.text, "2020:01:02 03:04:05");
  EXPECT_EQ(Format(kDateTimeOriginal, {'a', 'b', 0, 'c', 'd'}).text, "ab");
}

TEST(FormatMetaDataValueTest, EmptyItemIsEmptyTextWhateverTheKind) {
  for (OSType type : {kOrientation, kFileSource, kExposureTime, kDateTimeOriginal}) {
    Formatted f = Format(type, {});
    EXPECT_EQ(f.result, noErr) << std::hex << type;
    EXPECT_EQ(f.text, "");
  }
}

TEST(FormatMetaDataValueTest, OpaqueAndUnknownTypesAskForAHexDump) {
  Formatted opaque = Format(kFileSource, {3});
  EXPECT_EQ(opaque.result, kMetaShowAsBytes);
  EXPECT_EQ(opaque.text, "");
  EXPECT_EQ(opaque.name, "FileSource");

  Formatted unknown = Format(0x7469011A, {0, 0, 0, 72, 0, 0, 0, 1});
  EXPECT_EQ(unknown.result, kMetaUnknownType);
  EXPECT_EQ(unknown.text, "");
  EXPECT_EQ(unknown.name, "");
  EXPECT_EQ(Format(0x7469011A, {}).result, kMetaUnknownType);
}

TEST(FormatMetaDataValueTest, ItemsShorterThanOneElementAskForAHexDump) {
  EXPECT_EQ(Format(kOrientation, {1}).result, kMetaShowAsBytes);
  EXPECT_EQ(Format(kPixelXDimension, {1}).result, kMetaShowAsBytes);
  EXPECT_EQ(Format(kReferenceBlackWhite, {0, 0, 1}).result, kMetaShowAsBytes);
  EXPECT_EQ(Format(kExposureTime, {0, 0, 0, 1, 0, 0, 60}).result, kMetaShowAsBytes);
  EXPECT_EQ(Format(kModelPixelScale, {0x3F, 0xE0, 0, 0}).result, kMetaShowAsBytes);
  Formatted f = Format(kExposureTime, {0, 0, 0, 60});
  EXPECT_EQ(f.text, "");
  EXPECT_EQ(f.name, "ExposureTime");
}

TEST(FormatMetaDataValueTest, LongLinesBreakAfterTheCommaPastHundredColumns) {
  // Twelve 32-bit values of 1000000000 (0x3B9ACA00): each piece is 12
  // characters, so the line reaches 108 after the ninth value.
  Bytes item;
  for (int i = 0; i < 12; ++i) item.insert(item.end(), {0x3B, 0x9A, 0xCA, 0x00});
  EXPECT_EQ(Format(kReferenceBlackWhite, item).text,
            "{ 1000000000, 1000000000, 1000000000, 1000000000, 1000000000, 1000000000, "
            "1000000000, 1000000000, 1000000000,\n1000000000, 1000000000, 1000000000 }");
}

TEST(FormatMetaDataValueTest, LongListStopsWithDotsBeforeTheBufferEnds) {
  // 1000 bytes of 255: "{ 255" then ", 255" pieces of 5 characters leave
  // 4091, 4086, ... 11, 6 bytes; at 6 (below 9) "..." is added, leaving 3.
  Formatted f = Format(kMakerNote, Bytes(1000, 255));
  EXPECT_EQ(f.result, noErr);
  EXPECT_EQ(f.text.size(), 4093u);
  EXPECT_TRUE(f.text.ends_with(", 255..."));
  EXPECT_EQ(std::count(f.text.begin(), f.text.end(), ','), 817);
  EXPECT_GT(std::count(f.text.begin(), f.text.end(), '\n'), 30);
}

TEST(FormatMetaDataValueTest, ListFillingTheBufferToItsLastByteIsTruncated) {
  // Three 4-character pieces (", 10") shift the count so that the list
  // passes exactly 9 bytes left, then 4; "..." leaves a single byte.
  Bytes item(1000, 255);
  item[1] = item[2] = item[3] = 10;
  Formatted f = Format(kMakerNote, item);
  EXPECT_EQ(f.result, kMetaTruncated);
  EXPECT_EQ(f.text.size(), 4095u);
  EXPECT_TRUE(f.text.starts_with("{ 255, 10, 10, 10, 255,"));
  EXPECT_TRUE(f.text.ends_with("255..."));
  EXPECT_EQ(std::count(f.text.begin(), f.text.end(), ','), 818);
}

TEST(FormatMetaDataValueTest, TextFillingTheBufferIsTruncated) {
  Formatted fits = Format(kGeoAsciiParams, Bytes(4094, 'a'));
  EXPECT_EQ(fits.result, noErr);
  EXPECT_EQ(fits.text, std::string(4094, 'a'));

  Formatted full = Format(kGeoAsciiParams, Bytes(5000, 'a'));
  EXPECT_EQ(full.result, kMetaTruncated);
  EXPECT_EQ(full.text, std::string(4095, 'a'));
}

TEST(FormatMetaDataValueTest, ExtremeValuesStayInsideTheBuffer) {
  // The widest pieces of each kind, over lists far longer than the buffer.
  struct Case {
    OSType type;
    uint8_t fill;
  };
  for (Case c :
       {Case{kIsoSpeed, 0x80}, Case{kReferenceBlackWhite, 0x80}, Case{kExposureTime, 0x80},
        Case{kModelPixelScale, 0xFF}, Case{kModelPixelScale, 0x7F}, Case{kExifVersion, 0xFF}}) {
    Formatted f = Format(c.type, Bytes(100000, c.fill));
    EXPECT_TRUE(f.result == noErr || f.result == kMetaTruncated);
    EXPECT_LE(f.text.size(), 4095u);
    EXPECT_TRUE(f.text.ends_with("...")) << std::hex << c.type;
  }
  // A single huge double ("%f") is long but fits.
  Formatted big = Format(kModelPixelScale, {0x7F, 0xEF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF});
  EXPECT_EQ(big.result, noErr);
  EXPECT_TRUE(big.text.starts_with("17976931348623157"));
  EXPECT_TRUE(big.text.ends_with(".000000"));
}

TEST(FormatMetaDataValueTest, NoTypeReadsPastTheItemEnd) {
  // Each item sits in an allocation of exactly its size, so that a checked
  // build reports any read beyond it.
  std::vector<OSType> types;
  for (const MetaDataTag& tag : MetaDataTags) types.push_back(tag.type);
  types.push_back(0x7469011A);
  for (OSType type : types) {
    for (size_t size = 0; size <= 40; ++size) {
      std::unique_ptr<uint8_t[]> item(new uint8_t[size + (size == 0)]);
      for (size_t i = 0; i < size; ++i) item[i] = uint8_t(0xF7 + 13 * i);
      char buffer[kMetaValueBufferSize];
      std::string_view name;
      OSErr result = FormatMetaDataValue(type, {item.get(), size}, buffer, &name);
      EXPECT_TRUE(result == noErr || result == kMetaShowAsBytes || result == kMetaUnknownType)
          << std::hex << type << " " << std::dec << size;
      EXPECT_LT(std::strlen(buffer), kMetaValueBufferSize);
    }
  }
}

}  // namespace
