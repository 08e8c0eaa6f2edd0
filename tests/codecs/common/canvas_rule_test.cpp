// The limit on canvases that no data paints, at its edges and through the
// importers: a vast GIF screen or WebP canvas is refused at the header unless
// its first frame covers a quarter of it, and real images keep working.
#include <gif_lib.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "codecs/codec_test_util.h"
#include "codecs/common/canvas_rule.h"
#include "codecs/format_test_util.h"
#include "codecs/gif/gif_codec.h"
#include "codecs/webp/webp_codec.h"
#include "platform/graphics_import.h"
#include "platform/quicktime.h"
#include "test_support.h"

namespace fs = std::filesystem;

namespace {

// Every expected value below is worked out by hand from 2^26 = 67108864.
TEST(CanvasRule, LargeCanvasesNeedAFrameCoveringAQuarter) {
  EXPECT_TRUE(FirstFrameFillsCanvas(8192, 8192, 1, 1));  // exactly 2^26
  EXPECT_FALSE(FirstFrameFillsCanvas(8193, 8192, 1, 1));
  EXPECT_FALSE(FirstFrameFillsCanvas(65535, 65535, 1, 1));
  // 16384 x 16384 is 2^28: a quarter is 8192 x 8192.
  EXPECT_TRUE(FirstFrameFillsCanvas(16384, 16384, 8192, 8192));
  EXPECT_TRUE(FirstFrameFillsCanvas(16384, 16384, 16384, 4096));
  EXPECT_FALSE(FirstFrameFillsCanvas(16384, 16384, 8192, 8191));
  // The largest canvases the formats can state, without overflow.
  EXPECT_TRUE(FirstFrameFillsCanvas(131070, 131070, 65535, 131070));
  EXPECT_FALSE(FirstFrameFillsCanvas(16777216, 16777216, 1, 16777216));
  EXPECT_TRUE(FirstFrameFillsCanvas(16777216, 16777216, 16777216, 4194304));
}

TEST(CanvasRule, VastGifFramesNeedTheDataToPaintThem) {
  EXPECT_TRUE(LzwDataCanPaint(8192 * 8192, 0));  // up to 2^26 any data will do
  // 9000 x 8000 = 72000000 pixels need 17579 codes of 4096 pixels, which
  // take 26369 bytes at 12 bits each (26368 bytes hold 17578 codes).
  EXPECT_TRUE(LzwDataCanPaint(9000 * 8000, 26369));
  EXPECT_FALSE(LzwDataCanPaint(9000 * 8000, 26368));
  EXPECT_FALSE(LzwDataCanPaint(int64_t(65535) * 65535, 1000000));
  EXPECT_TRUE(LzwDataCanPaint(int64_t(65535) * 65535, UINT64_MAX));
}

// Headers of a few dozen bytes: a 65535 x 65535 frame at the far corner of
// as large a screen, with one code of data; a 65000 x 65000 animation
// without a frame.
TEST(CanvasRule, VastCanvasesAreRefusedByTheHeader) {
  const std::pair<const ImporterCodec*, const char*> cases[] = {
      {&kGifImporter, "limits/gif_far_frame.gif"},
      {&kWebpImporter, "limits/webp_65000x65000_animated.webp"},
  };
  for (const auto& [codec, file] : cases) {
    const std::vector<uint8_t> bytes = test::ReadFileBytes(test::DataPath(file));
    ImageHeader header;
    EXPECT_EQ(codec->readHeader(ByteSpan(bytes.data(), bytes.size()), &header), codecErr) << file;
  }
}

// A GIF written by giflib: one frame at (left, top), every pixel index 1
// (red) over a black and red global palette.
std::vector<uint8_t> WriteGif(int screenWidth, int screenHeight, int left, int top, int width,
                              int height) {
  std::vector<uint8_t> out;
  int error = 0;
  GifFileType* gif = test::OpenGifWriter(&out, &error);
  GifColorType colours[2] = {{0, 0, 0}, {255, 0, 0}};
  ColorMapObject* map = GifMakeMapObject(2, colours);
  EGifPutScreenDesc(gif, screenWidth, screenHeight, 1, 0, map);
  EGifPutImageDesc(gif, left, top, width, height, false, nullptr);
  std::vector<GifPixelType> line(size_t(width), 1);
  for (int y = 0; y < height; ++y) EGifPutLine(gif, line.data(), width);
  EGifCloseFile(gif, &error);
  GifFreeMapObject(map);
  return out;
}

// An animation whose first frame is a lossless stream that stops after its
// header: enough for the header checks, which never decode.
std::vector<uint8_t> AnimatedWebp(uint32_t canvasSize, uint32_t frameSize) {
  auto le = [](std::vector<uint8_t>* v, uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) v->push_back(uint8_t(value >> (8 * i)));
  };
  auto chunk = [&](const char* kind, const std::vector<uint8_t>& data) {
    std::vector<uint8_t> c(kind, kind + 4);
    le(&c, uint32_t(data.size()), 4);
    c.insert(c.end(), data.begin(), data.end());
    if (data.size() % 2) c.push_back(0);
    return c;
  };
  std::vector<uint8_t> vp8x = {0x02, 0, 0, 0};
  le(&vp8x, canvasSize - 1, 3);
  le(&vp8x, canvasSize - 1, 3);
  std::vector<uint8_t> vp8l = {0x2F};
  le(&vp8l, (frameSize - 1) | (frameSize - 1) << 14, 4);
  vp8l.resize(vp8l.size() + 8, 0);
  std::vector<uint8_t> anmf(6, 0);  // at (0, 0)
  le(&anmf, frameSize - 1, 3);
  le(&anmf, frameSize - 1, 3);
  le(&anmf, 100, 3);
  anmf.push_back(0x02);  // no blending
  const std::vector<uint8_t> frame = chunk("VP8L", vp8l);
  anmf.insert(anmf.end(), frame.begin(), frame.end());
  std::vector<uint8_t> body = {'W', 'E', 'B', 'P'};
  for (const auto& c :
       {chunk("VP8X", vp8x), chunk("ANIM", std::vector<uint8_t>(6, 0)), chunk("ANMF", anmf)}) {
    body.insert(body.end(), c.begin(), c.end());
  }
  std::vector<uint8_t> file = {'R', 'I', 'F', 'F'};
  le(&file, uint32_t(body.size()), 4);
  file.insert(file.end(), body.begin(), body.end());
  return file;
}

