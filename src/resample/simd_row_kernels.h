// The vectorised row procedures, written once over a vector type and
// included by the file of each instruction set (row_procs_sse2.cpp,
// row_procs_avx2.cpp), which is compiled for that set.
//
// Everything here has internal linkage and calls no inline function of
// another header: a copy compiled for AVX2 must never be the one the linker
// keeps for code that runs on any x86-64 processor.
//
// Exactness: the plain procedures accumulate Σ weight · sample in 32-bit
// integers. pmaddwd forms each product exactly (16 × 16 bits, at most 2^30)
// and adds products in pairs, which leaves 32 bits only for two products of
// -32768 · -32768 and then wraps; every addition here wraps modulo 2^32 like
// any 32-bit sum, so any order of the same terms gives the plain procedure's
// value. The
// plain sums do not overflow: weights sum to 16384 with modest overshoot,
// intermediate samples stay near 0 … 16384 and source samples are unsigned
// 8 or 16 bits. 16-bit source samples do not fit pmaddwd's signed operands,
// so they are taken as s - 32768 and 32768 · Σ weight is added back.
#pragma once

#include <emmintrin.h>

#include <cstdint>
#include <cstring>

#include "resample/resample_context.h"

namespace {
namespace simd {

// Filter table entries (see filter_table.h): start high and low halves,
// count, weights.
struct Entry {
  int32_t start;
  int32_t count;
  const int16_t* weights;
};
Entry ReadEntry(const int16_t* e) {
  return {int32_t(uint32_t(uint16_t(e[0])) << 16 | uint16_t(e[1])), e[2], e + 3};
}
const int16_t* EntryAt(const int16_t* table, int64_t stride, int64_t i) {
  return reinterpret_cast<const int16_t*>(reinterpret_cast<const uint8_t*>(table) + i * stride);
}

// Two taps' weights as the 32-bit lane pmaddwd pairs with two samples.
int32_t PairWeights(int16_t first, int16_t second) {
  return int32_t(uint32_t(uint16_t(first)) | uint32_t(uint16_t(second)) << 16);
}

// ---------------------------------------------------------------------------
// Vertical: the ring rows are flat arrays of 16-bit samples, so a vertical
// procedure filters kLanes samples at a time whatever the channel count;
// only the final conversion and layout depend on the destination.

struct Sse2 {
  using V = __m128i;
  static constexpr int32_t kLanes = 8;  // 16-bit samples per vector
  static V Load(const void* p) { return _mm_loadu_si128(static_cast<const V*>(p)); }
  static V Zero() { return _mm_setzero_si128(); }
  static V Broadcast32(int32_t v) { return _mm_set1_epi32(v); }
  static V Broadcast16(int16_t v) { return _mm_set1_epi16(v); }
  static V InterleaveLo16(V a, V b) { return _mm_unpacklo_epi16(a, b); }
  static V InterleaveHi16(V a, V b) { return _mm_unpackhi_epi16(a, b); }
  static V MulAddPairs(V a, V b) { return _mm_madd_epi16(a, b); }
  static V Add32(V a, V b) { return _mm_add_epi32(a, b); }
  static V ShiftRight32(V a, int bits) { return _mm_srai_epi32(a, bits); }
  // Signed saturation; with the interleaving above it restores sample order.
  static V Pack32To16(V lo, V hi) { return _mm_packs_epi32(lo, hi); }
  static V Xor(V a, V b) { return _mm_xor_si128(a, b); }
  // A, R, G, B to B, G, R, A in every group of four 16-bit lanes.
  static V ReverseQuads16(V a) { return _mm_shufflehi_epi16(_mm_shufflelo_epi16(a, 0x1B), 0x1B); }
  static void StoreWords(void* p, V a) { _mm_storeu_si128(static_cast<V*>(p), a); }
  // The sums of samples 0-3 in lo, 4-7 in hi.
  static void StoreSums(void* p, V lo, V hi) {
    _mm_storeu_si128(static_cast<V*>(p), lo);
    _mm_storeu_si128(static_cast<V*>(p) + 1, hi);
  }
  // kLanes bytes, each 16-bit lane clamped to 0 … 255.
  static void StoreBytes(void* p, V a) {
    _mm_storel_epi64(static_cast<V*>(p), _mm_packus_epi16(a, a));
  }
};

template <typename S>
struct Sums {
  typename S::V lo, hi;  // 32-bit sums of the interleaved low and high halves
};

// Two adjacent weights as one 32-bit lane: in x86's little-endian memory
// order they already are the pair pmaddwd wants.
int32_t LoadWeightPair(const int16_t* w) {
  int32_t v;
  std::memcpy(&v, w, 4);
  return v;
}

// Σ weight_k · sample over the entry's taps for kVectors · kLanes samples:
// load(row k, v) fetches vector v of row k.
template <typename S, int32_t kVectors, typename Loader>
void SumTaps(const uint8_t* row, int64_t rowSize, const int16_t* weights, int32_t count,
             Loader load, Sums<S>* sums) {
  using V = typename S::V;
  V lo[kVectors], hi[kVectors];
  for (int32_t v = 0; v < kVectors; ++v) lo[v] = hi[v] = S::Zero();
  int32_t k = 0;
  for (; k + 1 < count; k += 2, row += 2 * rowSize) {
    const V w = S::Broadcast32(LoadWeightPair(weights + k));
    for (int32_t v = 0; v < kVectors; ++v) {
      const V a = load(row, v), b = load(row + rowSize, v);
      lo[v] = S::Add32(lo[v], S::MulAddPairs(S::InterleaveLo16(a, b), w));
      hi[v] = S::Add32(hi[v], S::MulAddPairs(S::InterleaveHi16(a, b), w));
    }
  }
  if (k < count) {
    const V w = S::Broadcast32(PairWeights(weights[k], 0));
    for (int32_t v = 0; v < kVectors; ++v) {
      const V a = load(row, v);
      lo[v] = S::Add32(lo[v], S::MulAddPairs(S::InterleaveLo16(a, S::Zero()), w));
      hi[v] = S::Add32(hi[v], S::MulAddPairs(S::InterleaveHi16(a, S::Zero()), w));
    }
  }
  for (int32_t v = 0; v < kVectors; ++v) sums[v] = {lo[v], hi[v]};
}

// How a run of converted samples is laid out in memory.
enum class Samples {
  kBytes,          // store8, one byte per sample
  kBytesReversed,  // store8, each A, R, G, B as the native word's bytes B, G, R, A
  kWords,          // store16, one native 16-bit word per sample
  kSums,           // no conversion: the 32-bit sums
};

template <Samples kKind>
constexpr int32_t kBytesPerSample = kKind == Samples::kSums ? 4
                                                            : (kKind == Samples::kWords ? 2 : 1);

// store8 and store16 of kLanes sums, written as kLanes samples.
template <typename S, Samples kKind>
void StoreSums(const Sums<S>& s, uint8_t* out) {
  using V = typename S::V;
  if constexpr (kKind == Samples::kSums) {
    S::StoreSums(out, s.lo, s.hi);
  } else if constexpr (kKind == Samples::kWords) {
    // (acc + (acc >> 14)) >> 12, taken less 32768 so that signed saturation
    // clamps to 0 … 65535, then moved back by flipping the top bit.
    const V bias = S::Broadcast32(-32768);
    const V lo = S::ShiftRight32(S::Add32(s.lo, S::ShiftRight32(s.lo, 14)), 12);
    const V hi = S::ShiftRight32(S::Add32(s.hi, S::ShiftRight32(s.hi, 14)), 12);
    const V packed = S::Pack32To16(S::Add32(lo, bias), S::Add32(hi, bias));
    S::StoreWords(out, S::Xor(packed, S::Broadcast16(int16_t(-32768))));
  } else {
    // (acc + 524288) >> 20 lies within ±2048, so the pack is exact and the
    // byte pack does the clamp.
    const V half = S::Broadcast32(524288);
    V packed = S::Pack32To16(S::ShiftRight32(S::Add32(s.lo, half), 20),
                             S::ShiftRight32(S::Add32(s.hi, half), 20));
    if constexpr (kKind == Samples::kBytesReversed) packed = S::ReverseQuads16(packed);
    S::StoreBytes(out, packed);
  }
}

// Converts n samples from sample index first on of the destination row
// (firstRow is the entry's first ring row) into out. A run shorter than a
// vector goes through zero-padded copies, so nothing outside the rows is read
// or written.
template <typename S, Samples kKind>
void FilterSamples(const uint8_t* firstRow, int64_t rowSize, const int16_t* weights, int32_t count,
                   int64_t first, int64_t n, uint8_t* out) {
  constexpr int32_t kLanes = S::kLanes;
  constexpr int32_t kOutBytes = kBytesPerSample<kKind>;
  const uint8_t* rows = firstRow + first * 2;
  const auto whole = [](const uint8_t* p, int32_t v) { return S::Load(p + v * kLanes * 2); };
  int64_t j = 0;
  // Two vectors per pass over the rows halve the loop and weight overhead.
  for (; j + 2 * kLanes <= n; j += 2 * kLanes) {
    Sums<S> sums[2];
    SumTaps<S, 2>(rows + j * 2, rowSize, weights, count, whole, sums);
    StoreSums<S, kKind>(sums[0], out + j * kOutBytes);
    StoreSums<S, kKind>(sums[1], out + (j + kLanes) * kOutBytes);
  }
  Sums<S> sums[1];
  if (j + kLanes <= n) {
    SumTaps<S, 1>(rows + j * 2, rowSize, weights, count, whole, sums);
    StoreSums<S, kKind>(sums[0], out + j * kOutBytes);
    j += kLanes;
  }
  if (j == n) return;
  const int64_t rest = n - j;
  const auto padded = [rest](const uint8_t* p, int32_t) {
    alignas(32) int16_t samples[S::kLanes] = {};
    std::memcpy(samples, p, size_t(rest) * 2);
    return S::Load(samples);
  };
  SumTaps<S, 1>(rows + j * 2, rowSize, weights, count, padded, sums);
  alignas(32) uint8_t converted[kLanes * 4];
  StoreSums<S, kKind>(sums[0], converted);
  std::memcpy(out + j * kOutBytes, converted, size_t(rest) * kOutBytes);
}

// Destination layouts. A direct one is the converted samples themselves; an
// expanding one builds its pixels from a span of converted samples.

struct ToARGB32From4 {
  static constexpr int32_t kChannels = 4;
  static constexpr Samples kKind = Samples::kBytesReversed;
};
struct ToGray8 {
  static constexpr int32_t kChannels = 1;
  static constexpr Samples kKind = Samples::kBytes;
};
struct ToARGB64From4 {
  static constexpr int32_t kChannels = 4;
  static constexpr Samples kKind = Samples::kWords;
};
struct ToRGB48From3 {
  static constexpr int32_t kChannels = 3;
  static constexpr Samples kKind = Samples::kWords;
};

void PutWord32(uint8_t* p, uint32_t v) {
  std::memcpy(p, &v, 4);
}
void PutWords16(uint8_t* p, uint16_t a, uint16_t b, uint16_t c) {
  const uint16_t w[3] = {a, b, c};
  std::memcpy(p, w, sizeof w);
}
void PutWords16(uint8_t* p, uint16_t a, uint16_t b, uint16_t c, uint16_t d) {
  const uint16_t w[4] = {a, b, c, d};
  std::memcpy(p, w, sizeof w);
}

struct ToARGB32From3 {
  static constexpr int32_t kChannels = 3, kPixelBytes = 4;
  static constexpr Samples kKind = Samples::kBytes;
  static void Expand(const uint8_t* s, uint8_t* p) {
    PutWord32(p, 0xFF000000u | uint32_t(s[0]) << 16 | uint32_t(s[1]) << 8 | s[2]);
  }
};
struct ToARGB64From3 {
  static constexpr int32_t kChannels = 3, kPixelBytes = 8;
  static constexpr Samples kKind = Samples::kWords;
  static void Expand(const uint8_t* s, uint8_t* p) {
    uint16_t w[3];
    std::memcpy(w, s, sizeof w);
    PutWords16(p, 65535, w[0], w[1], w[2]);
  }
};
struct ToARGB32FromGrey {
  static constexpr int32_t kChannels = 1, kPixelBytes = 4;
  static constexpr Samples kKind = Samples::kBytes;
  static void Expand(const uint8_t* s, uint8_t* p) { PutWord32(p, 0xFF000000u | s[0] * 0x010101u); }
};
struct ToRGB48FromGrey {
  static constexpr int32_t kChannels = 1, kPixelBytes = 6;
  static constexpr Samples kKind = Samples::kWords;
  static void Expand(const uint8_t* s, uint8_t* p) {
    uint16_t g;
    std::memcpy(&g, s, 2);
    PutWords16(p, g, g, g);
  }
};
struct ToARGB64FromGrey {
  static constexpr int32_t kChannels = 1, kPixelBytes = 8;
  static constexpr Samples kKind = Samples::kWords;
  static void Expand(const uint8_t* s, uint8_t* p) {
    uint16_t g;
    std::memcpy(&g, s, 2);
    PutWords16(p, 65535, g, g, g);
  }
};

template <typename Layout>
concept Expanding = requires(const uint8_t* s, uint8_t* p) {
  Layout::Expand(s, p);
};

template <typename S, typename Layout>
void FilterRowsVertically(const ResampleContext* context, const uint8_t* firstRow,
                          const int16_t* entryWords, uint8_t* destinationRow) {
  constexpr int32_t kChannels = Layout::kChannels;
  constexpr Samples kKind = Layout::kKind;
  const Entry entry = ReadEntry(entryWords);
  const int64_t rowSize = context->ringRowSize;
  const int64_t width = context->destinationWidth;
  if constexpr (!Expanding<Layout>) {
    FilterSamples<S, kKind>(firstRow, rowSize, entry.weights, entry.count, 0, width * kChannels,
                            destinationRow);
  } else {
    // A span's samples are a whole number of vectors for either vector size.
    constexpr int64_t kSpanPixels = 256;
    constexpr int32_t kSampleBytes = kBytesPerSample<kKind>;
    alignas(32) uint8_t converted[kSpanPixels * kChannels * kSampleBytes];
    for (int64_t x = 0; x < width; x += kSpanPixels) {
      const int64_t pixels = width - x < kSpanPixels ? width - x : kSpanPixels;
      FilterSamples<S, kKind>(firstRow, rowSize, entry.weights, entry.count, x * kChannels,
                              pixels * kChannels, converted);
      uint8_t* out = destinationRow + x * Layout::kPixelBytes;
      for (int64_t i = 0; i < pixels; ++i) {
        Layout::Expand(converted + i * kChannels * kSampleBytes, out + i * Layout::kPixelBytes);
      }
    }
  }
}

template <typename S>
void SumSamples(const ResampleContext* context, const uint8_t* firstRow, const int16_t* entryWords,
                int64_t first, int64_t n, int32_t* sums) {
  const Entry entry = ReadEntry(entryWords);
  FilterSamples<S, Samples::kSums>(firstRow, context->ringRowSize, entry.weights, entry.count,
                                   first, n, reinterpret_cast<uint8_t*>(sums));
}

template <typename S>
VerticalProc VerticalProcOf(int32_t channels, PixelClass destinationClass) {
  switch (channels * 8 + destinationClass) {
    case 4 * 8 + kClassARGB32:
      return FilterRowsVertically<S, ToARGB32From4>;
    case 4 * 8 + kClassARGB64:
      return FilterRowsVertically<S, ToARGB64From4>;
    case 3 * 8 + kClassARGB32:
      return FilterRowsVertically<S, ToARGB32From3>;
    case 3 * 8 + kClassRGB48:
      return FilterRowsVertically<S, ToRGB48From3>;
    case 3 * 8 + kClassARGB64:
      return FilterRowsVertically<S, ToARGB64From3>;
    case 1 * 8 + kClassARGB32:
      return FilterRowsVertically<S, ToARGB32FromGrey>;
    case 1 * 8 + kClassGray8:
      return FilterRowsVertically<S, ToGray8>;
    case 1 * 8 + kClassRGB48:
      return FilterRowsVertically<S, ToRGB48FromGrey>;
    case 1 * 8 + kClassARGB64:
      return FilterRowsVertically<S, ToARGB64FromGrey>;
    default:
      return nullptr;
  }
}

// ---------------------------------------------------------------------------
// Horizontal: per output pixel, two taps at a time. A reader turns the
// pixels of two taps into one vector of 32-bit lanes, one per channel slot,
// each holding the two taps' samples of that channel, ready for pmaddwd
// against the two weights.

// A function, not a constant: a namespace-scope vector might be set up at
// start-up by code built for AVX2.
__m128i Zero128() {
  return _mm_setzero_si128();
}

uint32_t Get32(const uint8_t* p) {
  uint32_t v;
  std::memcpy(&v, p, 4);
  return v;
}
uint16_t Get16(const uint8_t* p) {
  uint16_t v;
  std::memcpy(&v, p, 2);
  return v;
}

// Native ARGB words; lanes B, G, R, A (the word's bytes in memory order).
struct PairsARGB32 {
  static constexpr int32_t kBytes = 4;
  static constexpr bool kBiased = false;
  static __m128i Two(const uint8_t* p) {
    const __m128i x =
        _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(p)), Zero128());
    return _mm_unpacklo_epi16(x, _mm_srli_si128(x, 8));
  }
  // The second tap's slots repeat the first; its weight is 0.
  static __m128i One(const uint8_t* p) {
    const __m128i x = _mm_unpacklo_epi8(_mm_cvtsi32_si128(int32_t(Get32(p))), Zero128());
    return _mm_unpacklo_epi16(x, x);
  }
};

