#include "platform/components.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/components_internal.h"
#include "platform/graphics_export.h"
#include "platform/graphics_import.h"
#include "platform/quicktime.h"

namespace {

constexpr OSType kJpeg = FourCC("JPEG");
constexpr OSType kPng = FourCC("PNG ");

struct Found {
  OSType type;
  OSType subtype;
  bool operator==(const Found&) const = default;
};

std::vector<Found> Walk(const ComponentDescription& looking) {
  std::vector<Found> found;
  for (Component c = FindNextComponent(nullptr, &looking); c != nullptr;
       c = FindNextComponent(c, &looking)) {
    ComponentDescription cd;
    EXPECT_EQ(GetComponentInfo(c, &cd, nullptr, nullptr, nullptr), noErr);
    found.push_back({cd.componentType, cd.componentSubType});
  }
  return found;
}

ComponentDescription Looking(OSType type, OSType subtype = 0, OSType maker = 0, uint32_t flags = 0,
                             uint32_t mask = 1) {
  return ComponentDescription{type, subtype, maker, flags, mask};
}

// Each test leaves the services stopped, as it found them.
class Registry : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(QuickTimeStartCount(), 0);
    ASSERT_EQ(StartQuickTime(0), noErr);
  }
  void TearDown() override {
    while (QuickTimeStartCount() > 0) StopQuickTime();
  }
};

TEST_F(Registry, WalksImportersAndExportersByTheDescriptionRules) {
  const OSType kTiff = FourCC("TIFF"), kWebp = FourCC("WEBP"), kGif = FourCC("GIF "),
               kHeic = FourCC("HEIC"), kAvif = FourCC("AVIF"), kJxl = FourCC("JXL ");
  EXPECT_EQ(Walk(Looking(GraphicsImporterComponentType)),
            (std::vector<Found>{{GraphicsImporterComponentType, kJpeg},
                                {GraphicsImporterComponentType, kPng},
                                {GraphicsImporterComponentType, kTiff},
                                {GraphicsImporterComponentType, kWebp},
                                {GraphicsImporterComponentType, kGif},
                                {GraphicsImporterComponentType, kHeic},
                                {GraphicsImporterComponentType, kAvif},
                                {GraphicsImporterComponentType, kJxl}}));
  // The HEIC and AVIF exporters exist only where libheif has their encoders;
  // JPEG XL comes last.
  std::vector<Found> exporters = Walk(Looking(GraphicsExporterComponentType));
  ASSERT_GE(exporters.size(), 5u);
  EXPECT_EQ(std::vector<Found>(exporters.begin(), exporters.begin() + 5),
            (std::vector<Found>{{GraphicsExporterComponentType, kJpeg},
                                {GraphicsExporterComponentType, kPng},
                                {GraphicsExporterComponentType, kTiff},
                                {GraphicsExporterComponentType, kWebp},
                                {GraphicsExporterComponentType, kGif}}));
  EXPECT_EQ(exporters.back().subtype, kJxl);
  for (size_t i = 5; i + 1 < exporters.size(); ++i) {
    EXPECT_TRUE(exporters[i].subtype == kHeic || exporters[i].subtype == kAvif);
  }
  // Everything 0 matches every component, importers first.
  EXPECT_EQ(Walk(Looking(0, 0, 0, 0, 0)).size(), 8u + exporters.size());
  EXPECT_EQ(Walk(Looking(0, kPng)), (std::vector<Found>{{GraphicsImporterComponentType, kPng},
                                                        {GraphicsExporterComponentType, kPng}}));
  EXPECT_TRUE(Walk(Looking(GraphicsExporterComponentType, FourCC("BMP "))).empty());
  EXPECT_TRUE(Walk(Looking(0, 0, FourCC("appl"))).empty());
  // Flags are compared under the mask only: bit 0 set is wanted, and no
  // component has it; unmasked bits do not matter.
  EXPECT_TRUE(Walk(Looking(GraphicsExporterComponentType, 0, 0, 1, 1)).empty());
  EXPECT_EQ(Walk(Looking(GraphicsExporterComponentType, 0, 0, 0xFFFFFFFE, 1)).size(),
            exporters.size());
  EXPECT_EQ(Walk(Looking(GraphicsExporterComponentType, 0, 0, 1, 0)).size(), exporters.size());

  ComponentDescription any = Looking(0);
  EXPECT_EQ(FindNextComponent(reinterpret_cast<Component>(&any), &any), nullptr);
  EXPECT_EQ(FindNextComponent(nullptr, nullptr), nullptr);
}

