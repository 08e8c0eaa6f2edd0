// Throughput of ResampleGWorld in megapixels per second, output and input,
// for a fourfold reduction and a fourfold enlargement of a 24-megapixel
// image, per kernel, pixel format and row procedure level (0 plain, 1 SSE2,
// 2 AVX2; only the levels this processor has); and colour to 8-bit grey,
// whose horizontal pass makes grey from colour.

#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstring>
#include <random>
#include <string>

#include "platform/gworld.h"
#include "resample/resample.h"
#include "resample/simd_level.h"

namespace {

GWorldPtr NewWorld(OSType format, int32_t width, int32_t height) {
  GWorldPtr gw = nullptr;
  Rect bounds;
  MacSetRect(&bounds, 0, 0, width, height);
  if (QTNewGWorld(&gw, format, &bounds, nullptr, nullptr, 0) != noErr) return nullptr;
  return gw;
}

void FillNoise(GWorldPtr gw) {
  std::mt19937 rng(1);
  uint8_t* p = static_cast<uint8_t*>(gw->pixMap.baseAddr);
  const size_t size = size_t(gw->pixMap.rowBytes) * size_t(gw->portRect.bottom);
  for (size_t i = 0; i < size; i += 4) {
    const uint32_t v = rng();
    std::memcpy(p + i, &v, 4);
  }
}

// Arguments: source width, source height, destination width, destination
// height, kernel, source pixel format, row procedure level, destination
// pixel format (0: the source's).
void BM_Resample(benchmark::State& state) {
  const int32_t sw = int32_t(state.range(0)), sh = int32_t(state.range(1));
  const int32_t dw = int32_t(state.range(2)), dh = int32_t(state.range(3));
  const KernelKind kernel = KernelKind(state.range(4));
  const OSType format = OSType(state.range(5));
  const SimdLevel level = SetResampleSimdLevel(SimdLevel(state.range(6)));
  const OSType toFormat = state.range(7) != 0 ? OSType(state.range(7)) : format;
  GWorldPtr src = NewWorld(format, sw, sh);
  GWorldPtr dst = NewWorld(toFormat, dw, dh);
  if (src == nullptr || dst == nullptr) {
    state.SkipWithError("no memory for the buffers");
  } else {
    FillNoise(src);
    state.SetLabel(std::string(format == k64ARGBPixelFormat ? "b64a" : "ARGB32") +
                   (toFormat != format ? " to grey" : "") + " level " + std::to_string(level));
    // Maps the destination's pages before timing.
    ResampleGWorld(src, dst, kEdgeDefault, kEdgeDefault, kernel);
    for (auto _ : state) {
      const OSErr err = ResampleGWorld(src, dst, kEdgeDefault, kEdgeDefault, kernel);
      if (err != noErr) state.SkipWithError("resample failed");
      benchmark::DoNotOptimize(dst->pixMap.baseAddr);
      benchmark::ClobberMemory();
    }
  }
  DisposeGWorld(src);
  DisposeGWorld(dst);
  state.counters["out_MP/s"] =
      benchmark::Counter(double(dw) * dh / 1e6, benchmark::Counter::kIsIterationInvariantRate);
  state.counters["in_MP/s"] =
      benchmark::Counter(double(sw) * sh / 1e6, benchmark::Counter::kIsIterationInvariantRate);
}

void Cases(benchmark::internal::Benchmark* b) {
  b->ArgNames({"sw", "sh", "dw", "dh", "kernel", "format", "simd", "to"});
  for (int64_t format : {int64_t(k32ARGBPixelFormat), int64_t(k64ARGBPixelFormat)}) {
    for (int64_t kernel : {kKernelSinc, kKernelGaussian, kKernelWideGaussian}) {
      for (int64_t level = kSimdNone; level <= DetectedSimdLevel(); ++level) {
        b->Args({6000, 4000, 1500, 1000, kernel, format, level, 0});
        b->Args({1500, 1000, 6000, 4000, kernel, format, level, 0});
      }
    }
    for (int64_t level = kSimdNone; level <= DetectedSimdLevel(); ++level) {
      const int64_t grey = k8IndexedGrayPixelFormat;
      b->Args({6000, 4000, 1500, 1000, kKernelSinc, format, level, grey});
      b->Args({1500, 1000, 6000, 4000, kKernelSinc, format, level, grey});
    }
  }
}

BENCHMARK(BM_Resample)->Apply(Cases)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