// Native 16-bit A, R, G, B; lanes A, R, G, B, each sample less 32768.
struct PairsARGB64 {
  static constexpr int32_t kBytes = 8;
  static constexpr bool kBiased = true;
  static __m128i Two(const uint8_t* p) {
    const __m128i x = _mm_xor_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)),
                                    _mm_set1_epi16(int16_t(-32768)));
    return _mm_unpacklo_epi16(x, _mm_srli_si128(x, 8));
  }
  static __m128i One(const uint8_t* p) {
    const __m128i x = _mm_xor_si128(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(p)),
                                    _mm_set1_epi16(int16_t(-32768)));
    return _mm_unpacklo_epi16(x, x);
  }
};

// Native 16-bit R, G, B; lanes R, G, B and a fourth that is never used,
// each sample less 32768. Reads only the taps' own 6-byte pixels.
struct PairsRGB48 {
  static constexpr int32_t kBytes = 6;
  static constexpr bool kBiased = true;
  static __m128i Two(const uint8_t* p) {
    const __m128i first = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(p));
    const __m128i second =
        _mm_srli_epi64(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(p + 4)), 16);
    return _mm_xor_si128(_mm_unpacklo_epi16(first, second), _mm_set1_epi16(int16_t(-32768)));
  }
  static __m128i One(const uint8_t* p) {
    const __m128i x = _mm_insert_epi16(_mm_cvtsi32_si128(int32_t(Get32(p))), Get16(p + 4), 2);
    return _mm_xor_si128(_mm_unpacklo_epi16(x, x), _mm_set1_epi16(int16_t(-32768)));
  }
};

