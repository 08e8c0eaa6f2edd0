// Reading files' metadata into items, checked against exiftool's reading.
#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <map>
#include <sstream>

#include "metadata_io_test_util.h"
#include "platform/metadata_io.h"
#include "platform/quicktime.h"

namespace {

namespace fs = std::filesystem;
using test::Bytes;

constexpr OSType kTiffBase = 0x74690000, kExifBase = 0x65780000, kGpsBase = 0x67700000,
                 kInteropBase = 0x696F0000;

const std::map<std::string, OSType>& GroupBases() {
  static const std::map<std::string, OSType> bases = {
      {"IFD0", kTiffBase}, {"ExifIFD", kExifBase}, {"GPS", kGpsBase}, {"InteropIFD", kInteropBase}};
  return bases;
}

// The IFD0 ASCII fields that are read as text items.
const std::map<int64_t, OSType>& TextTags() {
  static const std::map<int64_t, OSType> tags = {
      {0x010E, test::Text("des")}, {0x010F, test::Text("mak")}, {0x0110, test::Text("mod")},
      {0x0131, test::Text("swr")}, {0x0132, test::Text("day")}, {0x013B, test::Text("ART")},
      {0x013C, test::Text("hst")}, {0x8298, test::Text("cpy")}};
  return tags;
}

// exiftool's format names and the TIFF field types.
uint16_t TiffTypeOf(const std::string& format) {
  static const std::map<std::string, uint16_t> types = {
      {"int8u", 1},       {"string", 2},       {"int16u", 3}, {"int32u", 4},
      {"rational64u", 5}, {"int8s", 6},        {"undef", 7},  {"int16s", 8},
      {"int32s", 9},      {"rational64s", 10}, {"float", 11}, {"double", 12}};
  auto it = types.find(format);
  return it == types.end() ? 0 : it->second;
}

uint64_t BigEndian(const Bytes& b, size_t at, size_t size) {
  uint64_t v = 0;
  for (size_t i = 0; i < size; ++i) v = v << 8 | b[at + i];
  return v;
}

// The item's numbers, decoded from big-endian bytes, as doubles.
std::vector<double> Numbers(const Bytes& b, const std::string& format) {
  std::vector<double> out;
  const uint16_t type = TiffTypeOf(format);
  const size_t size = type == 1 || type == 6                 ? 1
                      : type == 3 || type == 8               ? 2
                      : type == 4 || type == 9 || type == 11 ? 4
                                                             : 8;
  for (size_t at = 0; at + size <= b.size(); at += size) {
    const uint64_t v = BigEndian(b, at, size);
    switch (type) {
      case 1:
      case 3:
      case 4:
        out.push_back(double(v));
        break;
      case 6:
        out.push_back(double(int8_t(v)));
        break;
      case 8:
        out.push_back(double(int16_t(v)));
        break;
      case 9:
        out.push_back(double(int32_t(v)));
        break;
      case 5:
        out.push_back(double(uint32_t(v >> 32)) / double(uint32_t(v)));
        break;
      case 10:
        out.push_back(double(int32_t(v >> 32)) / double(int32_t(v)));
        break;
      case 11:
        out.push_back(double(std::bit_cast<float>(uint32_t(v))));
        break;
      case 12:
        out.push_back(std::bit_cast<double>(v));
        break;
    }
  }
  return out;
}

std::vector<double> ExifToolNumbers(const std::string& value) {
  std::vector<double> out;
  std::istringstream in(value);
  for (double v; in >> v;) out.push_back(v);
  return out;
}

// Fields whose value exiftool converts even with -n: APEX values to
// seconds and f-numbers, GPS degrees and times to one number.
bool ExifToolConvertsValue(OSType type) {
  static const OSType converted[] = {0x65789201, 0x65789202, 0x65789205, 0x67700002,
                                     0x67700004, 0x67700007, 0x67700014, 0x67700016};
  return std::find(std::begin(converted), std::end(converted), type) != std::end(converted);
}

// Every IFD0, EXIF, GPS and interoperability tag exiftool reports has its item, with the same
// field type and value; and every such item is one that exiftool reports.
void ExpectItemsMatchExifTool(const fs::path& file, UserData ud) {
  SCOPED_TRACE(file.string());
  const std::vector<test::ExifToolTag> tags =
      test::ExifToolTags(file, {"IFD0", "ExifIFD", "GPS", "InteropIFD"});
  ASSERT_FALSE(tags.empty());
  size_t numericTags = 0, textTags = 0;
  for (const test::ExifToolTag& tag : tags) {
    SCOPED_TRACE(tag.group + ":" + tag.name);
    const OSType base = GroupBases().at(tag.group);
    auto text = TextTags().find(tag.id);
    if (base == kTiffBase && text != TextTags().end() && tag.format == "string") {
      ++textTags;
      EXPECT_EQ(test::TextOf(ud, text->second), tag.value);
      EXPECT_EQ(GetUserDataItemTiffType(ud, text->second, 1), 2);
      continue;
    }
    ++numericTags;
    const OSType type = base + OSType(tag.id);
    std::optional<Bytes> item = test::ItemOf(ud, type);
    ASSERT_TRUE(item.has_value());
    EXPECT_EQ(GetUserDataItemTiffType(ud, type, 1), TiffTypeOf(tag.format));
    if (tag.format == "string") {
      ASSERT_FALSE(item->empty());
      EXPECT_EQ(item->back(), 0) << "the terminating zero stays";
      EXPECT_EQ(std::string(reinterpret_cast<const char*>(item->data())), tag.value);
    } else if (tag.format == "undef") {
      const std::string binary = "(Binary data " + std::to_string(item->size()) + " bytes";
      if (tag.value.starts_with("(Binary") && !tag.name.starts_with("MakerNote")) {
        EXPECT_TRUE(tag.value.starts_with(binary)) << tag.value;
      }
    } else if (!ExifToolConvertsValue(type)) {
      const std::vector<double> ours = Numbers(*item, tag.format);
      const std::vector<double> theirs = ExifToolNumbers(tag.value);
      ASSERT_EQ(ours.size(), theirs.size()) << tag.value;
      for (size_t i = 0; i < ours.size(); ++i) {
        EXPECT_NEAR(ours[i], theirs[i], 1e-6 * std::max(1.0, std::fabs(theirs[i])));
      }
    }
  }
  // No other EXIF, GPS or IFD0 item (IFD pointers, thumbnail fields). The
  // maker note, which exiftool reports in a group of its own, is checked by
  // its bytes elsewhere.
  size_t ourNumeric = 0, ourText = 0;
  for (OSType type = GetNextUserDataType(ud, 0); type != 0; type = GetNextUserDataType(ud, type)) {
    const OSType high = type & 0xFFFF0000;
    if ((high == kTiffBase || high == kExifBase || high == kGpsBase || high == kInteropBase) &&
        type != 0x6578927C) {
      ourNumeric += size_t(CountUserDataType(ud, type));
    }
    if (std::any_of(TextTags().begin(), TextTags().end(),
                    [type](const auto& t) { return t.second == type; })) {
      ourText += size_t(CountUserDataType(ud, type));
    }
  }
  EXPECT_EQ(ourNumeric, numericTags);
  EXPECT_EQ(ourText, textTags);
}

void ExpectItemsMatchExifTool(const fs::path& file) {
  test::OwnedUserData items = test::ReadItemsOf(file);
  ExpectItemsMatchExifTool(file, items.get());
}

// The items ReadFileMetaData finds in the file, whether or not an importer
// for its format is registered yet.
test::OwnedUserData ReadDirectly(const fs::path& file) {
  test::OwnedUserData items = test::NewList();
  const Bytes bytes = test::ReadFileBytes(file);
  EXPECT_EQ(ReadFileMetaData(ByteSpan(bytes), items.get()), noErr);
  return items;
}

class MetaDataRead : public testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(StartQuickTime(0), noErr); }
  void TearDown() override { StopQuickTime(); }

  fs::path Copy(const std::string& name, const std::string& as) {
    fs::copy_file(test::DataPath(name), dir_ / as);
    return dir_ / as;
  }
  static void RunExifTool(std::vector<std::string> args, const fs::path& file) {
    args.insert(args.begin(), {"exiftool", "-q", "-overwrite_original"});
    args.push_back(file.string());
    ASSERT_EQ(test::RunProgram(args).status, 0);
  }

  test::TempDir dir_;
};

