// Helpers for the codec tests: buffers, pixel access, encode and decode
// through the codec entries.
#pragma once

#include <cmath>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "platform/codec.h"
#include "platform/gworld.h"
#include "platform/owned.h"

namespace test {

// Pixels of a 32-bit canvas that differ from the canvas before outside the
// rectangle the reader said it changed: a reader must say 0.
inline int64_t ChangedOutside(const std::vector<uint8_t>& before, const PixelView& after,
                              const PixelRect& changed) {
  int64_t outside = 0;
  for (int32_t y = 0; y < after.height; ++y) {
    for (int32_t x = 0; x < after.width; ++x) {
      const int64_t at = y * after.rowBytes + 4 * x;
      const bool inside =
          x >= changed.left && x < changed.right && y >= changed.top && y < changed.bottom;
      outside += !inside && std::memcmp(before.data() + at, after.base + at, 4) != 0;
    }
  }
  return outside;
}

using OwnedGWorld = UniqueGWorld;

inline OwnedGWorld MakeGWorld(OSType format, int32_t width, int32_t height) {
  Rect bounds;
  MacSetRect(&bounds, 0, 0, width, height);
  GWorldPtr gw = nullptr;
  if (QTNewGWorld(&gw, format, &bounds, nullptr, nullptr, kNativeEndianPixMap) != noErr) {
    return nullptr;
  }
  return OwnedGWorld(gw);
}

inline uint8_t* PixelAt(const GWorld& gw, int32_t x, int32_t y) {
  return static_cast<uint8_t*>(gw.pixMap.baseAddr) + int64_t(y) * gw.pixMap.rowBytes +
         int64_t(x) * (gw.pixMap.pixelSize / 8);
}

inline uint32_t ArgbAt(const GWorld& gw, int32_t x, int32_t y) {
  uint32_t v;
  std::memcpy(&v, PixelAt(gw, x, y), 4);
  return v;
}

inline void SetArgb(GWorld& gw, int32_t x, int32_t y, uint32_t v) {
  std::memcpy(PixelAt(gw, x, y), &v, 4);
}

// Sample i (0-based) of a 16-bit pixel, stored most significant byte first.
inline uint16_t Sample16At(const GWorld& gw, int32_t x, int32_t y, int i) {
  const uint8_t* p = PixelAt(gw, x, y) + 2 * i;
  return uint16_t(p[0] << 8 | p[1]);
}

inline void SetSample16(GWorld& gw, int32_t x, int32_t y, int i, uint16_t v) {
  uint8_t* p = PixelAt(gw, x, y) + 2 * i;
  p[0] = uint8_t(v >> 8);
  p[1] = uint8_t(v);
}

inline constexpr uint32_t Argb(uint32_t a, uint32_t r, uint32_t g, uint32_t b) {
  return a << 24 | r << 16 | g << 8 | b;
}

// Draws into a whole buffer, as the importers' callers do.
inline OSErr DrawGWorld(const ImporterCodec& codec, ByteSpan file, GWorld* gw) {
  RowBand rows;
  rows.AttachWhole(PixelViewOf(gw), false);
  return codec.draw(file, DrawRequest{&rows, nullptr, 1});
}
inline OSErr DrawGWorld(const ImporterCodec* codec, ByteSpan file, GWorld* gw) {
  return DrawGWorld(*codec, file, gw);
}

struct Decoded {
  OSErr err = noErr;
  ImageHeader header;
  OwnedGWorld image;
};

// Reads the header and draws into a buffer of the given format at the
// natural size.
inline Decoded DecodeWith(const ImporterCodec& codec, const std::vector<uint8_t>& file,
                          OSType format) {
  Decoded d;
  ByteSpan bytes(file.data(), file.size());
  d.err = codec.readHeader(bytes, &d.header);
  if (d.err != noErr) return d;
  d.image = MakeGWorld(format, d.header.width, d.header.height);
  if (!d.image) {
    d.err = memFullErr;
    return d;
  }
  d.err = DrawGWorld(codec, bytes, d.image.get());
  return d;
}

inline std::vector<uint8_t> EncodeWith(const ExporterCodec& codec, const GWorld& image,
                                       int32_t quality, int32_t depth, OSErr* err = nullptr) {
  RowBand rows;
  rows.AttachWhole(PixelViewOf(const_cast<GWorld*>(&image)), true);
  ExportRequest request;
  request.image = &rows;
  request.quality = quality;
  request.depth = depth;
  std::vector<uint8_t> out;
  ByteSink sink(&out);
  OSErr result = codec.encode(request, &sink);
  if (err != nullptr) *err = result;
  return out;
}

// Peak signal-to-noise ratio over the R, G and B of two ARGB buffers.
inline double RgbPsnr(const GWorld& a, const GWorld& b) {
  double sum = 0;
  int64_t count = 0;
  const int32_t w = a.pixMap.bounds.right, h = a.pixMap.bounds.bottom;
  for (int32_t y = 0; y < h; ++y) {
    for (int32_t x = 0; x < w; ++x) {
      uint32_t p = ArgbAt(a, x, y), q = ArgbAt(b, x, y);
      for (int shift = 0; shift < 24; shift += 8) {
        double d = double((p >> shift) & 0xFF) - double((q >> shift) & 0xFF);
        sum += d * d;
        ++count;
      }
    }
  }
  if (sum == 0) return 99.0;
  return 10.0 * std::log10(255.0 * 255.0 / (sum / double(count)));
}

// A smooth colour picture with some detail, opaque unless alpha is asked for.
inline OwnedGWorld MakeTestPicture(int32_t w, int32_t h, bool varyAlpha = false) {
  OwnedGWorld gw = MakeGWorld(k32ARGBPixelFormat, w, h);
  for (int32_t y = 0; y < h; ++y) {
    for (int32_t x = 0; x < w; ++x) {
      uint32_t r = uint32_t(x * 255 / (w - 1));
      uint32_t g = uint32_t(y * 255 / (h - 1));
      uint32_t b = uint32_t(128 + 100 * std::sin(x * 0.3) * std::cos(y * 0.2));
      uint32_t a = varyAlpha ? uint32_t((x * 7 + y * 13) & 0xFF) : 255;
      SetArgb(*gw, x, y, Argb(a, r, g, b));
    }
  }
  return gw;
}

}  // namespace test