// The intermediate sample as the plain procedure keeps it: the low 16 bits
// of the converted value, sign-extended, so that the following pack is exact.
__m128i LowHalfSigned(__m128i v) {
  return _mm_srai_epi32(_mm_slli_epi32(v, 16), 16);
}
__m128i Fetch8Lanes(__m128i acc) {
  return LowHalfSigned(_mm_srai_epi32(_mm_add_epi32(acc, _mm_srai_epi32(acc, 8)), 8));
}
__m128i Fetch16Lanes(__m128i acc) {
  return _mm_srai_epi32(acc, 16);  // always within 16 bits
}

void PutSamples4(int16_t* out, __m128i lanes) {
  _mm_storel_epi64(reinterpret_cast<__m128i*>(out), _mm_packs_epi32(lanes, lanes));
}
void PutSamples3(int16_t* out, __m128i lanes) {
  const uint64_t v = uint64_t(_mm_cvtsi128_si64(_mm_packs_epi32(lanes, lanes)));
  std::memcpy(out, &v, 6);
}

// Reader plus the conversion and order of the intermediate samples.
struct FromARGB32To4 : PairsARGB32 {
  static constexpr int32_t kChannels = 4;
  static void Put(__m128i acc, int16_t* out) {
    PutSamples4(out, Fetch8Lanes(_mm_shuffle_epi32(acc, _MM_SHUFFLE(0, 1, 2, 3))));
  }
};
struct FromARGB32To3 : PairsARGB32 {
  static constexpr int32_t kChannels = 3;
  static void Put(__m128i acc, int16_t* out) {
    PutSamples3(out, Fetch8Lanes(_mm_shuffle_epi32(acc, _MM_SHUFFLE(3, 0, 1, 2))));
  }
};
struct FromARGB64To4 : PairsARGB64 {
  static constexpr int32_t kChannels = 4;
  static void Put(__m128i acc, int16_t* out) { PutSamples4(out, Fetch16Lanes(acc)); }
};
struct FromARGB64To3 : PairsARGB64 {
  static constexpr int32_t kChannels = 3;
  static void Put(__m128i acc, int16_t* out) {
    PutSamples3(out, Fetch16Lanes(_mm_shuffle_epi32(acc, _MM_SHUFFLE(0, 3, 2, 1))));
  }
};
struct FromRGB48To3 : PairsRGB48 {
  static constexpr int32_t kChannels = 3;
  static void Put(__m128i acc, int16_t* out) { PutSamples3(out, Fetch16Lanes(acc)); }
};