TEST_F(MetaDataRead, CameraJpegsMatchExifTool) {
  for (const char* name : {"Canon_40D.jpg", "Nikon_D70.jpg", "gps_DSCN0010.jpg",
                           "orientation_landscape_6.jpg", "xmp_BlueSquare.jpg"}) {
    ExpectItemsMatchExifTool(test::DataPath(std::string("exif/") + name));
  }
}

TEST_F(MetaDataRead, ItemsHoldBigEndianBytesAndTexts) {
  // Canon_40D.jpg stores its fields little-endian (exiftool: ExifByteOrder II).
  test::OwnedUserData canon = test::ReadItemsOf(test::DataPath("exif/Canon_40D.jpg"));
  EXPECT_EQ(test::TextOf(canon.get(), test::Text("mak")), "Canon");
  EXPECT_EQ(test::TextOf(canon.get(), test::Text("mod")), "Canon EOS 40D");
  EXPECT_EQ(test::TextOf(canon.get(), test::Text("day")), "2008:07:31 10:38:11");
  EXPECT_EQ(test::ItemOf(canon.get(), 0x74690112), (Bytes{0, 1}));  // Orientation 1
  EXPECT_EQ(test::ItemOf(canon.get(), 0x6578829A), (Bytes{0, 0, 0, 1, 0, 0, 0, 160}));  // 1/160
  EXPECT_EQ(test::ItemOf(canon.get(), 0x65789000), (Bytes{'0', '2', '2', '1'}));
  EXPECT_EQ(test::ItemOf(canon.get(), 0x67700000), (Bytes{2, 2, 0, 0}));  // GPSVersionID
  // Pointers and the thumbnail's fields are no items.
  for (OSType pointer : {0x74698769u, 0x74698825u, 0x6578A005u, 0x74690201u, 0x74690202u}) {
    EXPECT_EQ(CountUserDataType(canon.get(), pointer), 0) << std::hex << pointer;
  }
  // The ICC profile (exiftool extracts 3161 bytes) and no text item for
  // the numeric fields.
  std::optional<Bytes> icc = test::ItemOf(canon.get(), FourCC("iccp"));
  ASSERT_TRUE(icc.has_value());
  EXPECT_EQ(icc->size(), 3144u);
  EXPECT_EQ(std::string(icc->begin() + 36, icc->begin() + 40), "acsp");
  EXPECT_EQ(CountUserDataType(canon.get(), 0x7469010F), 0);

  // gps_DSCN0010.jpg: GPS rationals, and the Nikon maker note as its bytes.
  const fs::path nikonFile = test::DataPath("exif/gps_DSCN0010.jpg");
  test::OwnedUserData nikon = test::ReadItemsOf(nikonFile);
  EXPECT_EQ(test::ItemOf(nikon.get(), 0x67700001), (Bytes{'N', 0}));
  std::optional<Bytes> latitude = test::ItemOf(nikon.get(), 0x67700002);
  ASSERT_TRUE(latitude.has_value());
  EXPECT_EQ(latitude->size(), 24u);
  std::optional<Bytes> makerNote = test::ItemOf(nikon.get(), 0x6578927C);
  ASSERT_TRUE(makerNote.has_value());
  EXPECT_EQ(makerNote->size(), 3298u);  // exiftool -v3: Tag 0x927c (3298 bytes, undef)
  EXPECT_EQ(std::string(makerNote->begin(), makerNote->begin() + 6), std::string("Nikon\0", 6));
  const Bytes file = test::ReadFileBytes(nikonFile);
  EXPECT_NE(std::search(file.begin(), file.end(), makerNote->begin(), makerNote->end()),
            file.end());
  EXPECT_EQ(GetUserDataItemTiffType(nikon.get(), 0x6578927C, 1), 7);
}

