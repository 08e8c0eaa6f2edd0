// The picture's geometry as the checks build it, and the metadata refit that
// reads it, worked out by hand for every way a size is asked for.
#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <vector>

#include "base/item_types.h"
#include "base/output_geometry.h"
#include "driver/checks.h"
#include "metadata/adjust.h"
#include "metadata/meta_list.h"

namespace {

using test::Bytes;

constexpr OSType kFocalPlaneX = kExifItemBase + 0xA20E;
constexpr OSType kFocalPlaneY = kExifItemBase + 0xA20F;
constexpr OSType kRelatedImageWidth = kInteropItemBase + 0x1001;

std::string PanoramaPacket(int32_t width, int32_t height) {
  const std::string w = std::to_string(width);
  const std::string h = std::to_string(height);
  return "<x:xmpmeta xmlns:x=\"adobe:ns:meta/\"><rdf:RDF "
         "xmlns:rdf=\"http://www.w3.org/1999/02/22-rdf-syntax-ns#\"><rdf:Description "
         "xmlns:GPano=\"http://ns.google.com/photos/1.0/panorama/\" "
         "GPano:FullPanoWidthPixels=\"" +
         w + "\" GPano:FullPanoHeightPixels=\"" + h + "\" GPano:CroppedAreaImageWidthPixels=\"" +
         w + "\" GPano:CroppedAreaImageHeightPixels=\"" + h +
         "\" GPano:CroppedAreaLeftPixels=\"0\" GPano:CroppedAreaTopPixels=\"0\"/>"
         "</rdf:RDF></x:xmpmeta>";
}

long Field(const std::string& packet, const std::string& name) {
  std::smatch m;
  if (!std::regex_search(packet, m, std::regex("GPano:" + name + "=\"([0-9]+)\""))) return -1;
  return std::stol(m[1]);
}

uint32_t Word(const Bytes& b, size_t at) {
  return uint32_t(b[at]) << 24 | uint32_t(b[at + 1]) << 16 | uint32_t(b[at + 2]) << 8 | b[at + 3];
}

std::string RationalText(const std::optional<Bytes>& b) {
  if (!b || b->size() != 8) return "absent";
  return std::to_string(Word(*b, 0)) + "/" + std::to_string(Word(*b, 4));
}

uint32_t Extent(const std::optional<Bytes>& b) {
  if (!b) return 0;
  return b->size() == 2 ? uint32_t((*b)[0]) << 8 | (*b)[1] : Word(*b, 0);
}

TEST(OutputGeometryTest, SizesWindowsAndRefitsForEveryKindOfRequest) {
  struct Case {
    const char* name;
    int32_t storedWidth, storedHeight, orientation;
    BoxRule box;
    int32_t width, height, quarterTurns;  // the box's size with a box
    // Expected: the full resize, the window, the size written.
    int32_t fullWidth, fullHeight, left, top, windowWidth, windowHeight;
    int32_t writtenWidth, writtenHeight;
    const char *focalX, *focalY;    // from 3000/1
    long panoFull[2], panoCrop[4];  // width, height; width, height, left, top
  };
  const Case cases[] = {
      {"plain /w",
       400,
       200,
       1,
       BoxRule::kNone,
       200,
       0,
       0,
       200,
       100,
       0,
       0,
       200,
       100,
       200,
       100,
       "199000/133",
       "297000/199",
       {200, 100},
       {200, 100, 0, 0}},
      // A crop leaves the density of the full resize; the panorama's crop
      // moves by the window.
      {"fill",
       400,
       200,
       1,
       BoxRule::kFill,
       100,
       100,
       0,
       200,
       100,
       50,
       0,
       100,
       100,
       100,
       100,
       "199000/133",
       "297000/199",
       {200, 100},
       {100, 100, 50, 0}},
      {"fill, tall",
       200,
       400,
       1,
       BoxRule::kFill,
       100,
       100,
       0,
       100,
       200,
       0,
       50,
       100,
       100,
       100,
       100,
       "297000/199",
       "199000/133",
       {100, 200},
       {100, 100, 0, 50}},
      {"fill, turned",
       400,
       200,
       1,
       BoxRule::kFill,
       100,
       100,
       1,
       200,
       100,
       50,
       0,
       100,
       100,
       100,
       100,
       "297000/199",
       "199000/133",
       {100, 200},
       {100, 100, 0, 50}},
      {"fit",         400,          200,       1,
       BoxRule::kFit, 100,          100,       0,
       100,           50,           0,         0,
       100,           50,           100,       50,
       "99000/133",   "147000/199", {100, 50}, {100, 50, 0, 0}},
      {"fit, turned", 400,         200,       1,
       BoxRule::kFit, 100,         100,       3,
       100,           50,          0,         0,
       100,           50,          50,        100,
       "147000/199",  "99000/133", {50, 100}, {50, 100, 0, 0}},
      // Upright: the stored picture lies on its side; sizes refer to it upright.
      {"upright 5",
       200,
       400,
       5,
       BoxRule::kNone,
       200,
       0,
       0,
       200,
       100,
       0,
       0,
       200,
       100,
       200,
       100,
       "199000/133",
       "297000/199",
       {200, 100},
       {200, 100, 0, 0}},
      {"upright 6, fill",
       200,
       400,
       6,
       BoxRule::kFill,
       100,
       100,
       0,
       200,
       100,
       50,
       0,
       100,
       100,
       100,
       100,
       "199000/133",
       "297000/199",
       {200, 100},
       {100, 100, 50, 0}},
      {"upright 7, fit",
       200,
       400,
       7,
       BoxRule::kFit,
       100,
       100,
       0,
       100,
       50,
       0,
       0,
       100,
       50,
       100,
       50,
       "99000/133",
       "147000/199",
       {100, 50},
       {100, 50, 0, 0}},
      {"upright 8, fill, three turns",
       200,
       400,
       8,
       BoxRule::kFill,
       100,
       100,
       3,
       200,
       100,
       50,
       0,
       100,
       100,
       100,
       100,
       "297000/199",
       "199000/133",
       {100, 200},
       {100, 100, 0, 50}},
      {"half turn keeps the sides",
       400,
       200,
       3,
       BoxRule::kNone,
       200,
       0,
       2,
       200,
       100,
       0,
       0,
       200,
       100,
       200,
       100,
       "199000/133",
       "297000/199",
       {200, 100},
       {200, 100, 0, 0}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    JobSettings s;
    s.geometry = StoredGeometry(c.storedWidth, c.storedHeight, c.orientation);
    s.boxRule = c.box;
    (c.box == BoxRule::kNone ? s.width : s.boxWidth) = c.width;
    (c.box == BoxRule::kNone ? s.height : s.boxHeight) = c.height;
    std::vector<Note> notes;
    ComputeOutputSize(s, notes);
    ASSERT_EQ(s.errorCount, 0);
    s.geometry.quarterTurns = c.quarterTurns;
    const OutputGeometry& g = s.geometry;
    EXPECT_EQ(std::vector<int32_t>({g.fullWidth, g.fullHeight, g.windowLeft, g.windowTop,
                                    g.windowWidth, g.windowHeight}),
              std::vector<int32_t>(
                  {c.fullWidth, c.fullHeight, c.left, c.top, c.windowWidth, c.windowHeight}));
    EXPECT_EQ(WrittenWidth(g), c.writtenWidth);
    EXPECT_EQ(WrittenHeight(g), c.writtenHeight);

    test::MetaList list;
    list.Add(kFocalPlaneX, {0, 0, 0x0B, 0xB8, 0, 0, 0, 1});
    list.Add(kRelatedImageWidth, {0, 0, 0x01, 0x90});
    const std::string packet = PanoramaPacket(g.sourceWidth, g.sourceHeight);
    list.Add(kXmpItem, Bytes(packet.begin(), packet.end()));
    AdjustMetaData(list.get(), g);
    EXPECT_EQ(RationalText(list.Item(kFocalPlaneX)), c.focalX);
    EXPECT_EQ(RationalText(list.Item(kFocalPlaneY)), c.focalY);
    EXPECT_EQ(Extent(list.Item(kRelatedImageWidth)), uint32_t(c.writtenWidth));
    const Bytes refitted = list.Item(kXmpItem).value_or(Bytes());
    const std::string xmp(refitted.begin(), refitted.end());
    EXPECT_EQ(Field(xmp, "FullPanoWidthPixels"), c.panoFull[0]);
    EXPECT_EQ(Field(xmp, "FullPanoHeightPixels"), c.panoFull[1]);
    EXPECT_EQ(Field(xmp, "CroppedAreaImageWidthPixels"), c.panoCrop[0]);
    EXPECT_EQ(Field(xmp, "CroppedAreaImageHeightPixels"), c.panoCrop[1]);
    EXPECT_EQ(Field(xmp, "CroppedAreaLeftPixels"), c.panoCrop[2]);
    EXPECT_EQ(Field(xmp, "CroppedAreaTopPixels"), c.panoCrop[3]);
  }
}

}  // namespace