// pmaddwd of weights with this gives 16384 · (sum of each pair), half the
// term that puts back the 32768 taken from 16-bit samples.
__m128i HalfBiasWords() {
  return _mm_set1_epi16(16384);
}

// The last one to three taps of an entry into acc; returns their weights'
// sum, for the bias of 16-bit samples.
template <typename Reader>
int32_t AddLastTaps(const uint8_t* pixel, const int16_t* w, int32_t left, __m128i* acc) {
  int32_t sum = 0;
  if (left >= 2) {
    const __m128i pair = _mm_set1_epi32(PairWeights(w[0], w[1]));
    *acc = _mm_add_epi32(*acc, _mm_madd_epi16(Reader::Two(pixel), pair));
    sum += w[0] + w[1];
    pixel += 2 * Reader::kBytes;
    w += 2;
    left -= 2;
  }
  if (left == 1) {
    const __m128i single = _mm_set1_epi32(PairWeights(w[0], 0));
    *acc = _mm_add_epi32(*acc, _mm_madd_epi16(Reader::One(pixel), single));
    sum += w[0];
  }
  return sum;
}

// acc plus 32768 · (the weights' sum) in every lane; bias holds 16384 ·
// partial sums spread over its lanes, tail the sum of the remaining weights.
__m128i AddBias(__m128i acc, __m128i bias, int32_t tail) {
  bias = _mm_add_epi32(bias, _mm_shuffle_epi32(bias, _MM_SHUFFLE(1, 0, 3, 2)));
  bias = _mm_add_epi32(bias, _mm_shuffle_epi32(bias, _MM_SHUFFLE(2, 3, 0, 1)));
  acc = _mm_add_epi32(acc, _mm_slli_epi32(bias, 1));
  return _mm_add_epi32(acc, _mm_set1_epi32(int32_t(uint32_t(tail) << 15)));
}