TEST_F(Registry, InfoGivesTheNameAsALengthPrefixedString) {
  ComponentDescription looking = Looking(GraphicsExporterComponentType, kJpeg);
  Component c = FindNextComponent(nullptr, &looking);
  ASSERT_NE(c, nullptr);
  Handle name = NewHandle(0);
  ComponentDescription cd;
  ASSERT_EQ(GetComponentInfo(c, &cd, name, nullptr, nullptr), noErr);
  ASSERT_GE(GetHandleSize(name), 1u);
  size_t length = uint8_t((*name)[0]);
  EXPECT_EQ(GetHandleSize(name), length + 1);
  std::string text(*name + 1, length);
  EXPECT_EQ(text.rfind("JPEG (libjpeg-turbo ", 0), 0u) << text;
  EXPECT_EQ(cd.componentFlags, 0u);
  DisposeHandle(name);
  EXPECT_EQ(GetComponentInfo(nullptr, &cd, nullptr, nullptr, nullptr), paramErr);
}

TEST_F(Registry, InstancesAreCheckedForBeingOpenAndOfTheRightKind) {
  ComponentDescription looking = Looking(GraphicsExporterComponentType, kPng);
  Component c = FindNextComponent(nullptr, &looking);
  ComponentInstance exporter = OpenComponent(c);
  ASSERT_NE(exporter, nullptr);
  OSType extension = 0;
  EXPECT_EQ(GraphicsExportGetDefaultFileNameExtension(exporter, &extension), noErr);
  EXPECT_EQ(extension, FourCC("png "));
  Rect bounds;
  EXPECT_EQ(GraphicsImportGetNaturalBounds(exporter, &bounds), badComponentInstance);
  EXPECT_EQ(GraphicsImportDraw(nullptr), badComponentInstance);
  EXPECT_EQ(CloseComponent(exporter), noErr);
  EXPECT_EQ(GraphicsExportSetDepth(exporter, 24), badComponentInstance);
  EXPECT_EQ(CloseComponent(exporter), paramErr);  // already closed
  EXPECT_EQ(OpenComponent(nullptr), nullptr);
}

TEST_F(Registry, StartsAreCountedAndOnlyTheLastStopUnbinds) {
  EXPECT_EQ(QuickTimeStartCount(), 1);
  ASSERT_EQ(StartQuickTime(0), noErr);
  EXPECT_EQ(QuickTimeStartCount(), 2);
  StopQuickTime();
  EXPECT_EQ(QuickTimeStartCount(), 1);
  ComponentDescription looking = Looking(GraphicsImporterComponentType);
  EXPECT_NE(FindNextComponent(nullptr, &looking), nullptr);
  StopQuickTime();
  EXPECT_EQ(QuickTimeStartCount(), 0);
  EXPECT_FALSE(QuickTimeIsBound());
  StopQuickTime();  // a stop too many keeps the count at 0
  EXPECT_EQ(QuickTimeStartCount(), 0);
  ASSERT_EQ(StartQuickTime(0), noErr);
  EXPECT_EQ(QuickTimeStartCount(), 1);
}

