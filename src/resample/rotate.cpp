#include "resample/rotate.h"

#include <algorithm>
#include <cstddef>
#include <cstring>

#include "resample/rotate_simd.h"
#include "resample/simd_level.h"

namespace {

// Quarter turns work through blocks of this many source rows and columns, so
// that the destination rows written between two source rows stay few.
constexpr int64_t kTile = 64;

// One opaque pixel of P bytes; copied whole, the compiler moves it in
// word-sized pieces.
template <size_t P>
struct Pixel {
  unsigned char bytes[P];
};

template <size_t P>
inline void CopyPixel(unsigned char* to, const unsigned char* from) {
  std::memcpy(to, from, P);
}

template <size_t P>
inline void SwapPixels(unsigned char* a, unsigned char* b) {
  Pixel<P> t;
  std::memcpy(&t, a, P);
  std::memcpy(a, b, P);
  std::memcpy(b, &t, P);
}

// A buffer seen as rows of P-byte pixels; the source is only read.
template <typename Byte>
struct PlaneOf {
  Byte* base;
  ptrdiff_t rowBytes;
  Byte* At(int64_t row, int64_t column, size_t p) const {
    return base + row * rowBytes + column * ptrdiff_t(p);
  }
};
using Plane = PlaneOf<unsigned char>;
using SourcePlane = PlaneOf<const unsigned char>;

// Copies count pixels of a source row, stepping by fromStep bytes, down a
// destination column, one destination row per pixel.
template <size_t P>
inline void CopyDownColumn(const unsigned char* from, ptrdiff_t fromStep, unsigned char* to,
                           ptrdiff_t toRowBytes, int64_t count) {
  for (int64_t i = 0; i < count; ++i, from += fromStep, to += toRowBytes) CopyPixel<P>(to, from);
}

// Destination (y, x) = source (wd - 1 - x, y). The source is hd wide and wd
// high; bands of source rows go from the bottom up, tiles left to right.
template <size_t P>
void Turn90(SourcePlane src, Plane dst, int64_t wd, int64_t hd) {
  for (int64_t bandBottom = wd - 1; bandBottom >= 0; bandBottom -= kTile) {
    const int64_t bandTop = std::max<int64_t>(bandBottom - kTile + 1, 0);
    for (int64_t tileLeft = 0; tileLeft < hd; tileLeft += kTile) {
      const int64_t tileRight = std::min(tileLeft + kTile, hd);  // exclusive
      for (int64_t row = bandBottom; row >= bandTop; --row) {
        const int64_t x = wd - 1 - row;
        CopyDownColumn<P>(src.At(row, tileLeft, P), ptrdiff_t(P), dst.At(tileLeft, x, P),
                          dst.rowBytes, tileRight - tileLeft);
      }
    }
  }
}

// Destination (y, x) = source (x, hd - 1 - y). Bands of source rows go from
// the top down, tiles from the right end leftward.
template <size_t P>
void Turn270(SourcePlane src, Plane dst, int64_t wd, int64_t hd) {
  for (int64_t bandTop = 0; bandTop < wd; bandTop += kTile) {
    const int64_t bandEnd = std::min(bandTop + kTile, wd);  // exclusive
    for (int64_t tileRight = hd - 1; tileRight >= 0; tileRight -= kTile) {
      const int64_t tileLeft = std::max<int64_t>(tileRight - kTile + 1, 0);
      for (int64_t row = bandTop; row < bandEnd; ++row) {
        CopyDownColumn<P>(src.At(row, tileRight, P), -ptrdiff_t(P),
                          dst.At(hd - 1 - tileRight, row, P), dst.rowBytes,
                          tileRight - tileLeft + 1);
      }
    }
  }
}

template <size_t P>
void Turn180InPlace(Plane buf, int64_t wd, int64_t hd) {
  for (int64_t y = 0; y < hd / 2; ++y) {
    unsigned char* top = buf.At(y, 0, P);
    unsigned char* bottom = buf.At(hd - 1 - y, wd - 1, P);
    for (int64_t x = 0; x < wd; ++x, top += P, bottom -= P) SwapPixels<P>(top, bottom);
  }
  if (hd % 2 == 1 && wd >= 2) {
    unsigned char* left = buf.At(hd / 2, 0, P);
    unsigned char* right = buf.At(hd / 2, wd - 1, P);
    for (int64_t x = 0; x < wd / 2; ++x, left += P, right -= P) SwapPixels<P>(left, right);
  }
}

template <size_t P>
void Turn180Copy(SourcePlane src, Plane dst, int64_t wd, int64_t hd) {
  for (int64_t y = 0; y < hd; ++y) {
    const unsigned char* from = src.At(hd - 1 - y, wd - 1, P);
    unsigned char* to = dst.At(y, 0, P);
    for (int64_t x = 0; x < wd; ++x, from -= P, to += P) CopyPixel<P>(to, from);
  }
}

template <size_t P>
void Turn180(SourcePlane src, Plane dst, int64_t wd, int64_t hd) {
  if (src.base == dst.base) {
    Turn180InPlace<P>(dst, wd, hd);
  } else {
    Turn180Copy<P>(src, dst, wd, hd);
  }
}

using TurnProc = void (*)(SourcePlane, Plane, int64_t, int64_t);

struct TurnProcs {
  TurnProc turn90;
  TurnProc turn180;
  TurnProc turn270;
};

template <size_t P>
constexpr TurnProcs kProcsFor{Turn90<P>, Turn180<P>, Turn270<P>};

// The routines for a pixel size, or nullptr for a size no routine serves.
const TurnProcs* ProcsForPixelSize(int32_t bytesPerPixel) {
  switch (bytesPerPixel) {
    case 1:
      return &kProcsFor<1>;
    case 2:
      return &kProcsFor<2>;
    case 3:
      return &kProcsFor<3>;
    case 4:
      return &kProcsFor<4>;
    case 6:
      return &kProcsFor<6>;
    case 8:
      return &kProcsFor<8>;
    default:
      return nullptr;
  }
}

// The vectorised quarter turn the level allows, or null for the plain one.
QuarterTurnProc FastQuarterTurn(bool clockwise, int32_t bytesPerPixel, SimdLevel level) {
  QuarterTurnProc proc = nullptr;
  if (level >= kSimdAvx2) proc = Avx2QuarterTurn(clockwise, bytesPerPixel);
  if (proc == nullptr && level >= kSimdSse2) proc = Sse2QuarterTurn(clockwise, bytesPerPixel);
  return proc;
}

void Run(TurnProc TurnProcs::*which, const void* src, int32_t srcRowBytes, void* dst,
         int32_t dstRowBytes, int32_t width, int32_t height, int32_t bytesPerPixel) {
  const TurnProcs* procs = ProcsForPixelSize(bytesPerPixel);
  if (procs == nullptr || src == nullptr || dst == nullptr || width < 1 || height < 1) return;
  if (which != &TurnProcs::turn180) {
    const QuarterTurnProc fast =
        FastQuarterTurn(which == &TurnProcs::turn90, bytesPerPixel, ResampleSimdLevel());
    if (fast != nullptr) {
      fast(static_cast<const uint8_t*>(src), srcRowBytes, static_cast<uint8_t*>(dst), dstRowBytes,
           width, height);
      return;
    }
  }
  SourcePlane from{static_cast<const unsigned char*>(src), srcRowBytes};
  Plane to{static_cast<unsigned char*>(dst), dstRowBytes};
  (procs->*which)(from, to, width, height);
}

}  // namespace

void Rotate90(const void* src, int32_t srcRowBytes, void* dst, int32_t dstRowBytes, int32_t width,
              int32_t height, int32_t bytesPerPixel) {
  Run(&TurnProcs::turn90, src, srcRowBytes, dst, dstRowBytes, width, height, bytesPerPixel);
}

void Rotate180(const void* src, int32_t srcRowBytes, void* dst, int32_t dstRowBytes, int32_t width,
               int32_t height, int32_t bytesPerPixel) {
  Run(&TurnProcs::turn180, src, srcRowBytes, dst, dstRowBytes, width, height, bytesPerPixel);
}

void Rotate270(const void* src, int32_t srcRowBytes, void* dst, int32_t dstRowBytes, int32_t width,
               int32_t height, int32_t bytesPerPixel) {
  Run(&TurnProcs::turn270, src, srcRowBytes, dst, dstRowBytes, width, height, bytesPerPixel);
}
