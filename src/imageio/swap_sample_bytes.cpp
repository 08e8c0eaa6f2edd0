#include "imageio/swap_sample_bytes.h"

#include <algorithm>
#include <utility>

void SwapSampleBytes(GWorldPtr gw) {
  if (gw == nullptr) return;
  RowBand rows;
  rows.AttachWhole(PixelViewOf(gw), true);
  SwapSampleBytesRows(rows, 0, rows.Height());
}

// Padding at the end of each row is left alone.
void SwapSampleBytesRows(const RowBand& rows, int64_t firstRow, int64_t endRow) {
  const int64_t pairs = int64_t(rows.Width()) * (rows.PixelSize() / 8) / 2;
  const int64_t end = std::min<int64_t>(endRow, rows.Height());
  for (int64_t y = std::max<int64_t>(firstRow, 0); y < end; ++y) {
    uint8_t* row = rows.RowAddress(y);
    for (int64_t i = 0; i < pairs; ++i) std::swap(row[2 * i], row[2 * i + 1]);
  }
}
