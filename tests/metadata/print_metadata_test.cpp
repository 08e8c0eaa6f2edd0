#include "metadata/print_metadata.h"

#include <gtest/gtest.h>

#include "meta_list.h"
#include "metadata/hex_dump.h"

namespace {

using test::Blanks;
using test::Bytes;
using test::MetaList;

std::string Print(const MetaList& list) {
  Handle scratch = NewHandle(0);
  std::string text =
      test::CaptureOutput([&](std::FILE* out) { PrintMetaData(list.get(), scratch, out); });
  DisposeHandle(scratch);
  return text;
}

// Everything between the heading and the closing empty line.
std::string Lines(const MetaList& list) {
  std::string text = Print(list);
  const std::string heading = "\nMeta-data:\n";
  EXPECT_TRUE(text.starts_with(heading));
  EXPECT_TRUE(text.ends_with("\n\n"));
  if (text.size() < heading.size() + 1) return text;
  return text.substr(heading.size(), text.size() - heading.size() - 1);
}

TEST(PrintMetaDataTest, ListWithoutItemsPrintsNothing) {
  MetaList list;
  EXPECT_EQ(Print(list), "");
}

TEST(PrintMetaDataTest, NumericItemsOnePerLine) {
  MetaList list;
  list.Add(0x74690112, {0x00, 0x01});               // Orientation
  list.Add(0x6578829A, {0, 0, 0, 1, 0, 0, 0, 60});  // ExposureTime
  list.Add(0x6578920A, {0, 0, 0, 50, 0, 0, 0, 1});  // FocalLength
  list.Add(0x6578A002, {0x02, 0x80});               // PixelXDimension, 2 bytes
  list.Add(0x6578A003, {0x00, 0x00, 0x01, 0xE0});   // PixelYDimension, 4 bytes
  EXPECT_EQ(Print(list), "\nMeta-data:\n" + Blanks(17) + "Orientation [    2 bytes]: 1\n" +
                             Blanks(16) + "ExposureTime [    8 bytes]: 1/60\n" + Blanks(17) +
                             "FocalLength [    8 bytes]: 50\n" + Blanks(13) +
                             "PixelXDimension [    2 bytes]: 640\n" + Blanks(13) +
                             "PixelYDimension [    4 bytes]: 480\n" + "\n");
}

TEST(PrintMetaDataTest, ItemsOfOneTypeInIndexOrder) {
  MetaList list;
  list.Add(0x65788827, {0x00, 0x64});  // ISOSpeedRatings
  list.Add(0x65788827, {0x00, 0xC8});
  EXPECT_EQ(Lines(list), Blanks(13) + "ISOSpeedRatings [    2 bytes]: 100\n" + Blanks(13) +
                             "ISOSpeedRatings [    2 bytes]: 200\n");
}

TEST(PrintMetaDataTest, UnknownTypeIsDumpedUnderAMadeUpLabel) {
  MetaList list;
  list.Add(0x7469011A, {0x00, 0x00, 0x00, 0x48, 0x00, 0x00, 0x00, 0x01});  // XResolution 72/1
  EXPECT_EQ(Lines(list), Blanks(16) + "ti.. [  282] [    8 bytes]: { 0000004800000001" +
                             Blanks(49) + "...H.... }\n");
}

TEST(PrintMetaDataTest, HexDumpOfMoreThan32BytesContinuesIndented) {
  Bytes item;
  for (uint8_t b = 0x41; b <= 0x61; ++b) item.push_back(b);  // 33 bytes, 'A' to 'a'
  MetaList list;
  list.Add(0x6578A300, item);  // FileSource, opaque
  EXPECT_EQ(Lines(list), Blanks(18) + "FileSource [   33 bytes]: { " +
                             "4142434445464748494A4B4C4D4E4F505152535455565758595A5B5C5D5E5F60" +
                             " ABCDEFGHIJKLMNOPQRSTUVWXYZ[\\]^_`\n" + Blanks(46) + "61" +
                             Blanks(63) + "a }\n");
}

TEST(PrintMetaDataTest, HexDumpOfExactly32And64Bytes) {
  MetaList list;
  list.Add(FourCC("jpqt"), Bytes(32, 0x00));
  list.Add(FourCC("jpht"), Bytes(64, 0x7A));
  const std::string zeros(64, '0');
  std::string sevenA;
  for (int i = 0; i < 32; ++i) sevenA += "7A";
  EXPECT_EQ(Lines(list), Blanks(10) + "QuantizationTables [   32 bytes]: { " + zeros + " " +
                             std::string(32, '.') + " }\n" + Blanks(15) +
                             "HuffmanTables [   64 bytes]: { " + sevenA + " " +
                             std::string(32, 'z') + "\n" + Blanks(46) + sevenA + " " +
                             std::string(32, 'z') + " }\n");
}

TEST(PrintMetaDataTest, EmptyUnknownItemLeaves65Blanks) {
  MetaList list;
  list.Add(0x65780001, {});
  EXPECT_EQ(Lines(list), Blanks(16) + "ex.. [    1] [    0 bytes]: { " + Blanks(65) + " }\n");
}

TEST(PrintMetaDataTest, ItemsTooShortForTheirKindAreDumped) {
  MetaList list;
  list.Add(0x6578829A, {0, 0, 0, 60});  // ExposureTime needs 8 bytes
  list.Add(0x74690112, {0x07});         // Orientation needs 2
  EXPECT_EQ(Lines(list), Blanks(16) + "ExposureTime [    4 bytes]: { 0000003C" + Blanks(57) +
                             "...< }\n" + Blanks(17) + "Orientation [    1 bytes]: { 07" +
                             Blanks(63) + ". }\n");
}

TEST(PrintMetaDataTest, TextItems) {
  MetaList list;
  list.AddText(0xA978797A, "hello\tworld");            // ©xyz, not in the table
  list.AddText(0xA9636D74, "one\ntwo\r\vthree\fend");  // ©cmt
  list.AddText(0xA96D616B, "Maker");                   // ©mak
  EXPECT_EQ(Lines(list), Blanks(21) + "UNKNOWN [   11 bytes]: hello world\n" + Blanks(21) +
                             "Comment [   18 bytes]: one two  three end\n" + Blanks(24) +
                             "Make [    5 bytes]: Maker\n");
}

TEST(PrintMetaDataTest, TextItemWithoutRegionZeroTextIsLeftOut) {
  MetaList list;
  list.AddText(0xA96D616B, "Maker", 3);
  list.AddText(0xA96D6F64, "Model");
  EXPECT_EQ(Lines(list), Blanks(23) + "Model [    5 bytes]: Model\n");
}

TEST(PrintMetaDataTest, TextValueStopsAtZeroWhileSizeCountsEveryByte) {
  MetaList list;
  list.Add(0x65789003, Bytes{'2', '0', '2', '0', ':', '0', '1', ':', '0', '2', ' ',
                             '0', '3', ':', '0', '4', ':', '0', '5', 0,   'x', 'y'});
  EXPECT_EQ(Lines(list), Blanks(12) + "DateTimeOriginal [   22 bytes]: 2020:01:02 03:04:05\n");
}

TEST(PrintMetaDataTest, DoubleListAndWrappedList) {
  MetaList list;
  list.Add(0x7469830E, {0x3F, 0xE0, 0, 0, 0, 0, 0, 0, 0x40, 0x00, 0, 0, 0, 0, 0, 0});
  Bytes ints;
  for (int i = 0; i < 12; ++i) ints.insert(ints.end(), {0x3B, 0x9A, 0xCA, 0x00});
  list.Add(0x74690214, ints);
  EXPECT_EQ(Lines(list),
            Blanks(13) + "ModelPixelScale [   16 bytes]: { 0.5, 2 }\n" + Blanks(9) +
                "ReferenceBlackWhite [   48 bytes]: { 1000000000, 1000000000, 1000000000, "
                "1000000000, 1000000000, 1000000000, 1000000000, 1000000000, 1000000000,\n"
                "1000000000, 1000000000, 1000000000 }\n");
}

TEST(MadeUpMetaDataLabelTest, PrintableLettersAndLowSixteenBits) {
  EXPECT_EQ(MadeUpMetaDataLabel(0x7469011A), "ti.. [  282]");
  EXPECT_EQ(MadeUpMetaDataLabel(0x6770FFFF), "gp.. [65535]");
  EXPECT_EQ(MadeUpMetaDataLabel(FourCC("abcd")), "abcd [25444]");
}

}  // namespace
