#include "resample/rotate.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "resample/simd_level.h"

namespace {

constexpr uint8_t kSentinel = 0xA5;
constexpr int32_t kPixelSizes[] = {1, 2, 3, 4, 6, 8};

// Pixels of p bytes in rows of rowBytes, the padding after each row's pixels
// holding the sentinel.
struct Image {
  int32_t width = 0;
  int32_t height = 0;
  int32_t p = 0;
  int32_t rowBytes = 0;
  std::vector<uint8_t> bytes;

  Image(int32_t w, int32_t h, int32_t pixelSize, int32_t padding)
      : width(w), height(h), p(pixelSize), rowBytes(w * pixelSize + padding) {
    bytes.assign(size_t(rowBytes) * size_t(h), kSentinel);
  }
  uint8_t* At(int32_t row, int32_t column) {
    return bytes.data() + size_t(row) * size_t(rowBytes) + size_t(column) * size_t(p);
  }
  const uint8_t* At(int32_t row, int32_t column) const {
    return bytes.data() + size_t(row) * size_t(rowBytes) + size_t(column) * size_t(p);
  }
  // Every byte of every pixel different from its neighbours' (and never the
  // sentinel), so that a misplaced or torn pixel shows.
  void FillDistinct(uint32_t seed) {
    for (int32_t y = 0; y < height; ++y)
      for (int32_t x = 0; x < width; ++x)
        for (int32_t b = 0; b < p; ++b) {
          uint32_t v = (uint32_t(y) * 7919u + uint32_t(x) * 104729u + uint32_t(b) * 31u + seed);
          v ^= v >> 13;
          v *= 0x5bd1e995u;
          v ^= v >> 15;
          uint8_t byte = uint8_t(v);
          At(y, x)[b] = byte == kSentinel ? uint8_t(byte + 1) : byte;
        }
  }
  bool PaddingIntact() const {
    for (int32_t y = 0; y < height; ++y)
      for (int32_t i = width * p; i < rowBytes; ++i)
        if (bytes[size_t(y) * size_t(rowBytes) + size_t(i)] != kSentinel) return false;
    return true;
  }
  bool SamePixels(const Image& o) const {
    if (o.width != width || o.height != height || o.p != p) return false;
    for (int32_t y = 0; y < height; ++y)
      if (!std::equal(At(y, 0), At(y, 0) + width * p, o.At(y, 0))) return false;
    return true;
  }
};

// Pixels as letters, one byte each, rows separated by "/".
std::string Letters(const Image& img) {
  std::string s;
  for (int32_t y = 0; y < img.height; ++y) {
    if (y > 0) s += '/';
    for (int32_t x = 0; x < img.width; ++x) s += char(*img.At(y, x));
  }
  return s;
}

Image FromLetters(int32_t w, int32_t h, const std::string& letters) {
  Image img(w, h, 1, 3);
  for (int32_t i = 0; i < w * h; ++i) *img.At(i / w, i % w) = uint8_t(letters[size_t(i)]);
  return img;
}

using RotateFn = void (*)(const void*, int32_t, void*, int32_t, int32_t, int32_t, int32_t);

// Turns src by fn into a fresh image of the turned size (padding different
// from the source's, so that strides are not confused).
Image Turn(RotateFn fn, const Image& src, bool quarter) {
  Image dst(quarter ? src.height : src.width, quarter ? src.width : src.height, src.p, 5);
  fn(src.bytes.data(), src.rowBytes, dst.bytes.data(), dst.rowBytes, dst.width, dst.height, src.p);
  return dst;
}

TEST(RotateTest, SmallExamplesByHand) {
  const Image src = FromLetters(2, 3, "abcdef");  // ab / cd / ef
  EXPECT_EQ(Letters(Turn(Rotate90, src, true)), "eca/fdb");
  EXPECT_EQ(Letters(Turn(Rotate270, src, true)), "bdf/ace");
  EXPECT_EQ(Letters(Turn(Rotate180, src, false)), "fe/dc/ba");

  const Image one = FromLetters(1, 1, "x");
  EXPECT_EQ(Letters(Turn(Rotate90, one, true)), "x");
  EXPECT_EQ(Letters(Turn(Rotate270, one, true)), "x");
  EXPECT_EQ(Letters(Turn(Rotate180, one, false)), "x");
  Image inPlace = one;
  Rotate180(inPlace.bytes.data(), inPlace.rowBytes, inPlace.bytes.data(), inPlace.rowBytes, 1, 1,
            1);
  EXPECT_EQ(Letters(inPlace), "x");
}

TEST(RotateTest, HalfTurnInPlaceOddHeightAndWidthOne) {
  Image odd = FromLetters(4, 3, "abcdefghijkl");  // abcd / efgh / ijkl
  Rotate180(odd.bytes.data(), odd.rowBytes, odd.bytes.data(), odd.rowBytes, 4, 3, 1);
  EXPECT_EQ(Letters(odd), "lkji/hgfe/dcba");
  EXPECT_TRUE(odd.PaddingIntact());

  Image oddWidth = FromLetters(3, 3, "abcdefghi");
  Rotate180(oddWidth.bytes.data(), oddWidth.rowBytes, oddWidth.bytes.data(), oddWidth.rowBytes, 3,
            3, 1);
  EXPECT_EQ(Letters(oddWidth), "ihg/fed/cba");

  Image column = FromLetters(1, 5, "abcde");
  Rotate180(column.bytes.data(), column.rowBytes, column.bytes.data(), column.rowBytes, 1, 5, 1);
  EXPECT_EQ(Letters(column), "e/d/c/b/a");
  EXPECT_TRUE(column.PaddingIntact());

  Image row = FromLetters(5, 1, "abcde");
  Rotate180(row.bytes.data(), row.rowBytes, row.bytes.data(), row.rowBytes, 5, 1, 1);
  EXPECT_EQ(Letters(row), "edcba");
}

// Each turn checked pixel by pixel against its definition, on sides that
// are not multiples of the 64-pixel tiles, with padded strides, every size.
TEST(RotateTest, EveryPixelSizeMatchesDefinitionOnRaggedSides) {
  struct Size {
    int32_t w, h;
  };
  for (Size s : {Size{65, 130}, Size{130, 65}, Size{1, 129}, Size{127, 1}, Size{64, 64}}) {
    for (int32_t p : kPixelSizes) {
      SCOPED_TRACE("source " + std::to_string(s.w) + "x" + std::to_string(s.h) +
                   " P=" + std::to_string(p));
      Image src(s.w, s.h, p, 11);
      src.FillDistinct(uint32_t(p));
      const Image before = src;

      const Image r90 = Turn(Rotate90, src, true);
      const Image r270 = Turn(Rotate270, src, true);
      const Image r180 = Turn(Rotate180, src, false);
      EXPECT_TRUE(r90.PaddingIntact());
      EXPECT_TRUE(r270.PaddingIntact());
      EXPECT_TRUE(r180.PaddingIntact());
      EXPECT_TRUE(src.SamePixels(before) && src.PaddingIntact()) << "source was written";

      bool ok90 = true, ok270 = true, ok180 = true;
      const int32_t wd = src.height, hd = src.width;
      for (int32_t y = 0; y < hd; ++y)
        for (int32_t x = 0; x < wd; ++x) {
          ok90 &= std::equal(r90.At(y, x), r90.At(y, x) + p, src.At(wd - 1 - x, y));
          ok270 &= std::equal(r270.At(y, x), r270.At(y, x) + p, src.At(x, hd - 1 - y));
        }
      for (int32_t y = 0; y < s.h; ++y)
        for (int32_t x = 0; x < s.w; ++x)
          ok180 &= std::equal(r180.At(y, x), r180.At(y, x) + p, src.At(s.h - 1 - y, s.w - 1 - x));
      EXPECT_TRUE(ok90);
      EXPECT_TRUE(ok270);
      EXPECT_TRUE(ok180);

      Image inPlace = src;
      Rotate180(inPlace.bytes.data(), inPlace.rowBytes, inPlace.bytes.data(), inPlace.rowBytes, s.w,
                s.h, p);
      EXPECT_TRUE(inPlace.SamePixels(r180)) << "in place differs from copying";
      EXPECT_TRUE(inPlace.PaddingIntact());
    }
  }
}

TEST(RotateTest, TurnsComposeToIdentity) {
  for (int32_t p : kPixelSizes) {
    SCOPED_TRACE("P=" + std::to_string(p));
    Image src(65, 130, p, 7);
    src.FillDistinct(100u + uint32_t(p));

    Image a = src;
    for (int i = 0; i < 4; ++i) a = Turn(Rotate90, a, true);
    EXPECT_TRUE(a.SamePixels(src)) << "four quarter turns";

    Image b = src;
    for (int i = 0; i < 4; ++i) b = Turn(Rotate270, b, true);
    EXPECT_TRUE(b.SamePixels(src)) << "four three-quarter turns";

    EXPECT_TRUE(Turn(Rotate270, Turn(Rotate90, src, true), true).SamePixels(src));
    EXPECT_TRUE(Turn(Rotate90, Turn(Rotate270, src, true), true).SamePixels(src));
    EXPECT_TRUE(
        Turn(Rotate90, Turn(Rotate90, src, true), true).SamePixels(Turn(Rotate180, src, false)));
  }
}

// The vectorised quarter turns against the plain ones, byte for byte with
// the destination's padding, at every level this processor has: sides below,
// at and across a block and a tile, rows padded to odd strides.
TEST(RotateTest, VectorisedQuarterTurnsMatchPlainAtEveryLevel) {
  struct Size {
    int32_t w, h;
  };
  const SimdLevel saved = ResampleSimdLevel();
  for (Size s : {Size{1, 1}, Size{3, 130}, Size{130, 3}, Size{65, 67}, Size{8, 8}, Size{9, 17},
                 Size{300, 257}}) {
    for (int32_t p : kPixelSizes) {
      Image src(s.w, s.h, p, 3 + p % 5);
      src.FillDistinct(uint32_t(s.w * 31 + p));
      for (RotateFn fn : {Rotate90, Rotate270}) {
        SetResampleSimdLevel(kSimdNone);
        const Image plain = Turn(fn, src, true);
        for (SimdLevel level : {kSimdSse2, kSimdAvx2}) {
          if (SetResampleSimdLevel(level) != level) continue;
          SCOPED_TRACE("source " + std::to_string(s.w) + "x" + std::to_string(s.h) +
                       " P=" + std::to_string(p) + " level " + std::to_string(level) +
                       (fn == Rotate90 ? " clockwise" : " anticlockwise"));
          const Image fast = Turn(fn, src, true);
          EXPECT_EQ(fast.bytes, plain.bytes);
          EXPECT_TRUE(fast.PaddingIntact());
        }
      }
    }
  }
  SetResampleSimdLevel(saved);
}

TEST(RotateTest, UnservedPixelSizesAndEmptySizesLeaveDestinationAlone) {
  for (int32_t p : {0, 5, 7, 16, -4}) {
    SCOPED_TRACE("P=" + std::to_string(p));
    Image src(3, 2, 4, 0);
    src.FillDistinct(1);
    Image dst(2, 3, 4, 4);
    const std::vector<uint8_t> untouched = dst.bytes;
    Rotate90(src.bytes.data(), src.rowBytes, dst.bytes.data(), dst.rowBytes, 2, 3, p);
    Rotate270(src.bytes.data(), src.rowBytes, dst.bytes.data(), dst.rowBytes, 2, 3, p);
    Rotate180(dst.bytes.data(), dst.rowBytes, dst.bytes.data(), dst.rowBytes, 2, 3, p);
    EXPECT_EQ(dst.bytes, untouched);
  }
  Image src(3, 2, 4, 0);
  src.FillDistinct(2);
  Image dst(3, 2, 4, 4);
  const std::vector<uint8_t> untouched = dst.bytes;
  Rotate180(src.bytes.data(), src.rowBytes, dst.bytes.data(), dst.rowBytes, 0, 2, 4);
  Rotate90(src.bytes.data(), src.rowBytes, dst.bytes.data(), dst.rowBytes, 3, -1, 4);
  EXPECT_EQ(dst.bytes, untouched);
}

}  // namespace
