// A window placed on the output's own full resize and cut from it holds the
// bytes a resize of that window alone makes, whatever finishes the rows.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "imageio/export.h"
#include "pipeline/pipeline.h"
#include "platform/owned.h"
#include "platform/quicktime.h"
#include "test_support.h"

namespace {

// 400 x 200, half transparent on the right, a skin-toned disc with a
// checker on it (centred at 70, 100) on a grey field: a subject off-centre
// on which a sharpening and a flattening both show.
void WriteSubject(const std::string& path) {
  Rect bounds;
  MacSetRect(&bounds, 0, 0, 400, 200);
  GWorldPtr raw = nullptr;
  ASSERT_EQ(QTNewGWorld(&raw, k32ARGBPixelFormat, &bounds, nullptr, nullptr, 0), noErr);
  UniqueGWorld picture(raw);
  const PixelView view = PixelViewOf(picture.get());
  for (int32_t y = 0; y < 200; ++y) {
    for (int32_t x = 0; x < 400; ++x) {
      uint8_t* p = view.base + y * view.rowBytes + x * 4;
      const bool disc = (x - 70) * (x - 70) + (y - 100) * (y - 100) < 40 * 40;
      const uint8_t check = (x / 4 + y / 4) % 2 ? 60 : 0;
      const uint8_t argb[4] = {uint8_t(x < 200 ? 255 : 128), uint8_t(disc ? 200 - check : 120),
                               uint8_t(disc ? 146 - check : 120), uint8_t(disc ? 112 : 120)};
      std::memcpy(p, argb, 4);
    }
  }
  ExportSettings png;
  png.codec = FourCC("png\0");
  png.depth = 32;
  ASSERT_EQ(ExportImage(picture.get(), png, nullptr, path), noErr);
}

// The request's placeholder and finished pixels, row by row, and its
// geometry once made.
std::vector<uint8_t> Finished(const std::string& path, const ResizeRequest& request,
                              OutputGeometry* made) {
  Pipeline pipeline(true, 1);
  EXPECT_EQ(pipeline.StartReading(path, nullptr, {&request, 1}), noErr);
  EXPECT_EQ(pipeline.AllocateDestination(0), noErr);
  EXPECT_EQ(pipeline.Resample(0), noErr);
  EXPECT_EQ(pipeline.FinishReading(0), noErr);
  if (request.windowRule != CropRule::kCentre) {
    EXPECT_EQ(pipeline.CutWindow(0), noErr);
  }
  *made = pipeline.Request(0).geometry;
  // The placeholder's colour and preview open the bytes: they are the
  // finished window's too.
  const Placeholder placeholder = pipeline.PlaceholderOf(0);
  std::vector<uint8_t> bytes(placeholder.colour.begin(), placeholder.colour.end());
  bytes.insert(bytes.end(), placeholder.preview.begin(), placeholder.preview.end());
  const PixelView view = PixelViewOf(pipeline.KeptPicture(0));
  for (int32_t y = 0; y < view.height; ++y) {
    const uint8_t* row = view.base + y * view.rowBytes;
    bytes.insert(bytes.end(), row, row + view.width * view.pixelSize / 8);
  }
  return bytes;
}

TEST(CutWindow, SameBytesAsTheWindowResizedAlone) {
  ASSERT_EQ(StartQuickTime(0), noErr);
  test::TempDir dir;
  const std::string path = (dir / "subject.png").string();
  WriteSubject(path);
  struct Case {
    CropRule rule;
    OSType format;
    int32_t sharpen;
    int32_t flattenOnto;
  } cases[] = {{CropRule::kAttention, k32ARGBPixelFormat, 0, -1},
               {CropRule::kEntropy, k32ARGBPixelFormat, 0, -1},
               {CropRule::kAttention, k32ARGBPixelFormat, 200, -1},
               {CropRule::kAttention, k64ARGBPixelFormat, 200, 0xFFFFFF},
               {CropRule::kEntropy, k48RGBCodecType, 0, -1}};
  for (const Case& c : cases) {
    SCOPED_TRACE(int(c.rule) * 1000 + c.sharpen + (c.format == k32ARGBPixelFormat ? 0 : 1));
    ResizeRequest request;
    request.geometry = StoredGeometry(400, 200, 1);
    SetCentredWindow(&request.geometry, 200, 100, 100, 100);
    request.destinationFormat = c.format;
    request.sharpen = c.sharpen;
    request.flattenOnto = c.flattenOnto;
    request.keepRows = true;
    request.placeholder = true;
    request.writtenDepth = 32;
    ResizeRequest placed = request;
    placed.windowRule = c.rule;
    OutputGeometry chosen, plain;
    const std::vector<uint8_t> cut = Finished(path, placed, &chosen);
    // Off the centre (50), on the disc, which spans 15 to 55.
    EXPECT_LE(chosen.windowLeft, 15);
    request.geometry = chosen;
    EXPECT_EQ(cut, Finished(path, request, &plain));
  }
  StopQuickTime();
}

}  // namespace
