// Fuzz target for one importer codec: the input becomes a file in memory
// (a memfd, read through /proc/self/fd) and goes through the whole read path.
// TAVREL_FUZZ_SUBTYPES lists the importer subtypes the target is about.
// With TAVREL_FUZZ_TWO_THREADS (the JPEG target), the image is drawn again
// on one thread and on two (bands, or the entropy stage, which takes small
// files here too): both must give the same result and the same pixels.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "codecs/jpeg/jpeg_entropy_stage.h"
#include "import_path.h"
#include "memory_file.h"
#include "platform/quicktime.h"

namespace {

const fuzz::MemoryFile& TheMemoryFile() {
  static const fuzz::MemoryFile file = fuzz::MakeMemoryFile("tavrel-fuzz");
  return file;
}

struct Drawing {
  ComponentResult result = noErr;
  std::vector<uint8_t> pixels;
};

Drawing DrawOnThreads(GraphicsImportComponent importer, const Rect& bounds, int32_t threads) {
  Drawing d;
  GraphicsImportSetDrawThreads(importer, threads);
  GWorldPtr world = nullptr;
  d.result = QTNewGWorld(&world, k32ARGBPixelFormat, &bounds, nullptr, nullptr, 0);
  if (d.result != noErr) return d;
  d.result = GraphicsImportSetGWorld(importer, world, nullptr);
  if (d.result == noErr) d.result = GraphicsImportDraw(importer);
  GraphicsImportSetGWorld(importer, nullptr, nullptr);
  const PixMapHandle map = GetGWorldPixMap(world);
  const auto* base = static_cast<const uint8_t*>(GetPixBaseAddr(map));
  const int32_t rowBytes = QTGetPixMapHandleRowBytes(map);
  const int32_t width = bounds.right - bounds.left, height = bounds.bottom - bounds.top;
  for (int32_t y = 0; y < height; ++y) {
    d.pixels.insert(d.pixels.end(), base + int64_t(y) * rowBytes,
                    base + int64_t(y) * rowBytes + 4 * int64_t(width));
  }
  DisposeGWorld(world);
  return d;
}

// Aborts where one thread and two draw the file differently.
void CompareThreadCounts(const std::string& path) {
  FSSpec spec{path};
  GraphicsImportComponent importer = nullptr;
  if (GetGraphicsImporterForFile(&spec, &importer) != noErr) return;
  Rect bounds;
  if (GraphicsImportGetNaturalBounds(importer, &bounds) == noErr) {
    const int64_t width = int64_t(bounds.right) - bounds.left;
    const int64_t height = int64_t(bounds.bottom) - bounds.top;
    if (width >= 1 && height >= 1 && width <= fuzz::kMaxDrawnSide &&
        height <= fuzz::kMaxDrawnSide && width * height <= fuzz::kMaxDrawnPixels) {
      const Drawing one = DrawOnThreads(importer, bounds, 1);
      const Drawing two = DrawOnThreads(importer, bounds, 2);
      if (one.result != two.result || one.pixels != two.pixels) std::abort();
    }
  }
  CloseComponent(importer);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  if (StartQuickTime(0) != noErr) std::abort();
  TheMemoryFile();
  SetJpegEntropyStageFloor(0);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const fuzz::MemoryFile& file = TheMemoryFile();
  if (!fuzz::Replace(file, data, size)) std::abort();
  static const std::vector<OSType> wanted = {TAVREL_FUZZ_SUBTYPES};
  const fuzz::ImportOutcome outcome = fuzz::ExerciseImporter(file.path, wanted);
  // A result outside the documented set is a fault as much as a crash is.
  if (!fuzz::IsCleanImportOutcome(outcome)) std::abort();
#ifdef TAVREL_FUZZ_TWO_THREADS
  if (outcome.subtype == FourCC("JPEG")) CompareThreadCounts(file.path);
#endif
  return 0;
}
