#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <string>

#include "platform/graphics_export.h"
#include "platform/graphics_import.h"
#include "platform/quicktime.h"
#include "test_support.h"

namespace fs = std::filesystem;

namespace {

class GraphicsIO : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(QuickTimeStartCount(), 0);
    ASSERT_EQ(StartQuickTime(0), noErr);
  }
  void TearDown() override {
    if (importer_ != nullptr) CloseComponent(importer_);
    while (QuickTimeStartCount() > 0) StopQuickTime();
  }
  OSErr Open(const fs::path& path) {
    FSSpec spec{path.string()};
    return GetGraphicsImporterForFile(&spec, &importer_);
  }
  // The "cspc" extension of the open importer, or 0 when there is none.
  OSType PreferredFormat() {
    ImageDescriptionHandle desc = nullptr;
    EXPECT_EQ(GraphicsImportGetImageDescription(importer_, &desc), noErr);
    Handle ext = nullptr;
    OSType format = 0;
    if (GetImageDescriptionExtension(desc, &ext, kColorSpaceExtension, 1) == noErr) {
      EXPECT_EQ(GetHandleSize(ext), 4u);
      const auto* b = reinterpret_cast<const uint8_t*>(*ext);
      format = (OSType(b[0]) << 24) | (OSType(b[1]) << 16) | (OSType(b[2]) << 8) | b[3];
      Handle second = nullptr;
      EXPECT_EQ(GetImageDescriptionExtension(desc, &second, kColorSpaceExtension, 2),
                codecExtensionNotFoundErr);
      EXPECT_EQ(second, nullptr);
    }
    DisposeHandle(ext);
    DisposeHandle(desc);
    return format;
  }

  GraphicsImportComponent importer_ = nullptr;
};

TEST_F(GraphicsIO, ChoosesTheImporterByContentNotByName) {
  test::TempDir dir;
  fs::copy_file(test::DataPath("pngsuite/basn2c08.png"), dir / "really_a_png.jpg");
  ASSERT_EQ(Open(dir / "really_a_png.jpg"), noErr);
  Rect bounds;
  ASSERT_EQ(GraphicsImportGetNaturalBounds(importer_, &bounds), noErr);
  EXPECT_EQ(bounds.left, 0);
  EXPECT_EQ(bounds.top, 0);
  EXPECT_EQ(bounds.right, 32);
  EXPECT_EQ(bounds.bottom, 32);
}

TEST_F(GraphicsIO, FilesThatHoldNoImageAnswerNoHandler) {
  test::TempDir dir;
  test::WriteFileBytes(dir / "text.png", {'h', 'e', 'l', 'l', 'o'});
  test::WriteFileBytes(dir / "empty.jpg", {});
  ASSERT_EQ(mkfifo((dir / "pipe.png").c_str(), 0600), 0);
  EXPECT_EQ(Open(dir / "text.png"), noHandlerErr);
  EXPECT_EQ(Open(dir / "empty.jpg"), noHandlerErr);
  EXPECT_EQ(Open(dir.path()), noHandlerErr);        // a folder
  EXPECT_EQ(Open(dir / "pipe.png"), noHandlerErr);  // never waits for a writer
  EXPECT_EQ(Open("/dev/zero"), noHandlerErr);       // never read
  EXPECT_EQ(importer_, nullptr);
  EXPECT_EQ(Open(dir / "missing.png"), fnfErr);
  EXPECT_EQ(Open(dir / "text.png/below"), fnfErr);
  EXPECT_EQ(importer_, nullptr);
}

TEST_F(GraphicsIO, AnUnreadableFileIsAccessDenied) {
  if (geteuid() == 0) GTEST_SKIP() << "root reads every file";
  test::TempDir dir;
  fs::copy_file(test::DataPath("pngsuite/basn2c08.png"), dir / "locked.png");
  ASSERT_EQ(chmod((dir / "locked.png").c_str(), 0), 0);
  EXPECT_EQ(Open(dir / "locked.png"), accessDeniedErr);
}

TEST_F(GraphicsIO, TheDescriptionCarriesThePreferredFormatOnlyWhenThereIsOne) {
  struct Case {
    const char* file;
    OSType format;
  };
  const Case cases[] = {
      {"pngsuite/basn2c08.png", 0},                   // 8-bit RGB: drawn as 32-bit ARGB
      {"pngsuite/basn3p08.png", 0},                   // palette
      {"pngsuite/basn2c16.png", k48RGBCodecType},     // 16-bit RGB
      {"pngsuite/basn6a16.png", k64ARGBPixelFormat},  // 16-bit RGBA
  };
  for (const Case& c : cases) {
    ASSERT_EQ(Open(test::DataPath(c.file)), noErr) << c.file;
    EXPECT_EQ(PreferredFormat(), c.format) << c.file;
    CloseComponent(importer_);
    importer_ = nullptr;
  }
  Handle ext = reinterpret_cast<Handle>(1);
  EXPECT_EQ(GetImageDescriptionExtension(nullptr, &ext, kColorSpaceExtension, 1), paramErr);
  EXPECT_EQ(ext, nullptr);
}