template <typename Reader>
void FilterRowHorizontally(const ResampleContext* context, const uint8_t* sourceRow,
                           int16_t* intermediateRow) {
  constexpr int32_t kBytes = Reader::kBytes;
  const __m128i half = HalfBiasWords();
  const int16_t* table = context->horizontalTable;
  const int64_t stride = context->horizontalStride;
  for (int64_t i = 0; i < context->destinationWidth; ++i) {
    const Entry entry = ReadEntry(EntryAt(table, stride, i));
    const int16_t* w = entry.weights;
    const uint8_t* pixel = sourceRow + int64_t(entry.start) * kBytes;
    __m128i acc0 = Zero128(), acc1 = Zero128(), bias = Zero128();
    int32_t k = 0;
    for (; k + 3 < entry.count; k += 4, pixel += 4 * kBytes) {
      const __m128i w4 = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(w + k));
      const __m128i w01 = _mm_shuffle_epi32(w4, 0x00), w23 = _mm_shuffle_epi32(w4, 0x55);
      acc0 = _mm_add_epi32(acc0, _mm_madd_epi16(Reader::Two(pixel), w01));
      acc1 = _mm_add_epi32(acc1, _mm_madd_epi16(Reader::Two(pixel + 2 * kBytes), w23));
      if constexpr (Reader::kBiased) bias = _mm_add_epi32(bias, _mm_madd_epi16(w4, half));
    }
    __m128i acc = _mm_add_epi32(acc0, acc1);
    const int32_t tail = AddLastTaps<Reader>(pixel, w + k, entry.count - k, &acc);
    if constexpr (Reader::kBiased) acc = AddBias(acc, bias, tail);
    Reader::Put(acc, intermediateRow + i * Reader::kChannels);
  }
}

