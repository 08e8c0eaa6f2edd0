// Quarter turns by SSE2 transposes: 4 x 4 blocks of 4-byte pixels, 2 x 2
// blocks of 8-byte pixels.
#include "resample/rotate_simd.h"

#if defined(__x86_64__)

#include <emmintrin.h>

#include "resample/rotate_blocks.h"

namespace {

__m128i Load128(const uint8_t* p) {
  return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}
void Store128(uint8_t* p, __m128i v) {
  _mm_storeu_si128(reinterpret_cast<__m128i*>(p), v);
}

struct Block4x4Of32 {
  static constexpr int64_t kSide = 4, kPixelBytes = 4;
  template <bool kClockwise>
  static void Turn(const uint8_t* src, int64_t srcRowBytes, uint8_t* dst, int64_t dstRowBytes) {
    __m128i r[4];
    turn::LoadRows<__m128i, kSide, kClockwise>(src, srcRowBytes, Load128, r);
    const __m128i t0 = _mm_unpacklo_epi32(r[0], r[1]), t1 = _mm_unpacklo_epi32(r[2], r[3]);
    const __m128i t2 = _mm_unpackhi_epi32(r[0], r[1]), t3 = _mm_unpackhi_epi32(r[2], r[3]);
    const __m128i out[4] = {_mm_unpacklo_epi64(t0, t1), _mm_unpackhi_epi64(t0, t1),
                            _mm_unpacklo_epi64(t2, t3), _mm_unpackhi_epi64(t2, t3)};
    turn::StoreRows<__m128i, kSide, kClockwise>(dst, dstRowBytes, Store128, out);
  }
};

struct Block2x2Of64 {
  static constexpr int64_t kSide = 2, kPixelBytes = 8;
  template <bool kClockwise>
  static void Turn(const uint8_t* src, int64_t srcRowBytes, uint8_t* dst, int64_t dstRowBytes) {
    __m128i r[2];
    turn::LoadRows<__m128i, kSide, kClockwise>(src, srcRowBytes, Load128, r);
    const __m128i out[2] = {_mm_unpacklo_epi64(r[0], r[1]), _mm_unpackhi_epi64(r[0], r[1])};
    turn::StoreRows<__m128i, kSide, kClockwise>(dst, dstRowBytes, Store128, out);
  }
};

}  // namespace

QuarterTurnProc Sse2QuarterTurn(bool clockwise, int32_t bytesPerPixel) {
  switch (bytesPerPixel) {
    case 4:
      return clockwise ? turn::QuarterTurn<Block4x4Of32, true>
                       : turn::QuarterTurn<Block4x4Of32, false>;
    case 8:
      return clockwise ? turn::QuarterTurn<Block2x2Of64, true>
                       : turn::QuarterTurn<Block2x2Of64, false>;
    default:
      return nullptr;
  }
}

#else

QuarterTurnProc Sse2QuarterTurn(bool, int32_t) {
  return nullptr;
}

#endif