TEST_F(GraphicsIO, DrawsOnlyIntoABufferOfTheNaturalSize) {
  ASSERT_EQ(Open(test::DataPath("pngsuite/basn2c08.png")), noErr);
  EXPECT_EQ(GraphicsImportDraw(importer_), paramErr);  // no buffer yet
  Rect wrong, right;
  MacSetRect(&wrong, 0, 0, 32, 31);
  MacSetRect(&right, 0, 0, 32, 32);
  GWorldPtr small = nullptr, fitting = nullptr;
  ASSERT_EQ(QTNewGWorld(&small, k32ARGBPixelFormat, &wrong, nullptr, nullptr, 0), noErr);
  ASSERT_EQ(QTNewGWorld(&fitting, k32ARGBPixelFormat, &right, nullptr, nullptr, 0), noErr);
  EXPECT_EQ(GraphicsImportSetQuality(importer_, codecLosslessQuality), noErr);
  ASSERT_EQ(GraphicsImportSetGWorld(importer_, small, nullptr), noErr);
  EXPECT_EQ(GraphicsImportDraw(importer_), paramErr);
  ASSERT_EQ(GraphicsImportSetGWorld(importer_, fitting, nullptr), noErr);
  EXPECT_EQ(GraphicsImportDraw(importer_), noErr);
  // An opaque image: every drawn pixel has full alpha.
  const auto* first = static_cast<const uint32_t*>(GetPixBaseAddr(GetGWorldPixMap(fitting)));
  EXPECT_EQ(first[0] >> 24, 0xFFu);
  UserData ud = nullptr;
  ASSERT_EQ(NewUserData(&ud), noErr);
  EXPECT_EQ(GraphicsImportGetMetaData(importer_, ud), noErr);
  EXPECT_EQ(GraphicsImportGetMetaData(importer_, nullptr), paramErr);
  DisposeUserData(ud);
  DisposeGWorld(small);
  DisposeGWorld(fitting);
}

// The first exporter of a subtype, opened.
GraphicsExportComponent OpenExporter(OSType subtype) {
  ComponentDescription looking{GraphicsExporterComponentType, subtype, 0, 0, 1};
  Component c = FindNextComponent(nullptr, &looking);
  return c ? OpenComponent(c) : nullptr;
}

TEST_F(GraphicsIO, ExportWritesTheWholeFileAndItReadsBack) {
  test::TempDir dir;
  Rect bounds;
  MacSetRect(&bounds, 0, 0, 5, 3);
  GWorldPtr gw = nullptr;
  ASSERT_EQ(QTNewGWorld(&gw, k32ARGBPixelFormat, &bounds, nullptr, nullptr, 0), noErr);
  for (int32_t y = 0; y < 3; ++y) {
    auto* row = reinterpret_cast<uint32_t*>(static_cast<char*>(gw->pixMap.baseAddr) +
                                            y * gw->pixMap.rowBytes);
    for (int32_t x = 0; x < 5; ++x) row[x] = 0xFF000000u | uint32_t(x * 50) << 16 | uint32_t(y);
  }
  GraphicsExportComponent exporter = OpenExporter(FourCC("PNG "));
  ASSERT_NE(exporter, nullptr);
  uint32_t written = 0;
  EXPECT_EQ(GraphicsExportDoExport(exporter, &written), paramErr);  // nothing to write yet
  FSSpec out{(dir / "out.png").string()};
  ASSERT_EQ(GraphicsExportSetInputGWorld(exporter, gw), noErr);
  ASSERT_EQ(GraphicsExportSetOutputFile(exporter, &out), noErr);
  EXPECT_EQ(GraphicsExportSetDepth(exporter, 24), noErr);
  ASSERT_EQ(GraphicsExportDoExport(exporter, &written), noErr);
  EXPECT_EQ(written, fs::file_size(dir / "out.png"));

  FSSpec nowhere{(dir / "missing/out.png").string()};
  ASSERT_EQ(GraphicsExportSetOutputFile(exporter, &nowhere), noErr);
  EXPECT_EQ(GraphicsExportDoExport(exporter, &written), fnfErr);
  EXPECT_EQ(written, 0u);
  EXPECT_EQ(CloseComponent(exporter), noErr);

  ASSERT_EQ(Open(dir / "out.png"), noErr);
  Rect back;
  ASSERT_EQ(GraphicsImportGetNaturalBounds(importer_, &back), noErr);
  EXPECT_EQ(back.right, 5);
  EXPECT_EQ(back.bottom, 3);
  GWorldPtr drawn = nullptr;
  ASSERT_EQ(QTNewGWorld(&drawn, k32ARGBPixelFormat, &back, nullptr, nullptr, 0), noErr);
  ASSERT_EQ(GraphicsImportSetGWorld(importer_, drawn, nullptr), noErr);
  ASSERT_EQ(GraphicsImportDraw(importer_), noErr);
  for (int32_t y = 0; y < 3; ++y) {
    EXPECT_EQ(0,
              std::memcmp(static_cast<char*>(drawn->pixMap.baseAddr) + y * drawn->pixMap.rowBytes,
                          static_cast<char*>(gw->pixMap.baseAddr) + y * gw->pixMap.rowBytes, 5 * 4))
        << "row " << y;
  }
  DisposeGWorld(drawn);
  DisposeGWorld(gw);
}

}  // namespace