// Grey bytes: one sample per tap, so eight taps' samples and weights pair up
// as they lie in memory. The last taps are added one by one, in unsigned
// arithmetic, which wraps exactly like the vector lanes.
void FilterGreyRowHorizontally(const ResampleContext* context, const uint8_t* sourceRow,
                               int16_t* intermediateRow) {
  const int16_t* table = context->horizontalTable;
  const int64_t stride = context->horizontalStride;
  for (int64_t i = 0; i < context->destinationWidth; ++i) {
    const Entry entry = ReadEntry(EntryAt(table, stride, i));
    const int16_t* w = entry.weights;
    const uint8_t* pixel = sourceRow + entry.start;
    __m128i lanes = Zero128();
    int32_t k = 0;
    for (; k + 7 < entry.count; k += 8) {
      const __m128i samples = _mm_unpacklo_epi8(
          _mm_loadl_epi64(reinterpret_cast<const __m128i*>(pixel + k)), Zero128());
      const __m128i weights = _mm_loadu_si128(reinterpret_cast<const __m128i*>(w + k));
      lanes = _mm_add_epi32(lanes, _mm_madd_epi16(samples, weights));
    }
    lanes = _mm_add_epi32(lanes, _mm_shuffle_epi32(lanes, _MM_SHUFFLE(1, 0, 3, 2)));
    lanes = _mm_add_epi32(lanes, _mm_shuffle_epi32(lanes, _MM_SHUFFLE(2, 3, 0, 1)));
    uint32_t sum = uint32_t(_mm_cvtsi128_si32(lanes));
    for (; k < entry.count; ++k) sum += uint32_t(w[k] * int32_t(pixel[k]));
    const int32_t acc = int32_t(sum);
    intermediateRow[i] = int16_t((acc + (acc >> 8)) >> 8);  // fetch8
  }
}

// Grey from colour: per tap the grey level of a pixel, 0 … 65535 (16-bit
// channels) or 0 … 65280 (256 times the 8-bit level), weighted like a 16-bit
// sample, so taken less 32768 with 32768 · Σ weight added back. A reader
// gives four pixels' grey levels as 32-bit lanes, and one pixel's in scalar
// code for the last taps, the same integer arithmetic as the plain reader.

