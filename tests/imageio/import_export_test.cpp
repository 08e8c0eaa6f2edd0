// GCC 12 warns of an uninitialised std::function inside its own std::regex
// once optimised with the sanitizers on (a known false positive in the
// library's headers); the warning would bury real ones in the build log.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif
#include <gtest/gtest.h>

#include <png.h>
#include <regex>

#include <jconfig.h>
#include <sys/stat.h>
#include <cstdio>  // before jconfig.h

#include "imageio/export.h"
#include "imageio/import.h"
#include "imageio/path_to_fsspec.h"
#include "imageio/usage.h"
#include "codecs/codec_test_util.h"
#include "platform/graphics_export.h"
#include "platform/graphics_import.h"
#include "platform/quicktime.h"
#include "test_support.h"

#define TAVREL_STRINGIZE_TEXT(x) #x
#define TAVREL_STRINGIZE(x) TAVREL_STRINGIZE_TEXT(x)

namespace {

// The whole image as the program reads it, metadata and all, drawn into a
// new buffer (16-bit samples most significant byte first).
int32_t ImportImage(const std::string& path, GWorldPtr* source, UserData ud) {
  if (source == nullptr) return paramErr;
  *source = nullptr;
  OpenedImport opened;
  int32_t result = OpenImport(path, &opened);
  if (result != noErr) return result;
  // With metadata the profile travels with the samples, untouched.
  GraphicsImportSetColorMatching(opened.importer, ud == nullptr);
  result = DrawWholeImage(opened, false, source);
  if (result == noErr && ud != nullptr) GraphicsImportGetMetaData(opened.importer, ud);
  return result;
}

class ImageIo : public testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(StartQuickTime(0), noErr); }
  void TearDown() override { StopQuickTime(); }
  test::TempDir dir_;
};

ExportSettings Settings(const char (&codec)[5], int16_t depth, int32_t quality = 768) {
  ExportSettings s;
  s.codec = FourCC(codec);
  s.depth = depth;
  s.quality = quality;
  return s;
}

TEST_F(ImageIo, SixteenBitPngComesBackInItsOwnFormat) {
  for (OSType format : {k48RGBCodecType, k64ARGBPixelFormat}) {
    SCOPED_TRACE(format);
    test::OwnedGWorld source = test::MakeGWorld(format, 9, 5);
    const int samples = source->pixMap.pixelSize / 16;
    for (int y = 0; y < 5; ++y) {
      for (int x = 0; x < 9; ++x) {
        for (int i = 0; i < samples; ++i) {
          test::SetSample16(*source, x, y, i, uint16_t(x * 7001 + y * 301 + i * 9999));
        }
      }
    }
    const std::string path = (dir_ / "deep.png").string();
    int16_t depth = format == k48RGBCodecType ? 24 : 32;  // as the job halves 48 and 64
    ASSERT_EQ(ExportImage(source.get(), Settings("png\0", depth), nullptr, path), noErr);
    Rect bounds;
    ASSERT_EQ(ProbeNaturalBounds(path, &bounds), noErr);
    EXPECT_EQ(bounds.right, 9);
    EXPECT_EQ(bounds.bottom, 5);
    GWorldPtr imported = nullptr;
    ASSERT_EQ(ImportImage(path, &imported, nullptr), noErr);
    test::OwnedGWorld owned(imported);
    EXPECT_EQ(imported->pixMap.pixelFormat, format);
    EXPECT_EQ(std::memcmp(imported->pixMap.baseAddr, source->pixMap.baseAddr,
                          size_t(source->pixMap.rowBytes) * 5),
              0);
  }
}

