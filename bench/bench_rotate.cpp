// Megapixels per second of the quarter turns, per source size, pixel size
// (4: ARGB32, 8: b64a) and level (0 plain, 1 SSE2, 2 AVX2; only the levels
// this processor has), and of the half turns of a 6000 x 4000 ARGB32 buffer.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

#include "resample/rotate.h"
#include "resample/simd_level.h"

namespace {

std::vector<uint8_t> MakeSource(int64_t bytes) {
  std::vector<uint8_t> pixels(static_cast<size_t>(bytes));
  uint32_t v = 0x12345678u;
  for (uint8_t& p : pixels) p = uint8_t((v = v * 1664525u + 1013904223u) >> 24);
  return pixels;
}

void SetRate(benchmark::State& state, int64_t width, int64_t height) {
  state.counters["MP/s"] = benchmark::Counter(double(width) * double(height) / 1e6,
                                              benchmark::Counter::kIsIterationInvariantRate);
}

// Arguments: source width, source height, bytes per pixel, level,
// clockwise (1) or not (0).
void BM_QuarterTurn(benchmark::State& state) {
  const int32_t width = int32_t(state.range(0)), height = int32_t(state.range(1));
  const int32_t pixelBytes = int32_t(state.range(2));
  const SimdLevel saved = ResampleSimdLevel();
  SetResampleSimdLevel(SimdLevel(state.range(3)));
  const bool clockwise = state.range(4) != 0;
  const std::vector<uint8_t> src = MakeSource(int64_t(width) * height * pixelBytes);
  std::vector<uint8_t> dst(src.size());
  // The destination is height wide and width high.
  const auto turn = clockwise ? Rotate90 : Rotate270;
  for (auto _ : state) {
    turn(src.data(), width * pixelBytes, dst.data(), height * pixelBytes, height, width,
         pixelBytes);
    benchmark::DoNotOptimize(dst.data());
    benchmark::ClobberMemory();
  }
  SetResampleSimdLevel(saved);
  SetRate(state, width, height);
}

void QuarterTurnCases(benchmark::internal::Benchmark* b) {
  b->ArgNames({"w", "h", "P", "simd", "cw"});
  for (int64_t clockwise : {1, 0}) {
    for (int64_t pixelBytes : {4, 8}) {
      for (int64_t level = kSimdNone; level <= DetectedSimdLevel(); ++level) {
        b->Args({6000, 4000, pixelBytes, level, clockwise});
        b->Args({1500, 1000, pixelBytes, level, clockwise});
      }
    }
  }
}

constexpr int32_t kWidth = 6000;
constexpr int32_t kHeight = 4000;
constexpr int32_t kBytesPerPixel = 4;

void BM_Rotate180InPlace(benchmark::State& state) {
  std::vector<uint8_t> buf = MakeSource(int64_t(kWidth) * kHeight * kBytesPerPixel);
  for (auto _ : state) {
    Rotate180(buf.data(), kWidth * kBytesPerPixel, buf.data(), kWidth * kBytesPerPixel, kWidth,
              kHeight, kBytesPerPixel);
    benchmark::DoNotOptimize(buf.data());
    benchmark::ClobberMemory();
  }
  SetRate(state, kWidth, kHeight);
}

void BM_Rotate180Copy(benchmark::State& state) {
  const std::vector<uint8_t> src = MakeSource(int64_t(kWidth) * kHeight * kBytesPerPixel);
  std::vector<uint8_t> dst(src.size());
  for (auto _ : state) {
    Rotate180(src.data(), kWidth * kBytesPerPixel, dst.data(), kWidth * kBytesPerPixel, kWidth,
              kHeight, kBytesPerPixel);
    benchmark::DoNotOptimize(dst.data());
    benchmark::ClobberMemory();
  }
  SetRate(state, kWidth, kHeight);
}

}  // namespace

BENCHMARK(BM_QuarterTurn)->Apply(QuarterTurnCases)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Rotate180InPlace)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Rotate180Copy)->Unit(benchmark::kMillisecond)->UseRealTime();

BENCHMARK_MAIN();