// pmaddwd pairs each hold two coefficients: low word, high word.
__m128i CoefficientPairs(int16_t low, int16_t high) {
  return _mm_set1_epi32(PairWeights(low, high));
}

// Sums the two 32-bit lanes of each pixel: lanes 0, 1 of a are pixel 0, …,
// lanes 2, 3 of b pixel 3. Returns the four pixels' sums in order.
__m128i AddLanePairs(__m128i a, __m128i b) {
  const __m128 fa = _mm_castsi128_ps(a), fb = _mm_castsi128_ps(b);
  const __m128i even = _mm_castps_si128(_mm_shuffle_ps(fa, fb, _MM_SHUFFLE(2, 0, 2, 0)));
  const __m128i odd = _mm_castps_si128(_mm_shuffle_ps(fa, fb, _MM_SHUFFLE(3, 1, 3, 1)));
  return _mm_add_epi32(even, odd);
}

// Native ARGB words: (870 r + 2931 g + 295 b + 8) >> 4.
struct GreyOfARGB32 {
  static constexpr int32_t kBytes = 4;
  static __m128i Four(const uint8_t* p) {
    const __m128i w = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    const __m128i byteMask = _mm_set1_epi32(0x00FF00FF);
    const __m128i blueRed = _mm_and_si128(w, byteMask);                        // b | r << 16
    const __m128i greenAlpha = _mm_and_si128(_mm_srli_epi32(w, 8), byteMask);  // g | a << 16
    const __m128i sum = _mm_add_epi32(_mm_madd_epi16(blueRed, CoefficientPairs(295, 870)),
                                      _mm_madd_epi16(greenAlpha, CoefficientPairs(2931, 0)));
    return _mm_srai_epi32(_mm_add_epi32(sum, _mm_set1_epi32(8)), 4);
  }
  static int32_t One(const uint8_t* p) {
    const uint32_t w = Get32(p);
    const int32_t r = int32_t((w >> 16) & 255), g = int32_t((w >> 8) & 255), b = int32_t(w & 255);
    return (870 * r + 2931 * g + 295 * b + 8) >> 4;
  }
};

// 16-bit channels: (870 r + 2931 g + 295 b + 2048) >> 12. The channels are
// taken less 32768, which takes 4096 · 32768 from the sum.
__m128i GreyOf16(__m128i biasedSums) {
  return _mm_srai_epi32(_mm_add_epi32(biasedSums, _mm_set1_epi32((4096 << 15) + 2048)), 12);
}
int32_t GreyOf16(int32_t r, int32_t g, int32_t b) {
  return (870 * r + 2931 * g + 295 * b + 2048) >> 12;
}
__m128i FlipTop16(__m128i v) {
  return _mm_xor_si128(v, _mm_set1_epi16(int16_t(-32768)));
}

// Native 16-bit A, R, G, B.
struct GreyOfARGB64 {
  static constexpr int32_t kBytes = 8;
  static __m128i Four(const uint8_t* p) {
    const __m128i coefficients = _mm_setr_epi16(0, 870, 2931, 295, 0, 870, 2931, 295);
    const __m128i first = FlipTop16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)));
    const __m128i second = FlipTop16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16)));
    return GreyOf16(
        AddLanePairs(_mm_madd_epi16(first, coefficients), _mm_madd_epi16(second, coefficients)));
  }
  static int32_t One(const uint8_t* p) {
    return GreyOf16(Get16(p + 2), Get16(p + 4), Get16(p + 6));
  }
};

// Native 16-bit R, G, B: each pair of pixels is spread to R, G, B and an
// unused word per 64 bits. Reads only the four pixels' 24 bytes.
struct GreyOfRGB48 {
  static constexpr int32_t kBytes = 6;
  static __m128i Four(const uint8_t* p) {
    const __m128i coefficients = _mm_setr_epi16(870, 2931, 295, 0, 870, 2931, 295, 0);
    const __m128i low = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));       // words 0-7
    const __m128i high = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 8));  // words 4-11
    const __m128i first = FlipTop16(_mm_unpacklo_epi64(low, _mm_srli_si128(low, 6)));
    const __m128i second =
        FlipTop16(_mm_unpacklo_epi64(_mm_srli_si128(high, 4), _mm_srli_si128(high, 10)));
    return GreyOf16(
        AddLanePairs(_mm_madd_epi16(first, coefficients), _mm_madd_epi16(second, coefficients)));
  }
  static int32_t One(const uint8_t* p) { return GreyOf16(Get16(p), Get16(p + 2), Get16(p + 4)); }
};

