#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "codecs/common/row_packer.h"
#include "codecs/format_test_util.h"
#include "codecs/jpeg/jpeg_codec.h"
#include "codecs/jxl/jxl_codec.h"
#include "platform/graphics_import.h"
#include "platform/quicktime.h"

namespace {

using test::ArgbAt;
using test::DecodeWith;
using test::EncodeWith;
using test::Sample16At;
using test::Span;

// Smooth, so that lossy coding keeps it close, with low bits that an 8-bit
// path would lose.
test::OwnedGWorld MakeDeepPicture(int32_t w, int32_t h) {
  test::OwnedGWorld gw = test::MakeGWorld(k64ARGBPixelFormat, w, h);
  for (int32_t y = 0; y < h; ++y) {
    for (int32_t x = 0; x < w; ++x) {
      for (int i = 0; i < 4; ++i) {
        test::SetSample16(*gw, x, y, i, uint16_t(x * 900 + y * 600 + i * 4000 + (x * y & 7)));
      }
    }
  }
  return gw;
}

// The largest difference of a sample between two buffers of one format;
// alpha only when asked, grey as the luma of the source.
int WorstSample(const GWorld& got, const GWorld& want, bool alpha, bool grey) {
  const bool deep = got.pixMap.pixelSize == 64;
  int worst = 0;
  for (int32_t y = 0; y < got.pixMap.bounds.bottom; ++y) {
    for (int32_t x = 0; x < got.pixMap.bounds.right; ++x) {
      int g[4], w[4];  // A, R, G, B
      for (int i = 0; i < 4; ++i) {
        g[i] = deep ? Sample16At(got, x, y, i) : int(ArgbAt(got, x, y) >> (24 - 8 * i) & 255);
        w[i] = deep ? Sample16At(want, x, y, i) : int(ArgbAt(want, x, y) >> (24 - 8 * i) & 255);
      }
      if (grey) w[1] = w[2] = w[3] = Luma8(w[1], w[2], w[3]);
      for (int i = alpha ? 0 : 1; i < 4; ++i) worst = std::max(worst, std::abs(g[i] - w[i]));
      if (!alpha) worst = std::max(worst, std::abs(g[0] - (deep ? 65535 : 255)));
    }
  }
  return worst;
}

TEST(JxlCodec, IdentityAndSniff) {
  EXPECT_EQ(kJxlImporter.format->subtype, FourCC("JXL "));
  EXPECT_EQ(kJxlExporter.format->subtype, FourCC("JXL "));
  EXPECT_EQ(DefaultExtension(*kJxlExporter.format), FourCC("jxl "));
  EXPECT_EQ(kJxlImporter.name().rfind("JPEG XL (libjxl 0.", 0), 0u) << kJxlImporter.name();
  const std::vector<uint8_t> codestream = {0xFF, 0x0A, 0x00, 0x00};
  const std::vector<uint8_t> container = {0,   0,   0,    0x0C, 'J',  'X',
                                          'L', ' ', 0x0D, 0x0A, 0x87, 0x0A};
  const std::vector<uint8_t> png = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
  EXPECT_TRUE(kJxlImporter.sniff(Span(codestream)));
  EXPECT_TRUE(kJxlImporter.sniff(Span(container)));
  EXPECT_FALSE(kJxlImporter.sniff(Span(png)));
}

TEST(JxlCodec, RoundTrips) {
  test::OwnedGWorld shallow = test::MakeTestPicture(40, 28, /*varyAlpha=*/true);
  test::OwnedGWorld deep = MakeDeepPicture(40, 28);
  struct Case {
    const GWorld* source;
    int32_t quality, depth;
    OSType preferred;
    int worst;  // the largest sample error allowed
  } cases[] = {
      {shallow.get(), 1024, 32, 0, 0},
      {shallow.get(), 1024, 24, 0, 0},
      {shallow.get(), 1024, 8, 0, 0},
      {deep.get(), 1024, 32, FourCC("b64a"), 0},
      {deep.get(), 1024, 24, FourCC("b48r"), 0},
      {shallow.get(), 900, 24, 0, 40},
      {deep.get(), 900, 32, FourCC("b64a"), 40 * 257},
  };
  const std::string printed = test::StderrOf([&] {
    for (const Case& c : cases) {
      SCOPED_TRACE(testing::Message()
                   << c.quality << " " << c.depth << " " << c.source->pixMap.pixelSize);
      OSErr err = 1;
      std::vector<uint8_t> file = EncodeWith(kJxlExporter, *c.source, c.quality, c.depth, &err);
      ASSERT_EQ(err, noErr);
      EXPECT_TRUE(kJxlImporter.sniff(Span(file)));
      const bool deepFile = c.preferred != 0;
      test::Decoded d =
          DecodeWith(kJxlImporter, file, deepFile ? k64ARGBPixelFormat : k32ARGBPixelFormat);
      ASSERT_EQ(d.err, noErr);
      EXPECT_EQ(d.header.width, 40);
      EXPECT_EQ(d.header.height, 28);
      EXPECT_EQ(d.header.preferredPixelFormat, c.preferred);
      EXPECT_LE(WorstSample(*d.image, *c.source, c.depth == 32, c.depth == 8), c.worst);
    }
  });
  EXPECT_EQ(printed, "");
}

// A binary PPM or PAM of 8-bit samples, as djxl writes them, as ARGB.
std::vector<uint32_t> ReadNetpbmFile(const std::filesystem::path& path) {
  const std::vector<uint8_t> bytes = test::ReadFileBytes(path);
  std::istringstream in(std::string(bytes.begin(), bytes.end()));
  std::string magic, key;
  int width = 0, height = 0, channels = 3, maxval = 0;
  in >> magic;
  if (magic == "P7") {
    while (in >> key && key != "ENDHDR") {
      if (key == "WIDTH") in >> width;
      if (key == "HEIGHT") in >> height;
      if (key == "DEPTH") in >> channels;
      if (key != "WIDTH" && key != "HEIGHT" && key != "DEPTH") in.ignore(1000, '\n');
    }
  } else {
    in >> width >> height >> maxval;
  }
  const uint8_t* p = bytes.data() + size_t(in.tellg()) + 1;
  std::vector<uint32_t> argb;
  for (int i = 0; i < width * height; ++i, p += channels) {
    argb.push_back(test::Argb(channels == 4 ? p[3] : 255, p[0], p[1], p[2]));
  }
  return argb;
}

std::vector<uint32_t> PixelsOf(const GWorld& gw) {
  std::vector<uint32_t> argb;
  for (int32_t y = 0; y < gw.pixMap.bounds.bottom; ++y) {
    for (int32_t x = 0; x < gw.pixMap.bounds.right; ++x) argb.push_back(ArgbAt(gw, x, y));
  }
  return argb;
}

// libjxl's own tools read what the exporter writes, and the importer reads
// what they write, a JPEG recompressed losslessly among it.
TEST(JxlCodec, AgreesWithCjxlAndDjxl) {
  test::TempDir dir;
  test::OwnedGWorld source = test::MakeTestPicture(40, 28, /*varyAlpha=*/true);
  test::WriteFileBytes(dir / "ours.jxl", EncodeWith(kJxlExporter, *source, 1024, 32));
  ASSERT_EQ(
      test::RunProgram({"djxl", (dir / "ours.jxl").string(), (dir / "ours.pam").string()}).status,
      0);
  EXPECT_EQ(ReadNetpbmFile(dir / "ours.pam"), PixelsOf(*source));

  test::WriteFileBytes(dir / "in.jpg", EncodeWith(kJpegExporter, *source, 800, 24));
  ASSERT_EQ(
      test::RunProgram({"cjxl", (dir / "in.jpg").string(), (dir / "jpeg.jxl").string()}).status, 0);
  ASSERT_EQ(
      test::RunProgram({"djxl", (dir / "jpeg.jxl").string(), (dir / "jpeg.ppm").string()}).status,
      0);
  test::Decoded d =
      DecodeWith(kJxlImporter, test::ReadFileBytes(dir / "jpeg.jxl"), k32ARGBPixelFormat);
  ASSERT_EQ(d.err, noErr);
  EXPECT_EQ(PixelsOf(*d.image), ReadNetpbmFile(dir / "jpeg.ppm"));
}

TEST(JxlCodec, DamagedInputFailsCleanlyAndSilently) {
  test::OwnedGWorld source = test::MakeTestPicture(64, 48);
  const std::vector<uint8_t> file = EncodeWith(kJxlExporter, *source, 900, 24);
  // libjxl prints on damage: the importer, which its format's record tells
  // so, keeps it quiet.
  ASSERT_EQ(StartQuickTime(0), noErr);
  const std::string printed = test::StderrOf([&] {
    for (double fraction : {0.5, 0.9}) {
      const std::vector<uint8_t> cut = test::Truncated(file, fraction);
      test::OwnedGWorld dst = test::MakeGWorld(k32ARGBPixelFormat, 64, 48);
      GraphicsImportComponent importer = nullptr;
      ASSERT_EQ(GetGraphicsImporterForData(cut, &importer), noErr);
      GraphicsImportSetGWorld(importer, dst.get(), nullptr);
      EXPECT_EQ(GraphicsImportDraw(importer), codecErr) << fraction;
      CloseComponent(importer);
    }
  });
  StopQuickTime();
  EXPECT_EQ(printed, "");
}

}  // namespace

// Grey has no primaries: grey on the sRGB curve is described as sRGB, grey
// in linear light by the profile libjxl makes for it.
TEST(JxlCodec, GreyColourIsDescribedWithoutPrimaries) {
  test::TempDir dir;
  test::OwnedGWorld picture = test::MakeTestPicture(16, 12);
  ASSERT_EQ(test::RunProgram({"cjxl", test::DataPath("pngsuite/g10n0g16.png").string(),
                              (dir / "linear.jxl").string(), "-d", "0"})
                .status,
            0);
  struct Case {
    const char* name;
    std::vector<uint8_t> file;
    bool nclx;
  } cases[] = {
      {"srgb", EncodeWith(kJxlExporter, *picture, 1024, 8), true},
      {"linear", test::ReadFileBytes(dir / "linear.jxl"), false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ColourSource colour;
    kJxlImporter.readColour(Span(c.file), &colour);
    EXPECT_EQ(colour.model, ColourModel::kGrey);
    EXPECT_EQ(colour.hasNclx, c.nclx);
    if (c.nclx) {
      EXPECT_EQ(colour.primaries, 1);
      EXPECT_EQ(colour.transfer, 13);
    } else {
      EXPECT_FALSE(colour.icc.empty());
    }
  }
}
