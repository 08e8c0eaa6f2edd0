// An unsharp mask on a resized picture's rows: the detail of each pixel's
// luma against a 3 x 3 binomial blur of it (weights 1 2 1 each way, 16 in
// all), times the amount, added to each colour channel alike. Luma alone,
// so that edges gain contrast without colour fringes, and one blur a pixel
// instead of three; alpha is left as it is (the resized rows carry straight
// alpha). The picture's borders repeat their edge samples. Integer
// arithmetic throughout: the same bytes on every machine, SIMD level and
// band of rows.
#pragma once

#include <cstdint>
#include <vector>

#include "resample/resample_context.h"

// The amount in 1/256: 256 adds the detail once.
constexpr int32_t kSharpenOne = 256;
// The amounts a command line may ask for: 0.01 to 4; a resize takes 0 to
// kSharpenMost in 1/256.
constexpr double kSharpenLeastAmount = 0.01;
constexpr int32_t kSharpenMost = 4 * kSharpenOne;
// "//sharpen" without an amount: what brings the peers' sharpness back
// after a strong shrink (bench/sharpen.py measures it).
constexpr int32_t kSharpenDefault = 31;  // 0.12

// Luma times 256 (weights 77, 150, 29 of red, green, blue; grey as it is)
// of width pixels of a class.
void LumaRow(PixelClass cls, const uint8_t* row, int32_t width, int32_t* luma);

// Row `row` sharpened into out (which may not be row), from the lumas of
// the rows above, of it and below (an edge row passes itself as its
// missing neighbour).
void SharpenRow(PixelClass cls, int32_t amount, const uint8_t* row, const int32_t* above,
                const int32_t* luma, const int32_t* below, int32_t width, uint8_t* out);

// The rows a resize makes, held until the row below each is made: three
// rows of the destination's and their lumas. The resize writes row y into
// RowFor(y); once rows up to y are written, row y - 1 may be sharpened.
class SharpenRing {
 public:
  // bad_alloc when the rows cannot be had.
  SharpenRing(PixelClass cls, int32_t width, int32_t height, int32_t amount);
  uint8_t* RowFor(int32_t y) { return rows_.data() + Slot(y) * rowBytes_; }
  // Row y is written: its luma is taken.
  void Written(int32_t y);
  // Row y sharpened into out; rows y - 1 (when y > 0), y and y + 1 (when
  // below the last) are written and no later row is.
  void Sharpen(int32_t y, uint8_t* out) const;
  int32_t Height() const { return height_; }

 private:
  static int64_t Slot(int32_t y) { return y % 3; }
  const int32_t* LumaOf(int32_t y) const { return luma_.data() + Slot(y) * width_; }

  PixelClass class_;
  int32_t width_;
  int32_t height_;
  int32_t amount_;
  int64_t rowBytes_;
  std::vector<uint8_t> rows_;
  std::vector<int32_t> luma_;
};