TEST_F(ImageIo, EightBitFilesComeBackAsArgb) {
  test::OwnedGWorld source = test::MakeTestPicture(33, 17);
  struct Case {
    const char* codec;
    const char* file;
  } cases[] = {{"jpeg", "a.jpg"}, {"JPG\0", "b.jpg"}, {"png\0", "c.png"}, {"PNG ", "d.png"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    ExportSettings settings;
    settings.codec = OSType(uint8_t(c.codec[0])) << 24 | OSType(uint8_t(c.codec[1])) << 16 |
                     OSType(uint8_t(c.codec[2])) << 8 | uint8_t(c.codec[3]);
    settings.quality = 1023;
    const std::string path = (dir_ / c.file).string();
    ASSERT_EQ(ExportImage(source.get(), settings, nullptr, path), noErr);
    std::vector<uint8_t> bytes = test::ReadFileBytes(path);
    const bool png = c.file[0] >= 'c';
    ASSERT_GE(bytes.size(), 8u);
    EXPECT_EQ(bytes[1], png ? 'P' : 0xD8);  // chosen by codec, not by name
    GWorldPtr imported = nullptr;
    ASSERT_EQ(ImportImage(path, &imported, nullptr), noErr);
    test::OwnedGWorld owned(imported);
    EXPECT_EQ(imported->pixMap.pixelFormat, k32ARGBPixelFormat);
    if (png) {
      EXPECT_EQ(test::RgbPsnr(*source, *imported), 99.0);
    } else {
      EXPECT_GT(test::RgbPsnr(*source, *imported), 40.0);
    }
  }
}

TEST_F(ImageIo, ContentDecidesTheImporter) {
  // A PNG under a JPEG name.
  const std::string path = (dir_ / "really_png.jpg").string();
  test::WriteFileBytes(path, test::ReadFileBytes(test::DataPath("pngsuite/basn6a16.png")));
  GWorldPtr imported = nullptr;
  ASSERT_EQ(ImportImage(path, &imported, nullptr), noErr);
  test::OwnedGWorld owned(imported);
  EXPECT_EQ(imported->pixMap.pixelFormat, k64ARGBPixelFormat);
}

TEST_F(ImageIo, ImportFailuresLeaveNoBuffer) {
  const std::string text = (dir_ / "notes.png").string();
  test::WriteFileBytes(text, {'h', 'e', 'l', 'l', 'o', '\n'});
  std::vector<uint8_t> png = test::ReadFileBytes(test::DataPath("pngsuite/basn2c08.png"));
  png.resize(png.size() / 2);
  const std::string cut = (dir_ / "cut.png").string();
  test::WriteFileBytes(cut, png);
  struct Case {
    std::string path;
    int32_t expected;
  } cases[] = {
      {(dir_ / "missing.png").string(), fnfErr},
      {text, noHandlerErr},
      {cut, codecErr},
      {test::DataPath("pngsuite/xdtn0g01.png").string(), codecErr},      // no image data
      {test::DataPath("pngsuite/xs1n0g01.png").string(), noHandlerErr},  // bad signature
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    GWorldPtr imported = reinterpret_cast<GWorldPtr>(0x1);
    EXPECT_EQ(ImportImage(c.path, &imported, nullptr), c.expected);
    EXPECT_EQ(imported, nullptr);
  }
  Rect bounds;
  EXPECT_EQ(ProbeNaturalBounds((dir_ / "missing.png").string(), &bounds), fnfErr);
  EXPECT_EQ(ProbeNaturalBounds(text, &bounds), noHandlerErr);
}

TEST_F(ImageIo, RelativePathsAreTakenFromTheCurrentFolder) {
  FSSpec spec;
  EXPECT_EQ(PathToFSSpec("surely-not-here.png", &spec), fnfErr);
  ASSERT_FALSE(spec.path.empty());
  EXPECT_EQ(spec.path.front(), '/');
  EXPECT_EQ(OutputPathToFSSpec("surely-not-here.png", &spec), noErr);
  EXPECT_EQ(OutputPathToFSSpec("", &spec), paramErr);
}

TEST_F(ImageIo, FindExporterByExtensionOrSubtype) {
  struct Case {
    const char* codec;
    OSType extension;  // 0: none answers
  } cases[] = {
      {"jpeg", FourCC("jpg ")},
      {"JPEG", FourCC("jpg ")},
      {"jpg\0", FourCC("jpg ")},
      {"JPG\0", FourCC("jpg ")},
      {"png\0", FourCC("png ")},
      {"Png ", FourCC("png ")},
      {"tif\0", FourCC("tif ")},
      {"tiff", FourCC("tif ")},
      {"TIFF", FourCC("tif ")},
      {"webp", FourCC("webp")},
      {"WebP", FourCC("webp")},
      {"heic", FourCC("heic")},
      {"avif", FourCC("avif")},
      {"gif\0", FourCC("gif ")},
      {"GIF ", FourCC("gif ")},
      {"bmp\0", 0},
      {"jpe\0", 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.codec);
    ExportSettings settings;
    settings.codec = OSType(uint8_t(c.codec[0])) << 24 | OSType(uint8_t(c.codec[1])) << 16 |
                     OSType(uint8_t(c.codec[2])) << 8 | uint8_t(c.codec[3]);
    ComponentInstance exporter = FindExporter(settings);
    if (c.extension == 0) {
      EXPECT_EQ(exporter, nullptr);
      continue;
    }
    ASSERT_NE(exporter, nullptr);
    OSType extension = 0;
    EXPECT_EQ(GraphicsExportGetDefaultFileNameExtension(exporter, &extension), noErr);
    EXPECT_EQ(extension, c.extension);
    CloseComponent(exporter);
  }
}

TEST_F(ImageIo, ExportFailures) {
  test::OwnedGWorld source = test::MakeTestPicture(4, 4);
  const std::string out = (dir_ / "x.bmp").string();
  EXPECT_EQ(ExportImage(source.get(), Settings("bmp\0", 24), nullptr, out), noHandlerErr);
  EXPECT_FALSE(std::filesystem::exists(out));
  EXPECT_EQ(ExportImage(source.get(), Settings("png\0", 24), nullptr,
                        (dir_ / "no-such-folder/x.png").string()),
            fnfErr);
}

// text as a regular expression that matches it alone
std::string Literal(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (std::string_view("\\^$.|?*+()[]{}").find(c) != std::string_view::npos) out += '\\';
    out += c;
  }
  return out;
}