class CanvasImport : public testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(StartQuickTime(0), noErr); }
  void TearDown() override {
    if (importer_ != nullptr) CloseComponent(importer_);
    StopQuickTime();
  }
  // Opens the bytes as a file and reads its natural bounds.
  OSErr OpenBounds(const std::vector<uint8_t>& bytes, const std::string& name, Rect* bounds) {
    if (importer_ != nullptr) CloseComponent(importer_);
    importer_ = nullptr;
    test::WriteFileBytes(dir_ / name, bytes);
    FSSpec spec{(dir_ / name).string()};
    if (OSErr err = GetGraphicsImporterForFile(&spec, &importer_)) return err;
    return OSErr(GraphicsImportGetNaturalBounds(importer_, bounds));
  }

  test::TempDir dir_;
  GraphicsImportComponent importer_ = nullptr;
};

TEST_F(CanvasImport, GifFrameCoveringALargeScreenIsNotRefused) {
  // 72 MP, all red: giflib's codes hold some 56 KB, above the 26 KB bound.
  Rect bounds;
  ASSERT_EQ(OpenBounds(WriteGif(9000, 8000, 0, 0, 9000, 8000), "large.gif", &bounds), noErr);
  EXPECT_EQ(bounds.right - bounds.left, 9000);
  EXPECT_EQ(bounds.bottom - bounds.top, 8000);
}

TEST_F(CanvasImport, SmallScreenAroundOnePixelStillImports) {
  Rect bounds;
  ASSERT_EQ(OpenBounds(WriteGif(2000, 2000, 1200, 700, 1, 1), "dot.gif", &bounds), noErr);
  ASSERT_EQ(bounds.right - bounds.left, 2000);
  ASSERT_EQ(bounds.bottom - bounds.top, 2000);
  test::OwnedGWorld image = test::MakeGWorld(k32ARGBPixelFormat, 2000, 2000);
  ASSERT_NE(image, nullptr);
  ASSERT_EQ(GraphicsImportSetGWorld(importer_, image.get(), nullptr), noErr);
  ASSERT_EQ(GraphicsImportDraw(importer_), noErr);
  EXPECT_EQ(test::ArgbAt(*image, 1200, 700), test::Argb(255, 255, 0, 0));
  for (auto [x, y] : {std::pair{0, 0}, {1199, 700}, {1201, 700}, {1200, 699}, {1999, 1999}}) {
    EXPECT_EQ(test::ArgbAt(*image, x, y), 0u) << x << "," << y;
  }
}

TEST_F(CanvasImport, WebpCanvasNeedsItsFirstFrameToCoverAQuarter) {
  // 16383^2 = 268402689 pixels; 8192^2 is just over a quarter, 8191^2 under.
  Rect bounds;
  ASSERT_EQ(OpenBounds(AnimatedWebp(16383, 8192), "quarter.webp", &bounds), noErr);
  EXPECT_EQ(bounds.right - bounds.left, 16383);
  EXPECT_EQ(bounds.bottom - bounds.top, 16383);
  EXPECT_EQ(OpenBounds(AnimatedWebp(16383, 8191), "under.webp", &bounds), codecErr);
  // 8192 x 8192 is 2^26 pixels: any first frame will do.
  ASSERT_EQ(OpenBounds(AnimatedWebp(8192, 1), "dot.webp", &bounds), noErr);
  EXPECT_EQ(bounds.right - bounds.left, 8192);
}

}  // namespace
