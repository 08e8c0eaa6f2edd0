// What refusing a decompression bomb costs inside one process, where a
// worker would pay it: the checks' probe of the header and the job's
// refusal under the service limits, without the process's start. The peak
// memory of a whole process refusing each one is bench/limit_bombs.py's.
#include <benchmark/benchmark.h>

#include <filesystem>
#include <string>
#include <vector>

#include "driver/command_line/checks.h"
#include "driver/job/image_job.h"
#include "platform/quicktime.h"

namespace {

// The build folder sits in the repository (build/, as scripts/build.sh makes it).
const std::filesystem::path kData =
    std::filesystem::read_symlink("/proc/self/exe").parent_path().parent_path() / "tests" / "data";

// The checks and the job as the driver runs them; the job's code, or the
// probe's failure as codecErr.
int32_t Refuse(const std::string& file, const std::string& out) {
  JobSettings s;
  s.inputPath = (kData / file).string();
  s.outputName = out;
  s.width = 100;
  s.animated = true;
  s.exportSettings.codec = FourCC("WEBP");
  s.limits = ServiceLimits();
  std::vector<Note> notes;
  RunChecks(s, notes);
  if (s.errorCount != 0) return codecErr;  // the header read refused it
  return RunImageJob(s).code;
}

void RefuseBomb(benchmark::State& state, const char* file) {
  StartQuickTime(0);
  const std::string out =
      (std::filesystem::temp_directory_path() / "tavrel-bench-bomb.webp").string();
  int32_t code = 0;
  for (auto _ : state) code = Refuse(file, out);
  state.SetLabel(std::to_string(code));
  if (code == 0) state.SkipWithError("not refused");
  std::filesystem::remove(out);
}

}  // namespace

BENCHMARK_CAPTURE(RefuseBomb, jpeg_65500x65500, "limits/jpeg_65500x65500.jpg");
BENCHMARK_CAPTURE(RefuseBomb, png_1000000x1000000, "limits/png_1000000x1000000.png");
BENCHMARK_CAPTURE(RefuseBomb, png_100000x100000, "limits/png_100000x100000.png");
BENCHMARK_CAPTURE(RefuseBomb, tiff_1000000x1000000, "limits/tiff_1000000x1000000.tif");
BENCHMARK_CAPTURE(RefuseBomb, heic_1000000x1000000, "limits/heic_1000000x1000000.heic");
BENCHMARK_CAPTURE(RefuseBomb, avif_1000000x1000000, "limits/avif_1000000x1000000.avif");
BENCHMARK_CAPTURE(RefuseBomb, gif_8000x8000_two_pixels, "limits/gif_8000x8000_two_pixels.gif");
BENCHMARK_CAPTURE(RefuseBomb, gif_far_frame, "limits/gif_far_frame.gif");
BENCHMARK_CAPTURE(RefuseBomb, webp_65000x65000, "limits/webp_65000x65000_animated.webp");
BENCHMARK_CAPTURE(RefuseBomb, webp_16777216x1, "limits/webp_16777216x1_canvas.webp");
BENCHMARK_CAPTURE(RefuseBomb, png_huge, "hostile/huge_100000x100000.png");
BENCHMARK_CAPTURE(RefuseBomb, tif_huge, "hostile/huge_100000x100000.tif");
BENCHMARK_CAPTURE(RefuseBomb, heic_huge, "hostile/huge_100000x100000.heic");
BENCHMARK_CAPTURE(RefuseBomb, avif_huge, "hostile/huge_100000x100000.avif");
BENCHMARK_CAPTURE(RefuseBomb, webp_anim_huge, "hostile/huge_100000x100000_anim.webp");
BENCHMARK_CAPTURE(RefuseBomb, gif_screen_65535, "hostile/gif_screen_65535x65535_frame_1x1.gif");
BENCHMARK_CAPTURE(RefuseBomb, gif_screen_20000, "hostile/gif_screen_20000x20000_frame_100x100.gif");
BENCHMARK_CAPTURE(RefuseBomb, gif_frame_20000, "hostile/gif_frame_20000x20000_one_row.gif");
BENCHMARK_CAPTURE(RefuseBomb, webp_canvas_16383, "hostile/canvas_16383x16383_frame_1x1.webp");
BENCHMARK_CAPTURE(RefuseBomb, webp_largest, "hostile/largest_16384x16384_lossless.webp");

BENCHMARK_MAIN();
