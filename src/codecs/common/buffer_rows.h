// A pixel buffer's size and rows, whether a whole GWorld or a band of rows.
#pragma once

#include <cstdint>

#include "platform/gworld.h"
#include "stream/row_band.h"

inline int64_t BufferWidth(const RowBand& band) {
  return band.Width();
}
inline int64_t BufferHeight(const RowBand& band) {
  return band.Height();
}
// The buffer's width and height (from its pixel map bounds).
int64_t BufferWidth(const GWorld& gw);
int64_t BufferHeight(const GWorld& gw);
const uint8_t* BufferRow(const GWorld& gw, int64_t y);
uint8_t* BufferRow(GWorld& gw, int64_t y);
