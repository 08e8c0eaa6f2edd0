// Fuzz target for the whole job, as the program runs it: the input bytes
// become a file in memory, read through its descriptor (the JPEG and PNG
// readers that never hold the file whole), drawn on one thread while the
// resampler follows in a ring of rows and the encoder follows that, and
// written to a second file in memory. Each input runs twice, with the
// stages overlapped and one after another: both must end alike, to the
// byte, with a result from the documented set. Built with
// TAVREL_FUZZ_ANIMATED, the job runs with "//animated" into GIF or WebP.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "codecs/jpeg/jpeg_entropy_stage.h"
#include "driver/command_line/checks.h"
#include "driver/job/image_job.h"
#include "import_path.h"
#include "memory_file.h"
#include "platform/quicktime.h"

namespace {

// Larger images are only probed: a run must stay a few milliseconds.
constexpr int64_t kMaxJobPixels = int64_t(512) * 512;

const fuzz::MemoryFile& Input() {
  static const fuzz::MemoryFile file = fuzz::MakeMemoryFile("tavrel-fuzz-in");
  return file;
}

const fuzz::MemoryFile& Output() {
  static const fuzz::MemoryFile file = fuzz::MakeMemoryFile("tavrel-fuzz-out");
  return file;
}

bool BoundsOf(const std::string& path, Rect* bounds) {
  FSSpec spec{path};
  GraphicsImportComponent importer = nullptr;
  if (GetGraphicsImporterForFile(&spec, &importer) != noErr) return false;
  const bool known = GraphicsImportGetNaturalBounds(importer, bounds) == noErr;
  CloseComponent(importer);
  return known;
}

struct Ending {
  int32_t result;
  std::vector<uint8_t> output;
};

Ending Run(const JobSettings& settings, bool overlap) {
  if (!fuzz::Replace(Output(), nullptr, 0)) std::abort();
  SetImageJobOverlap(overlap);
  Ending e{RunImageJob(settings).code, {}};
  e.output = fuzz::Contents(Output());
  return e;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  if (StartQuickTime(0) != noErr) std::abort();
  Input();
  Output();
  SetJpegEntropyStageFloor(0);  // small JPEGs too go through the entropy stage, overlapped
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (!fuzz::Replace(Input(), data, size)) std::abort();
  Rect bounds;
  if (!BoundsOf(Input().path, &bounds)) return 0;
  const int64_t width = int64_t(bounds.right) - bounds.left;
  const int64_t height = int64_t(bounds.bottom) - bounds.top;
  if (width < 1 || height < 1 || width * height > kMaxJobPixels) return 0;

  // The shape of the job follows the input's size, so that the corpus
  // covers reduced and enlarged images, 16-bit rows, turns, wrapping and
  // copied metadata.
  JobSettings settings;
  settings.inputPath = Input().path;
  settings.outputName = Output().path;
  settings.width = int32_t(size % 3 == 0 ? width * 2 : (width + 1) / 2);
  settings.height = int32_t(size % 5 == 0 ? height : (height + 2) / 3);
  settings.exportSettings.codec = size % 2 == 0 ? FourCC("png ") : FourCC("jpeg");
  settings.exportSettings.depth = size % 7 == 0 ? 64 : 24;
  settings.rotation = size % 11 == 0 ? 90 : 0;
  settings.verticalEdge = size % 13 == 0 ? kEdgeWrap : kEdgeDefault;
  settings.copyMetadata = size % 3 == 1;  // the metadata writers, a gain map's fitting
#ifdef TAVREL_FUZZ_ANIMATED
  // "//animated": every frame resized and written as an animation.
  settings.animated = true;
  settings.exportSettings.codec = size % 2 == 0 ? FourCC("GIF ") : FourCC("WEBP");
#endif
  std::vector<Note> notes;
  RunChecks(settings, notes);
  if (settings.errorCount != 0) return 0;

  const Ending overlapped = Run(settings, true);
  const Ending inTurn = Run(settings, false);
  if (!fuzz::IsCleanImportResult(overlapped.result)) std::abort();
  if (overlapped.result != inTurn.result || overlapped.output != inTurn.output) std::abort();
  // A failed job writes nothing.
  if (overlapped.result != noErr && !overlapped.output.empty()) std::abort();
  return 0;
}