TEST(Unbound, EveryComponentImportAndExportOperationAnswersNotBound) {
  ASSERT_EQ(QuickTimeStartCount(), 0);
  // An instance left open at the last stop is gone afterwards.
  ASSERT_EQ(StartQuickTime(0), noErr);
  ComponentDescription looking = Looking(GraphicsExporterComponentType);
  Component c = FindNextComponent(nullptr, &looking);
  ASSERT_NE(c, nullptr);
  ComponentInstance left = OpenComponent(c);
  ASSERT_NE(left, nullptr);
  StopQuickTime();

  EXPECT_EQ(FindNextComponent(nullptr, &looking), nullptr);
  EXPECT_EQ(GetComponentInfo(c, nullptr, nullptr, nullptr, nullptr), kQTNotBoundErr);
  EXPECT_EQ(OpenComponent(c), nullptr);
  EXPECT_EQ(CloseComponent(left), kQTNotBoundErr);
  FSSpec spec{TAVREL_TEST_DATA "/pngsuite/basn2c08.png"};
  GraphicsImportComponent importer = reinterpret_cast<GraphicsImportComponent>(1);
  EXPECT_EQ(GetGraphicsImporterForFile(&spec, &importer), kQTNotBoundErr);
  EXPECT_EQ(importer, nullptr);
  Rect bounds{};
  EXPECT_EQ(GraphicsImportGetNaturalBounds(left, &bounds), kQTNotBoundErr);
  EXPECT_EQ(GraphicsImportSetQuality(left, 1024), kQTNotBoundErr);
  EXPECT_EQ(GraphicsImportDraw(left), kQTNotBoundErr);
  EXPECT_EQ(GraphicsImportGetMetaData(left, nullptr), kQTNotBoundErr);
  OSType extension = 0;
  EXPECT_EQ(GraphicsExportGetDefaultFileNameExtension(left, &extension), kQTNotBoundErr);
  EXPECT_EQ(extension, 0u);
  EXPECT_EQ(GraphicsExportSetCompressionQuality(left, 512), kQTNotBoundErr);
  uint32_t written = 99;
  EXPECT_EQ(GraphicsExportDoExport(left, &written), kQTNotBoundErr);
  EXPECT_EQ(written, 0u);

  ASSERT_EQ(StartQuickTime(0), noErr);
  EXPECT_EQ(GraphicsExportSetDepth(left, 24), badComponentInstance);
  StopQuickTime();
}

std::string CodecName() {
  return "test";
}
bool Sniff(ByteSpan) {
  return false;
}
OSErr Header(ByteSpan, ImageHeader*) {
  return noErr;
}
OSErr Draw(ByteSpan, const DrawRequest&) {
  return noErr;
}
OSErr Encode(const ExportRequest&, ByteSink*) {
  return noErr;
}

TEST(CodecEntries, NoCodecsIsNotLoadableAndAMissingEntryIsAnEntryMissing) {
  const ImageFormat format{"Test", FourCC("TEST"), "tst", false,
                           false,  false,          0,     MetadataWriting::kByEncoder,
                           false,  false};
  const ImporterCodec whole{&format, CodecName, Sniff, Header, Draw, nullptr};
  const ImporterCodec noDraw{&format, CodecName, Sniff, Header, nullptr, nullptr};
  const ImporterCodec noFormat{nullptr, CodecName, Sniff, Header, Draw, nullptr};
  const ExporterCodec exporter{&format, CodecName, Encode};
  const ExporterCodec noEncode{&format, CodecName, nullptr};
  EXPECT_EQ(CheckCodecEntries({}, {}), kQTNotLoadableErr);
  EXPECT_EQ(CheckCodecEntries({&whole}, {&exporter}), noErr);
  EXPECT_EQ(CheckCodecEntries({&whole, &noDraw}, {&exporter}), kQTEntryMissingErr);
  EXPECT_EQ(CheckCodecEntries({&whole}, {&noEncode}), kQTEntryMissingErr);
  EXPECT_EQ(CheckCodecEntries({&whole}, {nullptr}), kQTEntryMissingErr);
  EXPECT_EQ(CheckCodecEntries({&noFormat}, {&exporter}), kQTEntryMissingErr);
}

}  // namespace
