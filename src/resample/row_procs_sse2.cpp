// The row procedures for SSE2, which every x86-64 processor has.
#include "resample/row_procs_simd.h"

#if defined(__x86_64__)

#include "resample/simd_row_kernels.h"

HorizontalProc Sse2HorizontalProc(int32_t channels, PixelClass sourceClass) {
  return simd::HorizontalProcOf(channels, sourceClass);
}

VerticalProc Sse2VerticalProc(int32_t channels, PixelClass destinationClass) {
  return simd::VerticalProcOf<simd::Sse2>(channels, destinationClass);
}

SumsProc Sse2SumsProc() {
  return simd::SumSamples<simd::Sse2>;
}

#else

HorizontalProc Sse2HorizontalProc(int32_t, PixelClass) {
  return nullptr;
}

VerticalProc Sse2VerticalProc(int32_t, PixelClass) {
  return nullptr;
}

SumsProc Sse2SumsProc() {
  return nullptr;
}

#endif
