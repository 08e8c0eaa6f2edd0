#include "platform/gworld.h"

#include <gtest/gtest.h>

#include <cstring>

#ifdef __SANITIZE_ADDRESS__
// Sizes no machine can give must come back as a failed allocation, as they
// do without the sanitizer, not end the program.
extern "C" const char* __asan_default_options() {
  return "allocator_may_return_null=1";
}
#endif

namespace {

struct Shape {
  OSType format;
  int32_t width;
  int32_t rowBytes;  // worked out by hand: width × bytes a pixel, up to a multiple of 16
  int16_t pixelSize;
};

TEST(GWorld, RowsAreAlignedTo16BytesForEveryFormat) {
  const Shape shapes[] = {
      {k32ARGBPixelFormat, 1, 16, 32},   {k32ARGBPixelFormat, 5, 32, 32},
      {k48RGBCodecType, 3, 32, 48},      {k48RGBCodecType, 8, 48, 48},
      {k64ARGBPixelFormat, 3, 32, 64},   {k8IndexedGrayPixelFormat, 17, 32, 8},
      {k8IndexedPixelFormat, 16, 16, 8},
  };
  for (const Shape& s : shapes) {
    Rect bounds;
    MacSetRect(&bounds, 0, 0, s.width, 7);
    GWorldPtr gw = nullptr;
    ASSERT_EQ(QTNewGWorld(&gw, s.format, &bounds, nullptr, nullptr, kNativeEndianPixMap), noErr);
    PixMapHandle pm = GetGWorldPixMap(gw);
    EXPECT_EQ(QTGetPixMapHandleRowBytes(pm), s.rowBytes) << s.format << " width " << s.width;
    EXPECT_EQ(pm->pixelSize, s.pixelSize);
    EXPECT_EQ(pm->pixelFormat, s.format);
    EXPECT_EQ(pm->bounds.right, s.width);
    EXPECT_EQ(pm->bounds.bottom, 7);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(GetPixBaseAddr(pm)) % 16, 0u);
    // New pixels are zero, padding included, and every byte can be written.
    const auto* bytes = static_cast<const uint8_t*>(GetPixBaseAddr(pm));
    for (int64_t i = 0; i < int64_t(s.rowBytes) * 7; ++i) ASSERT_EQ(bytes[i], 0);
    std::memset(GetPixBaseAddr(pm), 0xAB, size_t(s.rowBytes) * 7);
    DisposeGWorld(gw);
  }
}

TEST(GWorld, WidthOrHeightBelowOneOrUnknownFormatIsAParameterError) {
  const Rect bad[] = {{0, 0, 10, 0}, {0, 0, 0, 10}, {5, 5, 4, 10}, {0, 10, 10, 3}};
  for (const Rect& r : bad) {
    GWorldPtr gw = reinterpret_cast<GWorldPtr>(1);
    EXPECT_EQ(QTNewGWorld(&gw, k32ARGBPixelFormat, &r, nullptr, nullptr, 0), paramErr);
    EXPECT_EQ(gw, nullptr);
  }
  Rect ok;
  MacSetRect(&ok, 0, 0, 4, 4);
  GWorldPtr gw = nullptr;
  EXPECT_EQ(QTNewGWorld(&gw, FourCC("b16g"), &ok, nullptr, nullptr, 0), paramErr);
  EXPECT_EQ(gw, nullptr);
}

TEST(GWorld, AbsurdSizesAnswerOutOfMemoryWithoutTouchingMemory) {
  // Rows longer than the 32-bit stride can say, a span wider than 32 bits,
  // and a total beyond any address space (100000 × 6 bytes × 2^31 rows).
  Rect wideRow, widestSpan, tooMany;
  MacSetRect(&wideRow, 0, 0, 0x20000000, 1);
  MacSetRect(&widestSpan, INT32_MIN, 0, INT32_MAX, 1);
  MacSetRect(&tooMany, 0, 0, 100000, INT32_MAX);
  GWorldPtr gw = nullptr;
  EXPECT_EQ(QTNewGWorld(&gw, k32ARGBPixelFormat, &wideRow, nullptr, nullptr, 0), memFullErr);
  EXPECT_EQ(QTNewGWorld(&gw, k8IndexedGrayPixelFormat, &widestSpan, nullptr, nullptr, 0),
            memFullErr);
  EXPECT_EQ(QTNewGWorld(&gw, k64ARGBPixelFormat, &tooMany, nullptr, nullptr, 0), memFullErr);
  EXPECT_EQ(gw, nullptr);
}

TEST(GWorld, UpdateReshapesAndAFailedUpdateLeavesTheBufferAsItWas) {
  Rect small, large, bad;
  MacSetRect(&small, 0, 0, 3, 2);
  MacSetRect(&large, 0, 0, 40, 30);
  MacSetRect(&bad, 0, 0, 0, 30);
  GWorldPtr gw = nullptr;
  ASSERT_EQ(QTNewGWorld(&gw, k32ARGBPixelFormat, &small, nullptr, nullptr, 0), noErr);
  GWorldPtr same = gw;

  EXPECT_EQ(QTUpdateGWorld(&gw, k64ARGBPixelFormat, &large, nullptr, nullptr, 0), 0u);
  EXPECT_EQ(gw, same);
  EXPECT_EQ(gw->portRect.right, 40);
  EXPECT_EQ(gw->pixMap.bounds.bottom, 30);
  EXPECT_EQ(gw->pixMap.rowBytes, 320);
  EXPECT_EQ(gw->pixMap.pixelSize, 64);
  std::memset(gw->pixMap.baseAddr, 0x5A, 320 * 30);  // the whole reshaped buffer is ours

  void* base = gw->pixMap.baseAddr;
  EXPECT_EQ(QTUpdateGWorld(&gw, k32ARGBPixelFormat, &bad, nullptr, nullptr, 0), gwFlagErr);
  EXPECT_EQ(QTUpdateGWorld(&gw, FourCC("what"), &small, nullptr, nullptr, 0), gwFlagErr);
  EXPECT_EQ(gw->pixMap.baseAddr, base);
  EXPECT_EQ(gw->pixMap.pixelFormat, k64ARGBPixelFormat);
  EXPECT_EQ(gw->pixMap.bounds.right, 40);

  // Shrinking keeps the block.
  EXPECT_EQ(QTUpdateGWorld(&gw, k48RGBCodecType, &small, nullptr, nullptr, 0), 0u);
  EXPECT_EQ(gw->pixMap.rowBytes, 32);
  EXPECT_EQ(gw->pixMap.baseAddr, base);
  GWorldPtr none = nullptr;
  EXPECT_EQ(QTUpdateGWorld(&none, k32ARGBPixelFormat, &small, nullptr, nullptr, 0), gwFlagErr);
  DisposeGWorld(gw);
}

}  // namespace
