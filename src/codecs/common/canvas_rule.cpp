#include "codecs/common/canvas_rule.h"

bool FirstFrameFillsCanvas(int64_t canvasWidth, int64_t canvasHeight, int64_t frameWidth,
                           int64_t frameHeight) {
  // Both formats hold each dimension in at most 24 bits: no product overflows.
  const int64_t canvasPixels = canvasWidth * canvasHeight;
  if (canvasPixels <= kLargeCanvasPixels) return true;
  return frameWidth * frameHeight * 4 >= canvasPixels;
}

bool LzwDataCanPaint(int64_t framePixels, uint64_t dataBytes) {
  if (framePixels <= kLargeCanvasPixels) return true;
  constexpr uint64_t kPixelsPerCode = 4096;
  // floor(dataBytes * 8 / 12), without overflowing for any size.
  const uint64_t codes = dataBytes / 3 * 2 + dataBytes % 3 * 2 / 3;
  const uint64_t codesNeeded = (uint64_t(framePixels) + kPixelsPerCode - 1) / kPixelsPerCode;
  return codesNeeded <= codes;
}
