// Megapixels per second of the quarter and half turns on a 6000 x 4000
// 32-bit ARGB buffer, as the job calls them.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

#include "resample/rotate.h"

namespace {

constexpr int32_t kWidth = 6000;
constexpr int32_t kHeight = 4000;
constexpr int32_t kBytesPerPixel = 4;
constexpr double kMegapixels = double(kWidth) * kHeight / 1e6;

std::vector<uint32_t> MakeSource() {
  std::vector<uint32_t> pixels(size_t(kWidth) * kHeight);
  uint32_t v = 0x12345678u;
  for (uint32_t& p : pixels) p = (v = v * 1664525u + 1013904223u);
  return pixels;
}

void SetRate(benchmark::State& state) {
  state.counters["MP/s"] =
      benchmark::Counter(kMegapixels, benchmark::Counter::kIsIterationInvariantRate);
}

void BM_Rotate90(benchmark::State& state) {
  const std::vector<uint32_t> src = MakeSource();
  std::vector<uint32_t> dst(src.size());
  for (auto _ : state) {
    // The destination is kHeight wide and kWidth high.
    Rotate90(src.data(), kWidth * kBytesPerPixel, dst.data(), kHeight * kBytesPerPixel, kHeight,
             kWidth, kBytesPerPixel);
    benchmark::DoNotOptimize(dst.data());
    benchmark::ClobberMemory();
  }
  SetRate(state);
}

void BM_Rotate270(benchmark::State& state) {
  const std::vector<uint32_t> src = MakeSource();
  std::vector<uint32_t> dst(src.size());
  for (auto _ : state) {
    Rotate270(src.data(), kWidth * kBytesPerPixel, dst.data(), kHeight * kBytesPerPixel, kHeight,
              kWidth, kBytesPerPixel);
    benchmark::DoNotOptimize(dst.data());
    benchmark::ClobberMemory();
  }
  SetRate(state);
}

void BM_Rotate180InPlace(benchmark::State& state) {
  std::vector<uint32_t> buf = MakeSource();
  for (auto _ : state) {
    Rotate180(buf.data(), kWidth * kBytesPerPixel, buf.data(), kWidth * kBytesPerPixel, kWidth,
              kHeight, kBytesPerPixel);
    benchmark::DoNotOptimize(buf.data());
    benchmark::ClobberMemory();
  }
  SetRate(state);
}

void BM_Rotate180Copy(benchmark::State& state) {
  const std::vector<uint32_t> src = MakeSource();
  std::vector<uint32_t> dst(src.size());
  for (auto _ : state) {
    Rotate180(src.data(), kWidth * kBytesPerPixel, dst.data(), kWidth * kBytesPerPixel, kWidth,
              kHeight, kBytesPerPixel);
    benchmark::DoNotOptimize(dst.data());
    benchmark::ClobberMemory();
  }
  SetRate(state);
}

}  // namespace

BENCHMARK(BM_Rotate90)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Rotate180InPlace)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Rotate180Copy)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Rotate270)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
