#include "imageio/import.h"

#include <algorithm>
#include <utility>

void SwapSampleBytes(GWorldPtr gw) {
  if (gw == nullptr) return;
  SwapSampleBytesRows(gw, 0, int64_t(gw->portRect.bottom) - gw->portRect.top);
}

// The base address is the pixel at the bounds' top-left corner, whatever the
// bounds' origin, so rows are counted from it; padding is left alone.
void SwapSampleBytesRows(GWorldPtr gw, int64_t firstRow, int64_t endRow) {
  if (gw == nullptr) return;
  const Rect& bounds = gw->portRect;
  PixMapHandle pixMap = GetGWorldPixMap(gw);
  const int64_t rowBytes = QTGetPixMapHandleRowBytes(pixMap);
  const int64_t bytesPerPixel = pixMap->pixelSize / 8;
  const int64_t pairs = (int64_t(bounds.right) - bounds.left) * bytesPerPixel / 2;
  const int64_t end = std::min(endRow, int64_t(bounds.bottom) - bounds.top);
  auto* row =
      static_cast<uint8_t*>(GetPixBaseAddr(pixMap)) + std::max<int64_t>(firstRow, 0) * rowBytes;
  for (int64_t y = std::max<int64_t>(firstRow, 0); y < end; ++y, row += rowBytes) {
    for (int64_t i = 0; i < pairs; ++i) std::swap(row[2 * i], row[2 * i + 1]);
  }
}
