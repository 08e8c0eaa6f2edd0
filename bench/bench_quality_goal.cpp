// //max-bytes and //target-quality against one encode of the same pixels,
// in process, so that reading and resizing are left out: the search's
// cost in encodes is its time over BM_Encode's. The picture is
// $QUALITY_GOAL_PICTURE (bench/quality_goal.py makes a 1500x1000 one),
// else samples/photo.jpg from the folder the benchmark runs in. Argument:
// the codec (0 JPEG, 1 WebP, 2 AVIF, 3 JPEG XL). Wall time is the one
// that counts (trials run two at a time).
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "imageio/export.h"
#include "imageio/import.h"
#include "pipeline/goal_export.h"
#include "platform/quicktime.h"

namespace {

constexpr OSType kCodecs[] = {FourCC("JPEG"), FourCC("WEBP"), FourCC("AVIF"), FourCC("JXL ")};

GWorldPtr Picture() {
  static GWorldPtr picture = [] {
    StartQuickTime(0);
    const char* named = std::getenv("QUALITY_GOAL_PICTURE");
    OpenedImport opened;
    GWorldPtr drawn = nullptr;
    if (OpenImport(named != nullptr ? named : "samples/photo.jpg", &opened) == noErr) {
      DrawWholeImage(opened, false, &drawn);
    }
    return drawn;
  }();
  return picture;
}

ExportSettings Settings(int64_t codec) {
  ExportSettings settings;
  settings.codec = kCodecs[codec];
  settings.quality = 767;  // /q 75
  return settings;
}

void BM_Encode(benchmark::State& state) {
  std::vector<uint8_t> bytes;
  for (auto _ : state) EncodeImage(Picture(), Settings(state.range(0)), nullptr, &bytes);
  state.counters["bytes"] = double(bytes.size());
}

void Goal(benchmark::State& state, QualityGoal goal) {
  ResizeRequest request;
  QualityChoice chosen;
  for (auto _ : state) {
    ExportForGoal(Picture(), request, Settings(state.range(0)), goal, nullptr, "/dev/null", true,
                  Deadline(), &chosen);
  }
  state.counters["quality"] = chosen.percent;
  state.counters["trials"] = chosen.trials;
}

// A budget of 80 % of the file /q 75 writes.
void BM_MaxBytes(benchmark::State& state) {
  std::vector<uint8_t> bytes;
  EncodeImage(Picture(), Settings(state.range(0)), nullptr, &bytes);
  Goal(state, {QualityGoalKind::kMaxBytes, uint64_t(double(bytes.size()) * 0.8), 0});
}

void BM_TargetQuality(benchmark::State& state) {
  Goal(state, {QualityGoalKind::kScore, 0, 0.95});
}

BENCHMARK(BM_Encode)->DenseRange(0, 3)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_MaxBytes)->DenseRange(0, 3)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_TargetQuality)->DenseRange(0, 3)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