TEST_F(ImageIo, UsageTextAndCodecTables) {
  testing::internal::CaptureStderr();
  PrintUsage("tavrel.exe");
  const std::string got = testing::internal::GetCapturedStderr();
  const std::string jpeg =
      std::string("JPEG (libjpeg-turbo ") + TAVREL_STRINGIZE(LIBJPEG_TURBO_VERSION) + ")";
  const std::string png = std::string("PNG (libpng ") + PNG_LIBPNG_VER_STRING + ")";
  const std::string want =
      "\n"
      "Usage: tavrel.exe [ flags ] [<file> ...]\n"
      "where flags are\n"
      "/?                  print this message\n"
      "/v                  verbose\n"
      "/o <file>           specify output file (also //out <file>)\n"
      "/% <percent>        percent scale\n"
      "/w <width>          desired width (also //resampleWidth <width>)\n"
      "/h <height>         desired height (also //resampleHeight <height>)\n"
      "/p [h[wp]][v[wp]]   wrap (w) or pinch (p) in the given direction (h or v) of the source\n"
      "/k [s | g | G]      kernel: sinc, narrow gaussian, wide gaussian\n"
      "/r <degrees>\t    rotate the result prior to writing (also //rotate <degrees>)\n"
      "/c <codec>          desired codec (jpeg default)\n"
      "/q <quality>        codec quality percent (75 default)\n"
      "/b <bits>           codec bits per pixel (24 default)\n"
      "/z <height> <width> desired height and width (also //resampleHeightWidth <height> "
      "<width>)\n"
      "/m                  copy metadata\n"
      "/M <file>           dump source metadata (specify a file or - for stdout)\n"
      "\n"
      "\n";
  ASSERT_EQ(got.substr(0, want.size()), want);
  // The tables: every codec of the registry, in order, with the name of the
  // library that serves it. Versions are the libraries' own; the HEIC and
  // AVIF exporters are there only where libheif has an encoder.
  const std::string v = R"(\d+\.\d+(\.\d+)?\))";
  const std::string tables =
      Literal("Import codecs:\nCode\tDescription\nJPEG\t" + jpeg + "\nPNG \t" + png +
              "\nTIFF\tTIFF (libtiff ") +
      v + Literal("\nWEBP\tWebP (libwebp ") + v + Literal("\nGIF \tGIF (giflib ") + v +
      Literal("\nHEIC\tHEIC (libheif ") + v + Literal("\nAVIF\tAVIF (libheif ") + v +
      Literal("\nJXL \tJPEG XL (libjxl ") + v +
      Literal("\n\nExport codecs:\nCode\tExt\tDescription\nJPEG\tjpg \t" + jpeg + "\nPNG \tpng \t" +
              png + "\nTIFF\ttif \tTIFF (libtiff ") +
      v + Literal("\nWEBP\twebp\tWebP (libwebp ") + v + Literal("\nGIF \tgif \tGIF (giflib ") + v +
      "\n(" + Literal("HEIC\theic\tHEIC (libheif ") + v + "\n)?(" +
      Literal("AVIF\tavif\tAVIF (libheif ") + v + "\n)?" + Literal("JXL \tjxl \tJPEG XL (libjxl ") +
      v + "\n";
  EXPECT_TRUE(std::regex_match(got.substr(want.size()), std::regex(tables))) << got;
}

// Without the platform started the tables keep their headings and the
// listing answers the platform's code.
TEST(Usage, TablesWithoutComponents) {
  testing::internal::CaptureStderr();
  int32_t result = ListCodecs();
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "\nImport codecs:\nCode\tDescription\n\nExport codecs:\nCode\tExt\tDescription\n");
  EXPECT_EQ(result, noErr);
}

}  // namespace
