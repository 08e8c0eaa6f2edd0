// Exports that stream into the temporary file: the same bytes as an export
// into memory, and under a failing write or a refusing last check, the old
// file as it was and no temporary.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "codecs/codec_test_util.h"
#include "platform/graphics_export.h"
#include "platform/quicktime.h"
#include "stream/file_write_seam.h"
#include "test_support.h"

namespace fs = std::filesystem;

namespace {

std::vector<std::string> Names(const fs::path& folder) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder)) {
    names.push_back(entry.path().filename().string());
  }
  return names;
}

// Noise, which no encoder shrinks much: the files pass the output buffer
// several times over.
test::OwnedGWorld MakeNoise(int32_t width, int32_t height) {
  test::OwnedGWorld gw = test::MakeGWorld(k32ARGBPixelFormat, width, height);
  std::mt19937 random(3);
  for (int32_t y = 0; y < height; ++y) {
    for (int32_t x = 0; x < width; ++x) {
      const uint32_t argb = 0xFF000000u | (random() & 0xFFFFFFu);
      std::memcpy(test::PixelAt(*gw, x, y), &argb, 4);
    }
  }
  return gw;
}

// Lets this many bytes through, then finds the disk full.
size_t bytesLeft = 0;
ssize_t FullAfterLimit(int fd, const void* data, size_t size) {
  if (bytesLeft == 0) {
    errno = ENOSPC;
    return -1;
  }
  const size_t n = std::min(size, bytesLeft);
  bytesLeft -= n;
  return ::write(fd, data, n);
}

class StreamedExport : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(StartQuickTime(0), noErr);
    test::WriteFileBytes(dir_ / "out", {'o', 'l', 'd'});
  }
  void TearDown() override {
    if (exporter_ != nullptr) CloseComponent(exporter_);
    while (QuickTimeStartCount() > 0) StopQuickTime();
  }
  // Opens the exporter of subtype, set to write image to "out".
  void Prepare(OSType subtype, GWorld* image) {
    if (exporter_ != nullptr) CloseComponent(exporter_);
    ComponentDescription looking{GraphicsExporterComponentType, subtype, 0, 0, 1};
    Component c = FindNextComponent(nullptr, &looking);
    ASSERT_NE(c, nullptr);
    exporter_ = OpenComponent(c);
    FSSpec out{(dir_ / "out").string()};
    ASSERT_EQ(GraphicsExportSetInputGWorld(exporter_, image), noErr);
    ASSERT_EQ(GraphicsExportSetOutputFile(exporter_, &out), noErr);
  }
  void ExpectOldFileAlone() {
    EXPECT_EQ(test::ReadFileBytes(dir_ / "out"), (std::vector<uint8_t>{'o', 'l', 'd'}));
    EXPECT_EQ(Names(dir_.path()), std::vector<std::string>{"out"});
  }

  test::TempDir dir_;
  GraphicsExportComponent exporter_ = nullptr;
};

// TIFF goes back to fill in its header once the strips are out; the others
// only append.
TEST_F(StreamedExport, FilesAreTheBytesEncodedIntoMemory) {
  test::OwnedGWorld noise = MakeNoise(1024, 768);
  for (const ExporterCodec* codec : ExporterCodecs()) {
    if (codec->format->subtype == FourCC("HEIC") || codec->format->subtype == FourCC("AVIF"))
      continue;  // slow
    SCOPED_TRACE(codec->format->name);
    Prepare(codec->format->subtype, noise.get());
    uint32_t written = 0;
    ASSERT_EQ(GraphicsExportDoExport(exporter_, &written), noErr);
    const std::vector<uint8_t> expected = test::EncodeWith(*codec, *noise, 768, 24);
    EXPECT_EQ(test::ReadFileBytes(dir_ / "out"), expected);
    EXPECT_EQ(written, expected.size());
    EXPECT_EQ(Names(dir_.path()).size(), 1u);
  }
}

TEST_F(StreamedExport, AWriteFailingHalfWayLeavesTheOldFile) {
  test::OwnedGWorld noise = MakeNoise(1024, 768);
  for (OSType subtype : {FourCC("PNG "), FourCC("JPEG"), FourCC("TIFF")}) {
    Prepare(subtype, noise.get());
    GraphicsExportSetCompressionQuality(exporter_, 1023);  // a large JPEG
    const FileWriteCalls saved = CurrentFileWriteCalls();
    CurrentFileWriteCalls().write = FullAfterLimit;
    bytesLeft = 1200000;  // more than one buffer, less than the file
    uint32_t written = 0;
    EXPECT_EQ(GraphicsExportDoExport(exporter_, &written), dskFulErr);
    CurrentFileWriteCalls() = saved;
    EXPECT_EQ(bytesLeft, 0u) << "the file was being written";
    ExpectOldFileAlone();
  }
}

// The last check comes once the file is encoded and before it is in place;
// when it refuses, the file never appears.
TEST_F(StreamedExport, ARefusingLastCheckLeavesTheOldFile) {
  test::OwnedGWorld noise = MakeNoise(600, 400);
  Prepare(FourCC("PNG "), noise.get());
  int asked = 0;
  ASSERT_EQ(GraphicsExportSetBeforeWrite(exporter_,
                                         [&] {
                                           ++asked;
                                           EXPECT_EQ(Names(dir_.path()).size(), 2u);
                                           return OSErr(codecErr);
                                         }),
            noErr);
  uint32_t written = 0;
  EXPECT_EQ(GraphicsExportDoExport(exporter_, &written), codecErr);
  EXPECT_EQ(asked, 1);
  ExpectOldFileAlone();
}

}  // namespace
