// Quarter turns by AVX2 transposes: 8 x 8 blocks of 4-byte pixels, 4 x 4
// blocks of 8-byte pixels. The build compiles this file alone with -mavx2;
// the turns call into it only when the processor has AVX2.
#include "resample/rotate_simd.h"

#if defined(__x86_64__) && defined(__AVX2__)

#include <immintrin.h>

#include "resample/rotate_blocks.h"

namespace {

__m256i Load256(const uint8_t* p) {
  return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
}
void Store256(uint8_t* p, __m256i v) {
  _mm256_storeu_si256(reinterpret_cast<__m256i*>(p), v);
}

// The unpacks work within each 128-bit half, the last step across them.
struct Block8x8Of32 {
  static constexpr int64_t kSide = 8, kPixelBytes = 4;
  template <bool kClockwise>
  static void Turn(const uint8_t* src, int64_t srcRowBytes, uint8_t* dst, int64_t dstRowBytes) {
    __m256i r[8];
    turn::LoadRows<__m256i, kSide, kClockwise>(src, srcRowBytes, Load256, r);
    __m256i t[8], u[8];
    for (int32_t k = 0; k < 8; k += 2) {
      t[k] = _mm256_unpacklo_epi32(r[k], r[k + 1]);      // a0 b0 a1 b1 | a4 b4 a5 b5
      t[k + 1] = _mm256_unpackhi_epi32(r[k], r[k + 1]);  // a2 b2 a3 b3 | a6 b6 a7 b7
    }
    for (int32_t k = 0; k < 8; k += 4) {
      u[k] = _mm256_unpacklo_epi64(t[k], t[k + 2]);          // a0 b0 c0 d0 | a4 b4 c4 d4
      u[k + 1] = _mm256_unpackhi_epi64(t[k], t[k + 2]);      // columns 1 | 5
      u[k + 2] = _mm256_unpacklo_epi64(t[k + 1], t[k + 3]);  // columns 2 | 6
      u[k + 3] = _mm256_unpackhi_epi64(t[k + 1], t[k + 3]);  // columns 3 | 7
    }
    __m256i out[8];
    for (int32_t c = 0; c < 4; ++c) {
      out[c] = _mm256_permute2x128_si256(u[c], u[c + 4], 0x20);
      out[c + 4] = _mm256_permute2x128_si256(u[c], u[c + 4], 0x31);
    }
    turn::StoreRows<__m256i, kSide, kClockwise>(dst, dstRowBytes, Store256, out);
  }
};

struct Block4x4Of64 {
  static constexpr int64_t kSide = 4, kPixelBytes = 8;
  template <bool kClockwise>
  static void Turn(const uint8_t* src, int64_t srcRowBytes, uint8_t* dst, int64_t dstRowBytes) {
    __m256i r[4];
    turn::LoadRows<__m256i, kSide, kClockwise>(src, srcRowBytes, Load256, r);
    const __m256i t0 = _mm256_unpacklo_epi64(r[0], r[1]);  // a0 b0 | a2 b2
    const __m256i t1 = _mm256_unpackhi_epi64(r[0], r[1]);  // a1 b1 | a3 b3
    const __m256i t2 = _mm256_unpacklo_epi64(r[2], r[3]);
    const __m256i t3 = _mm256_unpackhi_epi64(r[2], r[3]);
    const __m256i out[4] = {
        _mm256_permute2x128_si256(t0, t2, 0x20), _mm256_permute2x128_si256(t1, t3, 0x20),
        _mm256_permute2x128_si256(t0, t2, 0x31), _mm256_permute2x128_si256(t1, t3, 0x31)};
    turn::StoreRows<__m256i, kSide, kClockwise>(dst, dstRowBytes, Store256, out);
  }
};

}  // namespace

QuarterTurnProc Avx2QuarterTurn(bool clockwise, int32_t bytesPerPixel) {
  switch (bytesPerPixel) {
    case 4:
      return clockwise ? turn::QuarterTurn<Block8x8Of32, true>
                       : turn::QuarterTurn<Block8x8Of32, false>;
    case 8:
      return clockwise ? turn::QuarterTurn<Block4x4Of64, true>
                       : turn::QuarterTurn<Block4x4Of64, false>;
    default:
      return nullptr;
  }
}

#else

QuarterTurnProc Avx2QuarterTurn(bool, int32_t) {
  return nullptr;
}

#endif
