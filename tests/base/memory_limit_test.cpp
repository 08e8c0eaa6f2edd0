// The pixel memory limit: buffers held together, and the working buffers the
// decoders size from a file's header, never outgrow the physical memory; a
// request beyond it answers -108 before anything is allocated.
#include "base/memory_limit.h"

#include <gtest/gtest.h>

#include <fstream>
#include <string>

#include "base/cgroup_memory.h"
#include "base/memory_limit_seam.h"
#include "codecs/codec_test_util.h"
#include "codecs/gif/gif_codec.h"
#include "codecs/heif/heif_codec.h"
#include "codecs/jpeg/jpeg_codec.h"
#include "codecs/png/png_codec.h"
#include "codecs/tiff/tiff_codec.h"
#include "codecs/webp/webp_codec.h"
#include "test_support.h"

namespace {

constexpr uint64_t kMiB = uint64_t(1) << 20;
constexpr uint64_t kGiB = uint64_t(1) << 30;

class MemoryLimit : public ::testing::Test {
 protected:
  void TearDown() override { OverridePhysicalMemoryBytes(0); }
  // A machine with this much room left beside the buffers already held.
  static void LeaveRoom(uint64_t bytes) { OverridePhysicalMemoryBytes(HeldPixelBytes() + bytes); }
};

GWorldPtr NewArgb(int32_t width, int32_t height, OSErr* err) {
  Rect bounds;
  MacSetRect(&bounds, 0, 0, width, height);
  GWorldPtr gw = nullptr;
  *err = QTNewGWorld(&gw, k32ARGBPixelFormat, &bounds, nullptr, nullptr, kNativeEndianPixMap);
  return gw;
}

TEST_F(MemoryLimit, IsTheKernelsTotalMemoryOrLessInALimitedGroup) {
  std::ifstream meminfo("/proc/meminfo");
  std::string key;
  uint64_t kib = 0;
  while (meminfo >> key >> kib && key != "MemTotal:") meminfo.ignore(1000, '\n');
  ASSERT_EQ(key, "MemTotal:");
  if (CgroupMemoryRoomBytes(ProcessCgroupSources()) == UINT64_MAX) {
    EXPECT_EQ(MemoryLimitBytes(), kib * 1024);
  } else {
    EXPECT_LE(MemoryLimitBytes(), kib * 1024);
  }
}

TEST_F(MemoryLimit, BuffersHeldTogetherNeverExceedIt) {
  LeaveRoom(2 * kMiB);  // two buffers of 512 × 512 × 4 bytes, not three
  OSErr err = noErr;
  GWorldPtr first = NewArgb(512, 512, &err);
  ASSERT_EQ(err, noErr);
  GWorldPtr second = NewArgb(512, 512, &err);
  ASSERT_EQ(err, noErr);
  GWorldPtr third = NewArgb(1, 1, &err);
  EXPECT_EQ(err, memFullErr);
  EXPECT_EQ(third, nullptr);

  DisposeGWorld(first);  // its bytes count no longer
  third = NewArgb(512, 512, &err);
  EXPECT_EQ(err, noErr);
  DisposeGWorld(second);
  DisposeGWorld(third);
}

TEST_F(MemoryLimit, ReshapingCountsOnlyTheGrowthAndAFailureKeepsTheBuffer) {
  LeaveRoom(2 * kMiB);
  OSErr err = noErr;
  GWorldPtr grown = NewArgb(512, 512, &err);
  ASSERT_EQ(err, noErr);
  GWorldPtr other = NewArgb(512, 512, &err);
  ASSERT_EQ(err, noErr);
  Rect taller;
  MacSetRect(&taller, 0, 0, 512, 1024);
  void* pixels = GetPixBaseAddr(GetGWorldPixMap(grown));
  EXPECT_EQ(QTUpdateGWorld(&grown, k32ARGBPixelFormat, &taller, nullptr, nullptr, 0), gwFlagErr);
  EXPECT_EQ(GetPixBaseAddr(GetGWorldPixMap(grown)), pixels);
  EXPECT_EQ(grown->portRect.bottom, 512);

  DisposeGWorld(other);  // now the old block and the growth fit
  EXPECT_EQ(QTUpdateGWorld(&grown, k32ARGBPixelFormat, &taller, nullptr, nullptr, 0), 0u);
  GWorldPtr none = NewArgb(1, 1, &err);
  EXPECT_EQ(err, memFullErr);  // the reshaped buffer holds all the room
  EXPECT_EQ(none, nullptr);
  DisposeGWorld(grown);
}

// Files whose headers claim far more than their data holds; the sizes are
// the ones exiftool reads from them.
struct HugeHeader {
  const ImporterCodec* codec;
  const char* file;
  int32_t width, height;
};

TEST_F(MemoryLimit, HugeHeadersAreRefusedBeforeAnyPixelIsAllocated) {
  const HugeHeader cases[] = {
      {&kPngImporter, "png_100000x100000.png", 100000, 100000},
      {&kJpegImporter, "jpeg_65500x65500.jpg", 65500, 65500},
      // The vast GIF and WebP canvases of this folder are refused earlier,
      // by their headers (canvas_rule_test.cpp).
      {&kTiffImporter, "tiff_1000000x1000000.tif", 1000000, 1000000},
  };
  for (const HugeHeader& c : cases) {
    SCOPED_TRACE(c.file);
    OverridePhysicalMemoryBytes(8 * kGiB);
    const std::vector<uint8_t> bytes = test::ReadFileBytes(test::DataPath("limits/") / c.file);
    ImageHeader header;
    ASSERT_EQ(c.codec->readHeader(ByteSpan(bytes.data(), bytes.size()), &header), noErr);
    EXPECT_EQ(header.width, c.width);
    EXPECT_EQ(header.height, c.height);
    const uint64_t held = HeldPixelBytes();
    OSErr err = noErr;
    GWorldPtr gw = NewArgb(header.width, header.height, &err);
    EXPECT_EQ(err, memFullErr);
    DisposeGWorld(gw);
    EXPECT_EQ(HeldPixelBytes(), held);
  }
}

// Each decoder that keeps working buffers sized from the header asks before
// allocating them: with no room left beside the image's own buffer it
// answers -108, and draws the same file once there is room.
TEST_F(MemoryLimit, DecodersWeighTheirWorkingBuffers) {
  const std::pair<const ImporterCodec*, const char*> cases[] = {
      {&kWebpImporter, "formats/rgb_lossless.webp"},   {&kWebpImporter, "formats/animated.webp"},
      {&kGifImporter, "formats/interlaced.gif"},       {&kTiffImporter, "formats/rgb8_none.tif"},
      {&kTiffImporter, "formats/grey8_lzw_tiled.tif"}, {&kHeicImporter, "formats/rgb8.heic"},
      {&kAvifImporter, "formats/rgb8.avif"},
  };
  for (const auto& [codec, file] : cases) {
    SCOPED_TRACE(file);
    const std::vector<uint8_t> bytes = test::ReadFileBytes(test::DataPath(file));
    const ByteSpan span(bytes.data(), bytes.size());
    ImageHeader header;
    ASSERT_EQ(codec->readHeader(span, &header), noErr);
    OSErr err = noErr;
    GWorldPtr gw = NewArgb(header.width, header.height, &err);
    ASSERT_EQ(err, noErr);
    LeaveRoom(0);
    EXPECT_EQ(test::DrawGWorld(codec, span, gw), memFullErr);
    OverridePhysicalMemoryBytes(0);
    EXPECT_EQ(test::DrawGWorld(codec, span, gw), noErr);
    DisposeGWorld(gw);
  }
}

// PNG rows go straight into the image's buffer, a row at a time, interlaced
// or not, and lossy WebP rows as libwebp finishes them: nothing sized from
// the header is needed beside it.
TEST_F(MemoryLimit, PngAndLossyWebpNeedNoRoomBesideTheImage) {
  const std::pair<const ImporterCodec*, const char*> cases[] = {
      {&kPngImporter, "pngsuite/basn2c08.png"},
      {&kPngImporter, "pngsuite/basi2c08.png"},
      {&kWebpImporter, "formats/rgb_lossy.webp"},
  };
  for (const auto& [codec, file] : cases) {
    SCOPED_TRACE(file);
    const std::vector<uint8_t> bytes = test::ReadFileBytes(test::DataPath(file));
    const ByteSpan span(bytes.data(), bytes.size());
    ImageHeader header;
    ASSERT_EQ(codec->readHeader(span, &header), noErr);
    OSErr err = noErr;
    GWorldPtr gw = NewArgb(header.width, header.height, &err);
    ASSERT_EQ(err, noErr);
    LeaveRoom(0);
    EXPECT_EQ(test::DrawGWorld(codec, span, gw), noErr);
    DisposeGWorld(gw);
  }
}

// A lossless WebP stream is held whole in libwebp's own buffer while it
// decodes, so it needs room for that beside the image; a lossy one none.
TEST_F(MemoryLimit, LosslessWebpCountsTheDecodersOwnImage) {
  for (const char* file : {"formats/rgb_lossy.webp", "formats/rgb_lossless.webp"}) {
    SCOPED_TRACE(file);
    const std::vector<uint8_t> bytes = test::ReadFileBytes(test::DataPath(file));
    const ByteSpan span(bytes.data(), bytes.size());
    ImageHeader header;
    ASSERT_EQ(kWebpImporter.readHeader(span, &header), noErr);
    OSErr err = noErr;
    GWorldPtr gw = NewArgb(header.width, header.height, &err);
    ASSERT_EQ(err, noErr);
    LeaveRoom(uint64_t(header.width) * uint64_t(header.height) * 4 - 1);
    const bool lossless = std::string(file).find("lossless") != std::string::npos;
    EXPECT_EQ(test::DrawGWorld(kWebpImporter, span, gw), lossless ? memFullErr : noErr);
    DisposeGWorld(gw);
  }
}

}  // namespace