TEST_F(MetaDataRead, XmpPacketAndJpegComment) {
  const fs::path jpeg = Copy("exif/xmp_BlueSquare.jpg", "blue.jpg");
  RunExifTool({"-Comment=made by hand"}, jpeg);
  test::OwnedUserData items = test::ReadItemsOf(jpeg);
  EXPECT_EQ(test::TextOf(items.get(), test::Text("cmt")), "made by hand");
  std::optional<std::string> xmp = test::TextOf(items.get(), FourCC("xmp "));
  ASSERT_TRUE(xmp.has_value());
  EXPECT_TRUE(xmp->starts_with("<?xpacket begin=")) << xmp->substr(0, 40);
  EXPECT_NE(xmp->find("uuid:9A3B7F52214211DAB6308A7391270C13"), std::string::npos);
}

TEST_F(MetaDataRead, PngExifTextChunksAndLegacyExifText) {
  const fs::path png = Copy("pngsuite/basn2c08.png", "exif.png");
  RunExifTool({"-tagsFromFile", test::DataPath("exif/Canon_40D.jpg").string(), "-EXIF:all",
               "-PNG:Title=Blue hour", "-PNG:Author=A. Person", "-PNG:Comment=Line one"},
              png);
  ASSERT_NE(test::RunProgram({"exiftool", "-v", png.string()}).out.find("eXIf"), std::string::npos);
  ExpectItemsMatchExifTool(png);
  test::OwnedUserData items = test::ReadItemsOf(png);
  EXPECT_EQ(test::TextOf(items.get(), test::Text("nam")), "Blue hour");
  EXPECT_EQ(test::TextOf(items.get(), test::Text("aut")), "A. Person");
  EXPECT_EQ(test::TextOf(items.get(), test::Text("cmt")), "Line one");
  EXPECT_EQ(GetUserDataItemTiffType(items.get(), test::Text("nam"), 1), 0);

  // The older form: the Exif block in hexadecimal in a text chunk
  // (data/exif/HANDMADE-README.md).
  const fs::path legacy = test::DataPath("exif/legacy_raw_profile_exif.png");
  test::OwnedUserData old = test::ReadItemsOf(legacy);
  EXPECT_EQ(test::TextOf(old.get(), test::Text("mak")), "Acm");
  EXPECT_EQ(test::ItemOf(old.get(), 0x74690112), (Bytes{0, 6}));
}

