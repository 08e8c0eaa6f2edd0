// Gain maps through the real program: a JPEG with an HDR gain map, made
// here in the two layouts phones write (Ultra HDR: hdrgm XMP and a
// container directory; ISO 21496-1: binary segments), resized with /m. The
// output's gain map is taken out by exiftool, which reads the MPF index.
#include <gtest/gtest.h>

#include <turbojpeg.h>

#include <cstring>
#include <string>
#include <vector>

#include "driver/command_line/checks.h"
#include "driver/job/image_job.h"
#include "imageio/export.h"
#include "metadata/drop_items.h"
#include "platform/quicktime.h"
#include "test_support.h"

namespace {

using Bytes = std::vector<uint8_t>;

constexpr int kWidth = 64;
constexpr int kHeight = 48;
constexpr int kMapWidth = 16;
constexpr int kMapHeight = 12;
const std::string kIsoName("urn:iso:std:iso:ts:21496:-1", 28);  // with its zero
const std::string kGainMapXmp =
    "<x:xmpmeta xmlns:x=\"adobe:ns:meta/\"><rdf:RDF "
    "xmlns:rdf=\"http://www.w3.org/1999/02/22-rdf-syntax-ns#\"><rdf:Description "
    "xmlns:hdrgm=\"http://ns.adobe.com/hdr-gain-map/1.0/\" hdrgm:Version=\"1.0\" "
    "hdrgm:GainMapMax=\"2.5\" hdrgm:HDRCapacityMax=\"2.5\"/></rdf:RDF></x:xmpmeta>";

Bytes Encode(const Bytes& pixels, int width, int height, int pixelFormat) {
  tjhandle handle = tjInitCompress();
  unsigned char* jpeg = nullptr;
  unsigned long size = 0;
  const int grey = pixelFormat == TJPF_GRAY;
  tjCompress2(handle, pixels.data(), width, 0, height, pixelFormat, &jpeg, &size,
              grey ? TJSAMP_GRAY : TJSAMP_444, 95, 0);
  Bytes out(jpeg, jpeg + size);
  tjFree(jpeg);
  tjDestroy(handle);
  return out;
}

Bytes Segment(uint8_t marker, const std::string& name, const Bytes& payload) {
  const size_t length = 2 + name.size() + payload.size();
  Bytes s;
  s.reserve(2 + length);
  for (uint8_t b : {uint8_t(0xFF), marker, uint8_t(length >> 8), uint8_t(length)}) s.push_back(b);
  s.insert(s.end(), name.begin(), name.end());
  s.insert(s.end(), payload.begin(), payload.end());
  return s;
}

Bytes Xmp(const std::string& packet) {
  return Segment(0xE1, std::string("http://ns.adobe.com/xap/1.0/", 29),
                 Bytes(packet.begin(), packet.end()));
}

// The encoded file with segments put right after its start marker.
Bytes WithSegments(const Bytes& jpeg, const Bytes& segments) {
  Bytes out = jpeg;
  out.insert(out.begin() + 2, segments.begin(), segments.end());
  return out;
}

void Put32Little(uint32_t v, Bytes* out) {
  for (int i = 0; i < 4; ++i) out->push_back(uint8_t(v >> (8 * i)));
}

// An MPF index in little-endian order (the program writes big-endian) of
// `entries` entries: a primary of primaryBytes and a second image of
// secondBytes right after it, then empty ones; the index's TIFF header is
// at base.
Bytes MpfSegment(uint32_t primaryBytes, uint32_t secondBytes, uint32_t base, uint32_t entries) {
  Bytes tiff = {'I', 'I', 0x2A, 0};
  Put32Little(8, &tiff);
  tiff.insert(tiff.end(), {2, 0});
  tiff.insert(tiff.end(), {0x00, 0xB0, 7, 0, 4, 0, 0, 0, '0', '1', '0', '0'});
  tiff.insert(tiff.end(), {0x02, 0xB0, 7, 0});
  Put32Little(16 * entries, &tiff);
  Put32Little(8 + 2 + 24 + 4, &tiff);
  Put32Little(0, &tiff);
  for (uint32_t v : {0x20030000u, primaryBytes, 0u, 0u, 0u, secondBytes, primaryBytes - base, 0u}) {
    Put32Little(v, &tiff);
  }
  tiff.resize(tiff.size() + 16 * (entries - 2));
  return Segment(0xE2, std::string("MPF\0", 4), tiff);
}

struct HdrShape {
  int width = kWidth, height = kHeight;
  int mapWidth = kMapWidth, mapHeight = kMapHeight;
  uint32_t entries = 2;  // in the MPF index
};

// A picture stored on its side (EXIF orientation 6) whose grey gain map
// (16 x 12 for the 64 x 48 picture unless shaped otherwise) is bright on its
// left half and dark on its right, in either layout.
Bytes MakeHdrJpeg(bool iso, const HdrShape& shape = {}) {
  Bytes picture(size_t(shape.width) * shape.height * 3);
  for (size_t i = 0; i < picture.size(); ++i) picture[i] = uint8_t(i * 7);
  Bytes map(size_t(shape.mapWidth) * shape.mapHeight);
  for (size_t i = 0; i < map.size(); ++i) {
    map[i] = int(i % shape.mapWidth) < shape.mapWidth / 2 ? 220 : 30;
  }
  const Bytes isoMetadata = {0, 0, 0, 0, 0x4C, 0x50, 0x01, 0x02, 0x03};
  const Bytes mapSegments = iso ? Segment(0xE2, kIsoName, isoMetadata) : Xmp(kGainMapXmp);
  const Bytes mapFile =
      WithSegments(Encode(map, shape.mapWidth, shape.mapHeight, TJPF_GRAY), mapSegments);

  const Bytes exif = {'M', 'M', 0, 0x2A, 0, 0, 0, 8, 0, 1, 0x01, 0x12, 0,
                      3,   0,   0, 0,    1, 0, 6, 0, 0, 0, 0,    0,    0};
  Bytes head = Segment(0xE1, std::string("Exif\0\0", 6), exif);
  Bytes described;
  if (iso) {
    described = Segment(0xE2, kIsoName, {0, 0, 0, 0});
  } else {
    described = Xmp(
        "<x:xmpmeta xmlns:x=\"adobe:ns:meta/\"><rdf:RDF "
        "xmlns:rdf=\"http://www.w3.org/1999/02/22-rdf-syntax-ns#\"><rdf:Description "
        "xmlns:Container=\"http://ns.google.com/photos/1.0/container/\" "
        "xmlns:Item=\"http://ns.google.com/photos/1.0/container/item/\" "
        "xmlns:hdrgm=\"http://ns.adobe.com/hdr-gain-map/1.0/\" hdrgm:Version=\"1.0\">"
        "<Container:Directory><rdf:Seq><rdf:li rdf:parseType=\"Resource\">"
        "<Container:Item Item:Semantic=\"Primary\" Item:Mime=\"image/jpeg\"/></rdf:li>"
        "<rdf:li rdf:parseType=\"Resource\"><Container:Item Item:Semantic=\"GainMap\" "
        "Item:Mime=\"image/jpeg\" Item:Length=\"" +
        std::to_string(mapFile.size()) +
        "\"/></rdf:li></rdf:Seq></Container:Directory></rdf:Description></rdf:RDF></x:xmpmeta>");
  }
  head.insert(head.end(), described.begin(), described.end());
  const Bytes primary = Encode(picture, shape.width, shape.height, TJPF_RGB);
  const size_t mpfBytes = MpfSegment(0, 0, 0, shape.entries).size();
  const uint32_t primaryBytes = uint32_t(primary.size() + head.size() + mpfBytes);
  const uint32_t base = uint32_t(2 + head.size() + 4 + 4);
  Bytes segments = head;
  const Bytes mpf = MpfSegment(primaryBytes, uint32_t(mapFile.size()), base, shape.entries);
  segments.insert(segments.end(), mpf.begin(), mpf.end());
  Bytes file = WithSegments(primary, segments);
  file.insert(file.end(), mapFile.begin(), mapFile.end());
  return file;
}

bool Holds(const Bytes& bytes, const std::string& text) {
  return std::search(bytes.begin(), bytes.end(), text.begin(), text.end()) != bytes.end();
}

// The number after `name="` in the file's text, or -1.
long NumberAfter(const Bytes& bytes, const std::string& name) {
  const std::string text(bytes.begin(), bytes.end());
  const size_t at = text.find(name + "=\"");
  return at == std::string::npos ? -1 : std::stol(text.substr(at + name.size() + 2));
}

struct Decoded {
  int width = 0;
  int height = 0;
  Bytes grey;
};

Decoded DecodeGrey(const Bytes& jpeg) {
  Decoded d;
  tjhandle handle = tjInitDecompress();
  int subsampling = 0;
  int colourspace = 0;
  if (tjDecompressHeader3(handle, jpeg.data(), jpeg.size(), &d.width, &d.height, &subsampling,
                          &colourspace) == 0) {
    d.grey.resize(size_t(d.width) * d.height);
    tjDecompress2(handle, jpeg.data(), jpeg.size(), d.grey.data(), d.width, 0, d.height, TJPF_GRAY,
                  0);
  }
  tjDestroy(handle);
  return d;
}

double Mean(const Decoded& d, int x0, int y0, int x1, int y1) {
  double sum = 0;
  for (int y = y0; y < y1; ++y) {
    for (int x = x0; x < x1; ++x) sum += d.grey[size_t(y) * d.width + x];
  }
  return sum / ((x1 - x0) * (y1 - y0));
}

class GainMapRun : public ::testing::Test {
 protected:
  test::TempDir dir_;
};

TEST_F(GainMapRun, IsResizedTurnedAndIndexedWithThePicture) {
  struct Case {
    const char* name;
    bool iso;
    std::vector<std::string> args;
    int width, height;  // of the output's gain map; 0: none
    char bright;        // the side the source's bright left half ends on: l, t, r, b;
                        // h: the window's left half exactly
  };
  const Case cases[] = {
      {"ultra hdr, turned", false, {"/m", "/w", "32", "/h", "24", "/r", "90"}, 6, 8, 't'},
      {"iso, odd size", true, {"/m", "/w", "40", "/h", "30"}, 10, 8, 'l'},
      {"fill crop", false, {"/m", "//fill", "32", "32"}, 8, 8, 'l'},
      {"fill crop, centres", false, {"/m", "//centre", "//fill", "32", "32"}, 8, 8, 'l'},
      // Unscaled, the window at column 20 of 64: the map's is its columns 5
      // to 10 of 16, the first three bright.
      {"fill window offset", false, {"/m", "//fill", "24", "48"}, 6, 12, 'h'},
      {"upright", false, {"/m", "//upright", "/w", "24", "/h", "32"}, 6, 8, 't'},
      {"half turn", true, {"/m", "/w", "32", "/h", "24", "/r", "180"}, 8, 6, 'r'},
      {"without /m", false, {"/w", "32", "/h", "24"}, 0, 0, 0},
      {"dropped", false, {"/m", "//drop", "gainmap", "/w", "32", "/h", "24"}, 0, 0, 0},
      {"png output", false, {"/m", "/w", "32", "/h", "24", "/c", "png"}, 0, 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Bytes source = MakeHdrJpeg(c.iso);
    test::WriteFileBytes(dir_ / "in.jpg", source);
    std::vector<std::string> args = c.args;
    for (const char* word : {"/o", "out.jpg", "in.jpg"}) args.push_back(word);
    const test::RunResult run = test::RunTavrel(args, dir_.path().string());
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err, "");
    const std::string out = (dir_ / "out.jpg").string();
    const test::RunResult extracted = test::RunProgram({"exiftool", "-b", "-MPImage2", out});
    const Bytes map(extracted.out.begin(), extracted.out.end());
    if (c.width == 0) {
      EXPECT_TRUE(map.empty());
      // Nor does the copied XMP say that one follows.
      const Bytes output = test::ReadFileBytes(out);
      EXPECT_FALSE(Holds(output, "\"GainMap\"") || Holds(output, "hdrgm:Version"));
      continue;
    }
    const Decoded d = DecodeGrey(map);
    ASSERT_EQ(d.width, c.width);
    ASSERT_EQ(d.height, c.height);
    const Bytes output = test::ReadFileBytes(out);
    if (c.iso) {
      EXPECT_TRUE(Holds(map, kIsoName + std::string("\0\0\0\0\x4C\x50\x01\x02\x03", 9)));
      EXPECT_TRUE(Holds(output, kIsoName + std::string(4, '\0')));
    } else {
      EXPECT_TRUE(Holds(map, "hdrgm:GainMapMax=\"2.5\""));
      EXPECT_EQ(NumberAfter(output, "Item:Length"), long(map.size()));
    }
    const int w = d.width;
    const int h = d.height;
    const double left = Mean(d, 0, 0, w / 2, h);
    const double right = Mean(d, w - w / 2, 0, w, h);
    const double top = Mean(d, 0, 0, w, h / 2);
    const double bottom = Mean(d, 0, h - h / 2, w, h);
    const double margin = 60;
    switch (c.bright) {
      case 'l':
        EXPECT_GT(left, right + margin);
        break;
      case 'r':
        EXPECT_GT(right, left + margin);
        break;
      case 't':
        EXPECT_GT(top, bottom + margin);
        break;
      case 'h':
        EXPECT_GT(left, 180);
        EXPECT_LT(right, 70);
        break;
    }
  }
}

// Maps that are not what the picture's index says: a map larger than the
// picture is fitted to the picture's output size at most; one that cannot
// be read (cut off, or the second image is no gain map) is left out, and
// the copied XMP no longer announces it; an index of more than 16 entries
// is read.
TEST_F(GainMapRun, HostileMapsAreBoundedOrUnlisted) {
  Bytes foreign = MakeHdrJpeg(false);
  const std::string marker = "hdr-gain-map";
  auto at = std::search(foreign.begin() + long(foreign.size() / 2), foreign.end(), marker.begin(),
                        marker.end());
  ASSERT_NE(at, foreign.end());
  *at = 'x';  // the second image's XMP no longer names the namespace
  const Bytes whole = MakeHdrJpeg(false);
  struct Case {
    const char* name;
    Bytes source;
    const char* width;        // asked of the picture
    int mapWidth, mapHeight;  // of the output's gain map; 0: none
  };
  const Case cases[] = {
      {"map 10 times the picture", MakeHdrJpeg(false, {40, 30, 400, 300, 2}), "400", 400, 300},
      {"larger still, enlarged", MakeHdrJpeg(true, {40, 30, 400, 300, 2}), "1000", 1000, 750},
      {"17 index entries", MakeHdrJpeg(false, {kWidth, kHeight, kMapWidth, kMapHeight, 17}), "32",
       8, 6},
      {"cut off", Bytes(whole.begin(), whole.end() - 40), "32", 0, 0},
      {"foreign second image", foreign, "32", 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    test::WriteFileBytes(dir_ / "in.jpg", c.source);
    const test::RunResult run =
        test::RunTavrel({"/m", "/w", c.width, "/o", "out.jpg", "in.jpg"}, dir_.path().string());
    ASSERT_EQ(run.status, 0) << run.err;
    const std::string out = (dir_ / "out.jpg").string();
    const test::RunResult extracted = test::RunProgram({"exiftool", "-b", "-MPImage2", out});
    const Decoded d = DecodeGrey(Bytes(extracted.out.begin(), extracted.out.end()));
    EXPECT_EQ(d.width, c.mapWidth);
    EXPECT_EQ(d.height, c.mapHeight);
    if (c.mapWidth == 0) {
      const Bytes output = test::ReadFileBytes(out);
      EXPECT_FALSE(Holds(output, "\"GainMap\"") || Holds(output, "hdrgm:Version"));
    }
  }
}

}  // namespace

namespace {

// What the job says it did with the map: fitted where JPEG carries it,
// left out by //drop or by an output that holds none, nothing without /m.
TEST_F(GainMapRun, FactsSayWhetherTheMapWasFittedOrLeftOut) {
  ASSERT_EQ(StartQuickTime(0), noErr);
  test::WriteFileBytes(dir_ / "in.jpg", MakeHdrJpeg(false));
  struct Case {
    const char* name;
    bool copyMetadata;
    uint32_t drop;
    const char* output;
    GainMapFate fate;
  };
  const Case cases[] = {
      {"JPEG with /m", true, 0, "out.jpg", GainMapFate::kFitted},
      {"//drop gainmap", true, kDropGainMap, "out.jpg", GainMapFate::kLeftOut},
      {"PNG with /m", true, 0, "out.png", GainMapFate::kLeftOut},
      {"without /m", false, 0, "out.jpg", GainMapFate::kNone},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    JobSettings s;
    s.inputPath = (dir_ / "in.jpg").string();
    s.outputName = (dir_ / c.output).string();
    s.width = 32;
    s.copyMetadata = c.copyMetadata;
    s.dropItems = c.drop;
    s.exportSettings.codec = kCodecFromFileName;
    std::vector<Note> notes;
    RunChecks(s, notes);
    ASSERT_EQ(s.errorCount, 0);
    const JobResult result = RunImageJob(s);
    ASSERT_EQ(result.code, noErr);
    EXPECT_EQ(result.facts.gainMap, c.fate);
  }
}

}  // namespace
