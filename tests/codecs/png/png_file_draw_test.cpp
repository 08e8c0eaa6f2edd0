// The PNG importer reads a file from memory or straight from the open file;
// both must answer alike: the same header, the same pixels, the same errors,
// damaged and cut files included.
#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "codecs/codec_test_util.h"
#include "platform/codec.h"
#include "platform/graphics_import.h"
#include "platform/handle.h"
#include "platform/metadata_io.h"
#include "platform/quicktime.h"
#include "platform/user_data.h"
#include "test_support.h"

namespace {

namespace fs = std::filesystem;

const ImporterCodec& PngImporter() {
  return *ImporterCodecs().at(1);
}

void WriteFile(const fs::path& path, const std::vector<uint8_t>& bytes) {
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

struct Outcome {
  OSErr headerErr = noErr;
  ImageHeader header;
  OSErr drawErr = noErr;
  std::vector<uint8_t> pixels;
};

// Draws into the format the header prefers, or 32-bit ARGB.
Outcome Draw(const ImageHeader& header, OSErr headerErr,
             const std::function<OSErr(GWorld*)>& draw) {
  Outcome outcome;
  outcome.headerErr = headerErr;
  outcome.header = header;
  if (headerErr != noErr) return outcome;
  const OSType format = header.preferredPixelFormat == k48RGBCodecType ||
                                header.preferredPixelFormat == k64ARGBPixelFormat
                            ? header.preferredPixelFormat
                            : k32ARGBPixelFormat;
  test::OwnedGWorld image = test::MakeGWorld(format, header.width, header.height);
  if (!image) {
    outcome.drawErr = memFullErr;
    return outcome;
  }
  outcome.drawErr = draw(image.get());
  const GWorld& gw = *image;
  const size_t rowBytes = size_t(header.width) * size_t(gw.pixMap.pixelSize / 8);
  for (int32_t y = 0; y < header.height; ++y) {
    const uint8_t* row = test::PixelAt(gw, 0, y);
    outcome.pixels.insert(outcome.pixels.end(), row, row + rowBytes);
  }
  return outcome;
}

Outcome FromMemory(const std::vector<uint8_t>& bytes) {
  const ByteSpan file(bytes.data(), bytes.size());
  ImageHeader header;
  const OSErr err = PngImporter().readHeader(file, &header);
  return Draw(header, err, [&](GWorld* gw) { return test::DrawGWorld(PngImporter(), file, gw); });
}

Outcome FromFile(const fs::path& path) {
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  EXPECT_GE(fd, 0);
  const uint64_t size = fs::file_size(path);
  std::vector<uint8_t> skeleton;
  Outcome outcome;
  outcome.headerErr = PngImporter().readSkeleton(fd, size, &skeleton);
  if (outcome.headerErr == noErr) {
    ImageHeader header;
    const OSErr err = PngImporter().readHeader(ByteSpan(skeleton.data(), skeleton.size()), &header);
    outcome = Draw(header, err, [&](GWorld* gw) {
      RowBand rows;
      rows.AttachWhole(PixelViewOf(gw), false);
      return PngImporter().drawFromFile(fd, size, DrawRequest{&rows, nullptr, 1});
    });
  }
  close(fd);
  return outcome;
}

void ExpectSameOutcome(const std::vector<uint8_t>& bytes, const test::TempDir& dir) {
  const fs::path path = dir / "file.png";
  WriteFile(path, bytes);
  const Outcome memory = FromMemory(bytes);
  const Outcome file = FromFile(path);
  EXPECT_EQ(file.headerErr, memory.headerErr);
  EXPECT_EQ(file.header.width, memory.header.width);
  EXPECT_EQ(file.header.height, memory.header.height);
  EXPECT_EQ(file.header.preferredPixelFormat, memory.header.preferredPixelFormat);
  EXPECT_EQ(file.drawErr, memory.drawErr);
  EXPECT_TRUE(file.pixels == memory.pixels);
}

TEST(PngFileDraw, EverySuiteFileDrawsAsFromMemory) {
  test::TempDir dir;
  int files = 0;
  for (const auto& entry : fs::directory_iterator(test::DataPath("pngsuite"))) {
    if (entry.path().extension() != ".png") continue;
    SCOPED_TRACE(entry.path().filename().string());
    ExpectSameOutcome(test::ReadFileBytes(entry.path()), dir);
    ++files;
  }
  EXPECT_GT(files, 100);
}

// Cut anywhere: in the signature, a chunk header, the ancillary chunks, the
// image data, the end chunk.
TEST(PngFileDraw, CutFilesFailAsFromMemory) {
  test::TempDir dir;
  for (const char* name : {"basn2c08", "basi6a16", "ctzn0g04", "basn3p02"}) {
    const std::vector<uint8_t> whole =
        test::ReadFileBytes(test::DataPath(std::string("pngsuite/") + name + ".png"));
    for (size_t cut = 0; cut < whole.size(); cut += 7) {
      SCOPED_TRACE(std::string(name) + " cut at " + std::to_string(cut));
      ExpectSameOutcome(std::vector<uint8_t>(whole.begin(), whole.begin() + ptrdiff_t(cut)), dir);
    }
  }
}

// An ancillary chunk claiming 2 GB in a tiny file stops the reader there.
TEST(PngFileDraw, OverlongChunkStopsAsFromMemory) {
  test::TempDir dir;
  std::vector<uint8_t> bytes = test::ReadFileBytes(test::DataPath("pngsuite/basn2c08.png"));
  constexpr size_t kAfterHeader = 8 + 25;
  const uint8_t chunk[] = {0x7F, 0xFF, 0xFF, 0xF0, 't', 'E', 'X', 't', 'a', 0, 'b'};
  bytes.insert(bytes.begin() + kAfterHeader, std::begin(chunk), std::end(chunk));
  ExpectSameOutcome(bytes, dir);
  EXPECT_EQ(FromMemory(bytes).headerErr, codecErr);
}

size_t OpenDescriptors() {
  return size_t(std::distance(fs::directory_iterator("/proc/self/fd"), fs::directory_iterator{}));
}

// Every item's type and bytes, in order.
std::vector<std::pair<OSType, std::vector<uint8_t>>> Items(UserData ud) {
  std::vector<std::pair<OSType, std::vector<uint8_t>>> items;
  for (OSType type = GetNextUserDataType(ud, 0); type != 0; type = GetNextUserDataType(ud, type)) {
    for (int32_t index = 1; index <= CountUserDataType(ud, type); ++index) {
      Handle h = NewHandle(0);
      EXPECT_EQ(GetUserData(ud, h, type, index), noErr);
      const auto* bytes = reinterpret_cast<const uint8_t*>(*h);
      items.emplace_back(type, std::vector<uint8_t>(bytes, bytes + GetHandleSize(h)));
      DisposeHandle(h);
    }
  }
  return items;
}

// Through the importer, which keeps the file open and only its chunks other
// than the image data in memory: the metadata is the whole file's, and the
// file is closed with the importer.
TEST(PngFileDraw, ImporterReadsMetadataAsFromTheWholeFileAndClosesTheFile) {
  ASSERT_EQ(StartQuickTime(0), noErr);
  const size_t descriptors = OpenDescriptors();
  for (const char* name : {"pngsuite/ct1n0g04.png", "pngsuite/ctzn0g04.png",
                           "pngsuite/exif2c08.png", "exif/legacy_raw_profile_exif.png"}) {
    SCOPED_TRACE(name);
    const fs::path path = test::DataPath(name);
    const std::vector<uint8_t> bytes = test::ReadFileBytes(path);
    UserData expected = nullptr;
    ASSERT_EQ(NewUserData(&expected), noErr);
    ASSERT_EQ(ReadFileMetaData(ByteSpan(bytes.data(), bytes.size()), expected), noErr);

    FSSpec spec{path.string()};
    GraphicsImportComponent importer = nullptr;
    ASSERT_EQ(GetGraphicsImporterForFile(&spec, &importer), noErr);
    EXPECT_EQ(OpenDescriptors(), descriptors + 1);
    UserData read = nullptr;
    ASSERT_EQ(NewUserData(&read), noErr);
    EXPECT_EQ(GraphicsImportGetMetaData(importer, read), noErr);
    const auto items = Items(read);
    EXPECT_FALSE(items.empty());
    EXPECT_TRUE(items == Items(expected));
    DisposeUserData(read);
    DisposeUserData(expected);
    EXPECT_EQ(CloseComponent(importer), noErr);
    EXPECT_EQ(OpenDescriptors(), descriptors);
  }
  // An importer left open is closed, file and all, by the last stop.
  FSSpec spec{test::DataPath("pngsuite/basn2c08.png").string()};
  GraphicsImportComponent importer = nullptr;
  ASSERT_EQ(GetGraphicsImporterForFile(&spec, &importer), noErr);
  EXPECT_EQ(OpenDescriptors(), descriptors + 1);
  while (QuickTimeStartCount() > 0) StopQuickTime();
  EXPECT_EQ(OpenDescriptors(), descriptors);
}

}  // namespace
