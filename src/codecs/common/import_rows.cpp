#include "codecs/common/import_rows.h"

#include <algorithm>
#include <cstring>

#include "base/big_endian.h"
#include "codecs/common/buffer_rows.h"

namespace {

void PutArgb(uint32_t a, uint32_t r, uint32_t g, uint32_t b, uint8_t* p) {
  const uint32_t argb = a << 24 | r << 16 | g << 8 | b;
  std::memcpy(p, &argb, 4);
}

}  // namespace

bool IsDrawableFormat(OSType pixelFormat) {
  return pixelFormat == k32ARGBPixelFormat || pixelFormat == k48RGBCodecType ||
         pixelFormat == k64ARGBPixelFormat;
}

void StoreRgba8Row(const uint8_t* in, RowBand* dst, int64_t y) {
  uint8_t* out = BufferRow(*dst, y);
  const int64_t width = BufferWidth(*dst);
  switch (dst->PixelFormat()) {
    case k32ARGBPixelFormat:
      for (int64_t x = 0; x < width; ++x, in += 4, out += 4)
        PutArgb(in[3], in[0], in[1], in[2], out);
      break;
    case k48RGBCodecType:
      for (int64_t x = 0; x < width; ++x, in += 4, out += 6) {
        WriteBigEndian16(Widen8To16(in[0]), out);
        WriteBigEndian16(Widen8To16(in[1]), out + 2);
        WriteBigEndian16(Widen8To16(in[2]), out + 4);
      }
      break;
    case k64ARGBPixelFormat:
      for (int64_t x = 0; x < width; ++x, in += 4, out += 8) {
        WriteBigEndian16(Widen8To16(in[3]), out);
        WriteBigEndian16(Widen8To16(in[0]), out + 2);
        WriteBigEndian16(Widen8To16(in[1]), out + 4);
        WriteBigEndian16(Widen8To16(in[2]), out + 6);
      }
      break;
    default:
      break;
  }
}

void StoreRgba16Row(const uint16_t* in, RowBand* dst, int64_t y) {
  uint8_t* out = BufferRow(*dst, y);
  const int64_t width = BufferWidth(*dst);
  switch (dst->PixelFormat()) {
    case k32ARGBPixelFormat:
      for (int64_t x = 0; x < width; ++x, in += 4, out += 4) {
        PutArgb(Reduce16To8(in[3]), Reduce16To8(in[0]), Reduce16To8(in[1]), Reduce16To8(in[2]),
                out);
      }
      break;
    case k48RGBCodecType:
      for (int64_t x = 0; x < width; ++x, in += 4, out += 6) {
        WriteBigEndian16(in[0], out);
        WriteBigEndian16(in[1], out + 2);
        WriteBigEndian16(in[2], out + 4);
      }
      break;
    case k64ARGBPixelFormat:
      for (int64_t x = 0; x < width; ++x, in += 4, out += 8) {
        WriteBigEndian16(in[3], out);
        WriteBigEndian16(in[0], out + 2);
        WriteBigEndian16(in[1], out + 4);
        WriteBigEndian16(in[2], out + 6);
      }
      break;
    default:
      break;
  }
}

void UnpremultiplyRgba16Row(uint16_t* rgba, int64_t width) {
  for (int64_t x = 0; x < width; ++x, rgba += 4) {
    const uint32_t a = rgba[3];
    for (int c = 0; c < 3; ++c) {
      rgba[c] = a == 0 ? 0 : uint16_t(std::min<uint32_t>(65535, (rgba[c] * 65535u + a / 2) / a));
    }
  }
}
