#include "resample/edge_fetch.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

TEST(EdgeFetch, WrapAndPinchRowIndices) {
  EXPECT_EQ(WrapRowIndex(-1, 5), 4);
  EXPECT_EQ(WrapRowIndex(5, 5), 0);
  EXPECT_EQ(WrapRowIndex(-6, 5), 4);
  EXPECT_EQ(WrapRowIndex(12, 5), 2);
  EXPECT_EQ(WrapRowIndex(-3, 1), 0);
  // Non-negative results are rows; -1 - ρ is the row that is turned.
  EXPECT_EQ(PinchRowIndex(-1, 5), -1);  // row 0 turned
  EXPECT_EQ(PinchRowIndex(-2, 5), -2);  // row 1 turned
  EXPECT_EQ(PinchRowIndex(5, 5), -5);   // row 4 turned
  EXPECT_EQ(PinchRowIndex(6, 5), -4);   // row 3 turned
  EXPECT_EQ(PinchRowIndex(-6, 5), 4);   // twice across: row 4 itself
  EXPECT_EQ(PinchRowIndex(10, 5), 0);
  EXPECT_EQ(PinchRowIndex(3, 5), 3);
  EXPECT_EQ(PinchRowIndex(-1, 1), -1);
  EXPECT_EQ(PinchRowIndex(1, 1), -1);
}

TEST(EdgeFetch, HalfTurnEvenWidthMovesPixels) {
  const uint32_t in[4] = {0x11111111, 0x22222222, 0x33333333, 0x44444444};
  uint32_t out[4];
  HalfTurnRow(reinterpret_cast<const uint8_t*>(in), reinterpret_cast<uint8_t*>(out), 4,
              kClassARGB32);
  EXPECT_EQ(out[0], 0x33333333u);
  EXPECT_EQ(out[1], 0x44444444u);
  EXPECT_EQ(out[2], 0x11111111u);
  EXPECT_EQ(out[3], 0x22222222u);
}

TEST(EdgeFetch, HalfTurnOddWidthAveragesNeighbours) {
  const Bytes grey{10, 20, 30, 40, 51};
  Bytes out(5);
  HalfTurnRow(grey.data(), out.data(), 5, kClassGray8);
  EXPECT_EQ(out, (Bytes{35, 45, 30, 15, 25}));

  // 8-bit channels are averaged one by one, with no carry between them.
  const uint32_t argb[3] = {0xFF00FF01, 0x01FF0003, 0x02020202};
  uint32_t turned[3];
  HalfTurnRow(reinterpret_cast<const uint8_t*>(argb), reinterpret_cast<uint8_t*>(turned), 3,
              kClassARGB32);
  EXPECT_EQ(turned[0], 0x01800102u);  // mean of pixels 1 and 2
  EXPECT_EQ(turned[1], 0x80018001u);  // mean of pixels 2 and 0
  EXPECT_EQ(turned[2], 0x807F7F02u);  // mean of pixels 0 and 1

  // 16-bit samples do not overflow.
  const uint16_t wide[9] = {65535, 0, 7, 65534, 1, 8, 0, 2, 9};
  uint16_t wideOut[9];
  HalfTurnRow(reinterpret_cast<const uint8_t*>(wide), reinterpret_cast<uint8_t*>(wideOut), 3,
              kClassRGB48);
  const uint16_t expected[9] = {32767, 1, 8, 32767, 1, 8, 65534, 0, 7};
  EXPECT_EQ(0, std::memcmp(wideOut, expected, sizeof expected));

  const uint8_t single[8] = {1, 2, 3, 4, 5, 6, 7, 8};
  uint8_t singleOut[8];
  HalfTurnRow(single, singleOut, 1, kClassARGB64);
  EXPECT_EQ(0, std::memcmp(single, singleOut, 8));
}

TEST(EdgeFetch, PaddingReadsModuloAnyWidth) {
  for (int32_t width : {1, 2, 3, 7}) {
    for (int32_t margin : {1, 3, 5, 9}) {
      std::vector<uint16_t> row(size_t(width + 2 * margin), 0xFFFF);
      for (int32_t j = 0; j < width; ++j) row[size_t(margin + j)] = uint16_t(100 + j);
      PadRowCircular(reinterpret_cast<uint8_t*>(row.data() + margin), width, margin, 2);
      for (int32_t j = -margin; j < width + margin; ++j) {
        EXPECT_EQ(row[size_t(margin + j)], 100 + ((j % width) + width) % width)
            << "width " << width << " margin " << margin << " j " << j;
      }
    }
  }
}

// A 3 × 2 grey source behind the fetchers.
const uint8_t* source_pixels = nullptr;
struct FetcherFixture {
  uint8_t pixels[6] = {1, 2, 3, 4, 5, 6};
  ResampleContext source;
  uint8_t rowBuffer[3 + 2 * 2] = {};
  EdgeFetcher fetcher;

  static const uint8_t* RowOf(const ResampleContext* c, int32_t row) {
    EXPECT_GE(row, 0);
    EXPECT_LT(row, c->sourceHeight);
    return source_pixels + row * 3;
  }

  explicit FetcherFixture(int32_t flags) {
    source.sourceWidth = 3;
    source.sourceHeight = 2;
    source.sourceClass = kClassGray8;
    source_pixels = pixels;
    source.sourceRow = RowOf;
    const int64_t margin = (flags & kFetchPad) ? 2 : 0;
    fetcher = EdgeFetcher{source, &source, rowBuffer + margin, 3, 2, margin};
    fetcher.context.sourceRow = EdgeFetcherForFlags(flags);
  }

  Bytes Fetch(int32_t row, int32_t from, int32_t to) {
    const uint8_t* p = fetcher.context.sourceRow(&fetcher.context, row);
    return Bytes(p + from, p + to);
  }
};

TEST(EdgeFetch, FetchersCombineRowsAndPadding) {
  FetcherFixture wrap(kFetchWrapRows);
  EXPECT_EQ(wrap.Fetch(-1, 0, 3), (Bytes{4, 5, 6}));
  EXPECT_EQ(wrap.Fetch(2, 0, 3), (Bytes{1, 2, 3}));

  FetcherFixture pinch(kFetchPinchRows);
  EXPECT_EQ(pinch.Fetch(1, 0, 3), (Bytes{4, 5, 6}));
  EXPECT_EQ(pinch.Fetch(-1, 0, 3), (Bytes{2, 2, 1}));  // row 0 turned by 1.5 pixels
  EXPECT_EQ(pinch.Fetch(2, 0, 3), (Bytes{5, 5, 4}));   // row 1 turned

  FetcherFixture pad(kFetchPad);
  EXPECT_EQ(pad.Fetch(1, -2, 5), (Bytes{5, 6, 4, 5, 6, 4, 5}));

  FetcherFixture wrapPad(kFetchWrapRows | kFetchPad);
  EXPECT_EQ(wrapPad.Fetch(-2, -2, 5), (Bytes{2, 3, 1, 2, 3, 1, 2}));

  FetcherFixture pinchPad(kFetchPinchRows | kFetchPad);
  EXPECT_EQ(pinchPad.Fetch(-1, -2, 5), (Bytes{2, 1, 2, 2, 1, 2, 2}));
  EXPECT_EQ(pinchPad.Fetch(0, -2, 5), (Bytes{2, 3, 1, 2, 3, 1, 2}));
}

}  // namespace
