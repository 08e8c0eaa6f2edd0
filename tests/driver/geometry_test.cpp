// The picture's geometry as the checks build it, and the metadata refit that
// reads it, worked out by hand for every way a size is asked for.
#include <gtest/gtest.h>

#include <array>
#include <regex>
#include <string>
#include <vector>

#include "base/item_types.h"
#include "base/output_geometry.h"
#include "driver/command_line/checks.h"
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

// Each expected line: the full resize, the window at its offset, the size
// written; the focal-plane resolutions from 3000/1; the panorama's full
// size, then its cropped area's size at its offset.
TEST(OutputGeometryTest, SizesWindowsAndRefitsForEveryKindOfRequest) {
  struct Case {
    const char* name;
    std::array<int32_t, 3> stored;  // width, height, orientation
    BoxRule box;
    std::array<int32_t, 3> asked;  // width, height (of the box, with one), quarter turns
    const char *sizes, *focal, *panorama;
    SampleAlignment alignment = SampleAlignment::kCorners;
  };
  const Case cases[] = {
      {"plain /w",
       {400, 200, 1},
       BoxRule::kNone,
       {200, 0, 0},
       "200x100 200x100+0+0 200x100",
       "199000/133 297000/199",
       "200x100 200x100+0+0"},
      // A crop leaves the density of the full resize; the panorama's crop
      // moves by the window.
      {"fill",
       {400, 200, 1},
       BoxRule::kFill,
       {100, 100, 0},
       "200x100 100x100+50+0 100x100",
       "199000/133 297000/199",
       "200x100 100x100+50+0"},
      {"fill, tall",
       {200, 400, 1},
       BoxRule::kFill,
       {100, 100, 0},
       "100x200 100x100+0+50 100x100",
       "297000/199 199000/133",
       "100x200 100x100+0+50"},
      {"fill, turned",
       {400, 200, 1},
       BoxRule::kFill,
       {100, 100, 1},
       "200x100 100x100+50+0 100x100",
       "297000/199 199000/133",
       "100x200 100x100+0+50"},
      {"fit",
       {400, 200, 1},
       BoxRule::kFit,
       {100, 100, 0},
       "100x50 100x50+0+0 100x50",
       "99000/133 147000/199",
       "100x50 100x50+0+0"},
      {"fit, turned",
       {400, 200, 1},
       BoxRule::kFit,
       {100, 100, 3},
       "100x50 100x50+0+0 50x100",
       "147000/199 99000/133",
       "50x100 50x100+0+0"},
      // Upright: the stored picture lies on its side; sizes refer to it upright.
      {"upright 5",
       {200, 400, 5},
       BoxRule::kNone,
       {200, 0, 0},
       "200x100 200x100+0+0 200x100",
       "199000/133 297000/199",
       "200x100 200x100+0+0"},
      {"upright 6, fill",
       {200, 400, 6},
       BoxRule::kFill,
       {100, 100, 0},
       "200x100 100x100+50+0 100x100",
       "199000/133 297000/199",
       "200x100 100x100+50+0"},
      {"upright 7, fit",
       {200, 400, 7},
       BoxRule::kFit,
       {100, 100, 0},
       "100x50 100x50+0+0 100x50",
       "99000/133 147000/199",
       "100x50 100x50+0+0"},
      {"upright 8, fill, three turns",
       {200, 400, 8},
       BoxRule::kFill,
       {100, 100, 3},
       "200x100 100x100+50+0 100x100",
       "297000/199 199000/133",
       "100x200 100x100+0+50"},
      {"half turn keeps the sides",
       {400, 200, 3},
       BoxRule::kNone,
       {200, 0, 2},
       "200x100 200x100+0+0 200x100",
       "199000/133 297000/199",
       "200x100 200x100+0+0"},
      // Centres aligned: the density scales by pixels, not intervals; the
      // sizes and windows are the same.
      {"plain /w, centres",
       {400, 200, 1},
       BoxRule::kNone,
       {200, 0, 0},
       "200x100 200x100+0+0 200x100",
       "1500/1 1500/1",
       "200x100 200x100+0+0",
       SampleAlignment::kCentres},
      {"fill, turned, centres",
       {400, 300, 1},
       BoxRule::kFill,
       {100, 120, 1},
       "160x120 100x120+30+0 120x100",
       "1200/1 1200/1",
       "120x160 120x100+0+30",
       SampleAlignment::kCentres},
  };
  auto size = [](long w, long h) { return std::to_string(w) + "x" + std::to_string(h); };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    JobSettings s;
    OutputGeometry g = StoredGeometry(c.stored[0], c.stored[1], c.stored[2]);
    s.boxRule = c.box;
    s.alignment = c.alignment;
    (c.box == BoxRule::kNone ? s.width : s.boxWidth) = c.asked[0];
    (c.box == BoxRule::kNone ? s.height : s.boxHeight) = c.asked[1];
    std::vector<Note> notes;
    ComputeOutputSize(s, &g, notes);
    ASSERT_EQ(s.errorCount, 0);
    g.quarterTurns = c.asked[2];
    EXPECT_EQ(size(g.fullWidth, g.fullHeight) + " " + size(g.windowWidth, g.windowHeight) + "+" +
                  std::to_string(g.windowLeft) + "+" + std::to_string(g.windowTop) + " " +
                  size(WrittenWidth(g), WrittenHeight(g)),
              c.sizes);

    test::MetaList list;
    list.Add(kFocalPlaneX, {0, 0, 0x0B, 0xB8, 0, 0, 0, 1});
    list.Add(kRelatedImageWidth, {0, 0, 0x01, 0x90});
    const std::string packet = PanoramaPacket(g.sourceWidth, g.sourceHeight);
    list.Add(kXmpItem, Bytes(packet.begin(), packet.end()));
    AdjustMetaData(list.get(), g);
    EXPECT_EQ(RationalText(list.Item(kFocalPlaneX)) + " " + RationalText(list.Item(kFocalPlaneY)),
              c.focal);
    EXPECT_EQ(Extent(list.Item(kRelatedImageWidth)), uint32_t(WrittenWidth(g)));
    const Bytes refitted = list.Item(kXmpItem).value_or(Bytes());
    const std::string xmp(refitted.begin(), refitted.end());
    EXPECT_EQ(size(Field(xmp, "FullPanoWidthPixels"), Field(xmp, "FullPanoHeightPixels")) + " " +
                  size(Field(xmp, "CroppedAreaImageWidthPixels"),
                       Field(xmp, "CroppedAreaImageHeightPixels")) +
                  "+" + std::to_string(Field(xmp, "CroppedAreaLeftPixels")) + "+" +
                  std::to_string(Field(xmp, "CroppedAreaTopPixels")),
              c.panorama);
  }
}

}  // namespace