// The grey levels of four pixels as the words pmaddwd takes, less 32768, in
// the low half; the high half zero.
__m128i BiasedGreyWords(__m128i greys) {
  const __m128i biased = _mm_sub_epi32(greys, _mm_set1_epi32(32768));
  return _mm_packs_epi32(biased, Zero128());  // exact: -32768 … 32767
}

// Σ weight · grey over taps k … count - 1 of an entry, added to the 32-bit
// lanes acc and bias (16384 · pairs of weights). Eight taps per step, then
// four, then the last ones in scalar code, in unsigned arithmetic, which
// wraps exactly like the vector lanes.
template <typename Reader>
uint32_t SumGreyTaps(const uint8_t* pixel, const int16_t* w, int32_t k, int32_t count, __m128i acc,
                     __m128i bias) {
  constexpr int32_t kBytes = Reader::kBytes;
  const __m128i half = HalfBiasWords();
  for (; k + 7 < count; k += 8, pixel += 8 * kBytes) {
    const __m128i low = BiasedGreyWords(Reader::Four(pixel));
    const __m128i high = BiasedGreyWords(Reader::Four(pixel + 4 * kBytes));
    const __m128i weights = _mm_loadu_si128(reinterpret_cast<const __m128i*>(w + k));
    acc = _mm_add_epi32(acc, _mm_madd_epi16(_mm_unpacklo_epi64(low, high), weights));
    bias = _mm_add_epi32(bias, _mm_madd_epi16(weights, half));
  }
  if (k + 3 < count) {
    const __m128i weights = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(w + k));
    acc = _mm_add_epi32(acc, _mm_madd_epi16(BiasedGreyWords(Reader::Four(pixel)), weights));
    bias = _mm_add_epi32(bias, _mm_madd_epi16(weights, half));
    k += 4;
    pixel += 4 * kBytes;
  }
  acc = _mm_add_epi32(acc, _mm_slli_epi32(bias, 1));
  acc = _mm_add_epi32(acc, _mm_shuffle_epi32(acc, _MM_SHUFFLE(1, 0, 3, 2)));
  acc = _mm_add_epi32(acc, _mm_shuffle_epi32(acc, _MM_SHUFFLE(2, 3, 0, 1)));
  uint32_t sum = uint32_t(_mm_cvtsi128_si32(acc));
  for (; k < count; ++k, pixel += kBytes) sum += uint32_t(w[k] * Reader::One(pixel));
  return sum;
}

template <typename Reader, int32_t (*kFetch)(int32_t)>
void FilterGreyFromColourHorizontally(const ResampleContext* context, const uint8_t* sourceRow,
                                      int16_t* intermediateRow) {
  const int16_t* table = context->horizontalTable;
  const int64_t stride = context->horizontalStride;
  for (int64_t i = 0; i < context->destinationWidth; ++i) {
    const Entry entry = ReadEntry(EntryAt(table, stride, i));
    const uint8_t* pixel = sourceRow + int64_t(entry.start) * Reader::kBytes;
    const uint32_t sum =
        SumGreyTaps<Reader>(pixel, entry.weights, 0, entry.count, Zero128(), Zero128());
    intermediateRow[i] = int16_t(kFetch(int32_t(sum)));
  }
}

int32_t FetchGrey8(int32_t acc) {
  return (acc + (acc >> 8)) >> 16;
}
int32_t FetchGrey16(int32_t acc) {
  return acc >> 16;
}

HorizontalProc HorizontalProcOf(int32_t channels, PixelClass sourceClass) {
  switch (channels * 8 + sourceClass) {
    case 4 * 8 + kClassARGB32:
      return FilterRowHorizontally<FromARGB32To4>;
    case 4 * 8 + kClassARGB64:
      return FilterRowHorizontally<FromARGB64To4>;
    case 3 * 8 + kClassARGB32:
      return FilterRowHorizontally<FromARGB32To3>;
    case 3 * 8 + kClassRGB48:
      return FilterRowHorizontally<FromRGB48To3>;
    case 3 * 8 + kClassARGB64:
      return FilterRowHorizontally<FromARGB64To3>;
    case 1 * 8 + kClassGray8:
      return FilterGreyRowHorizontally;
    case 1 * 8 + kClassARGB32:
      return FilterGreyFromColourHorizontally<GreyOfARGB32, FetchGrey8>;
    case 1 * 8 + kClassRGB48:
      return FilterGreyFromColourHorizontally<GreyOfRGB48, FetchGrey16>;
    case 1 * 8 + kClassARGB64:
      return FilterGreyFromColourHorizontally<GreyOfARGB64, FetchGrey16>;
    default:
      return nullptr;
  }
}

}  // namespace simd
}  // namespace
