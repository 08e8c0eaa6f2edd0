// The walk of a quarter turn over square blocks of pixels, written once over
// a block transposer and included by the file of each instruction set
// (rotate_sse2.cpp, rotate_avx2.cpp), which is compiled for that set.
//
// Everything here has internal linkage and calls no inline function of
// another header: a copy compiled for AVX2 must never be the one the linker
// keeps for code that runs on any x86-64 processor.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace {
namespace turn {

// Destination tiles of this many bytes of pixels a side: the source and
// destination rows a tile touches stay in the second-level cache (measured
// best of 128 … 1024 bytes on 6000 x 4000 images, 4- and 8-byte pixels).
constexpr int64_t kTileBytes = 512;

int64_t Smaller(int64_t a, int64_t b) {
  return a < b ? a : b;
}

// Pixel by pixel, for the strips that do not fill a whole block.
template <int64_t kPixelBytes, bool kClockwise>
void CopyRegion(const uint8_t* src, int64_t srcRowBytes, uint8_t* dst, int64_t dstRowBytes,
                int64_t width, int64_t height, int64_t y0, int64_t y1, int64_t x0, int64_t x1) {
  for (int64_t y = y0; y < y1; ++y) {
    uint8_t* to = dst + y * dstRowBytes + x0 * kPixelBytes;
    for (int64_t x = x0; x < x1; ++x, to += kPixelBytes) {
      const int64_t row = kClockwise ? width - 1 - x : x;
      const int64_t column = kClockwise ? y : height - 1 - y;
      std::memcpy(to, src + row * srcRowBytes + column * kPixelBytes, size_t(kPixelBytes));
    }
  }
}

// Block::kSide square blocks of Block::kPixelBytes pixels. Block::Turn takes
// the source block's top-left pixel and writes the destination block's.
template <typename Block, bool kClockwise>
void QuarterTurn(const uint8_t* src, int64_t srcRowBytes, uint8_t* dst, int64_t dstRowBytes,
                 int64_t width, int64_t height) {
  constexpr int64_t kSide = Block::kSide, kPixelBytes = Block::kPixelBytes;
  constexpr int64_t kTileSide = kTileBytes / kPixelBytes;
  const int64_t blockWidth = width / kSide * kSide, blockHeight = height / kSide * kSide;
  for (int64_t tileTop = 0; tileTop < blockHeight; tileTop += kTileSide) {
    const int64_t tileBottom = Smaller(tileTop + kTileSide, blockHeight);
    for (int64_t tileLeft = 0; tileLeft < blockWidth; tileLeft += kTileSide) {
      const int64_t tileRight = Smaller(tileLeft + kTileSide, blockWidth);
      // Along destination rows; the next band of blocks reads the rest of
      // the source lines this band fetched, still cached.
      for (int64_t y = tileTop; y < tileBottom; y += kSide) {
        // The source block's top-left pixel.
        const int64_t column = kClockwise ? y : height - kSide - y;
        for (int64_t x = tileLeft; x < tileRight; x += kSide) {
          const int64_t row = kClockwise ? width - kSide - x : x;
          Block::template Turn<kClockwise>(src + row * srcRowBytes + column * kPixelBytes,
                                           srcRowBytes, dst + y * dstRowBytes + x * kPixelBytes,
                                           dstRowBytes);
        }
      }
    }
  }
  CopyRegion<kPixelBytes, kClockwise>(src, srcRowBytes, dst, dstRowBytes, width, height, 0, height,
                                      blockWidth, width);
  CopyRegion<kPixelBytes, kClockwise>(src, srcRowBytes, dst, dstRowBytes, width, height,
                                      blockHeight, height, 0, blockWidth);
}

// Loads the source block's rows so that a plain transpose gives the
// destination's rows: bottom row first for a clockwise turn.
template <typename V, int64_t kSide, bool kClockwise, typename Load>
void LoadRows(const uint8_t* src, int64_t srcRowBytes, Load load, V* rows) {
  for (int64_t k = 0; k < kSide; ++k) {
    rows[k] = load(src + (kClockwise ? kSide - 1 - k : k) * srcRowBytes);
  }
}

// Stores the transposed rows; a counter-clockwise turn puts the last first.
template <typename V, int64_t kSide, bool kClockwise, typename Store>
void StoreRows(uint8_t* dst, int64_t dstRowBytes, Store store, const V* rows) {
  for (int64_t k = 0; k < kSide; ++k) {
    store(dst + (kClockwise ? k : kSide - 1 - k) * dstRowBytes, rows[k]);
  }
}

}  // namespace turn
}  // namespace