TEST_F(MetaDataRead, TiffAndWebpExif) {
  const fs::path ppm = test::DataPath("codecs/gradient_djpeg.ppm");
  const fs::path tiff = dir_ / "gradient.tif";
  ASSERT_EQ(test::RunProgram({"ppm2tiff", ppm.string(), tiff.string()}).status, 0);
  RunExifTool(
      {"-tagsFromFile", test::DataPath("exif/gps_DSCN0010.jpg").string(), "-EXIF:all", "-GPS:all"},
      tiff);
  test::OwnedUserData tiffItems = ReadDirectly(tiff);
  // The file's own layout fields (ImageWidth, StripOffsets, ...) are no items.
  EXPECT_EQ(CountUserDataType(tiffItems.get(), 0x74690100), 0);
  EXPECT_EQ(CountUserDataType(tiffItems.get(), 0x74690111), 0);
  EXPECT_EQ(test::TextOf(tiffItems.get(), test::Text("mod")), "COOLPIX P6000");

  const fs::path webp = dir_ / "canon.webp";
  ASSERT_EQ(test::RunProgram({"cwebp", "-quiet", "-metadata", "all",
                              test::DataPath("exif/Canon_40D.jpg").string(), "-o", webp.string()})
                .status,
            0);
  test::OwnedUserData webpItems = ReadDirectly(webp);
  ExpectItemsMatchExifTool(webp, webpItems.get());
  EXPECT_TRUE(test::ItemOf(webpItems.get(), FourCC("iccp")).has_value());
}

TEST_F(MetaDataRead, HeifAndAvifExif) {
  for (auto [subtype, name] :
       {std::pair{FourCC("HEIC"), "out.heic"}, {FourCC("AVIF"), "out.avif"}}) {
    SCOPED_TRACE(name);
    const fs::path file = dir_ / name;
    if (!test::ExportWithItems(subtype, nullptr, false, file)) {
      GTEST_SKIP() << name << ": no exporter to make the file with";
    }
    RunExifTool({"-tagsFromFile", test::DataPath("exif/Canon_40D.jpg").string(), "-EXIF:all"},
                file);
    test::OwnedUserData items = test::ReadItemsOf(file);
    ExpectItemsMatchExifTool(file, items.get());
    EXPECT_EQ(test::TextOf(items.get(), test::Text("mak")), "Canon");
  }
}

}  // namespace
