#include "codecs/common/buffer_rows.h"

int64_t BufferWidth(const GWorld& gw) {
  return int64_t(gw.pixMap.bounds.right) - gw.pixMap.bounds.left;
}

int64_t BufferHeight(const GWorld& gw) {
  return int64_t(gw.pixMap.bounds.bottom) - gw.pixMap.bounds.top;
}

const uint8_t* BufferRow(const GWorld& gw, int64_t y) {
  return static_cast<const uint8_t*>(gw.pixMap.baseAddr) + y * int64_t(gw.pixMap.rowBytes);
}

uint8_t* BufferRow(GWorld& gw, int64_t y) {
  return static_cast<uint8_t*>(gw.pixMap.baseAddr) + y * int64_t(gw.pixMap.rowBytes);
}
