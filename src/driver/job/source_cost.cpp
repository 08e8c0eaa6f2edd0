#include "driver/job/source_cost.h"

#include <sys/stat.h>

#include "imageio/import.h"
#include "platform/graphics_animation.h"
#include "stream/piped_input.h"

uint64_t RegularFileBytes(const std::string& path) {
  struct stat status {};
  if (stat(path.c_str(), &status) != 0 || !S_ISREG(status.st_mode)) return 0;
  return uint64_t(status.st_size);
}

int32_t MeasureSourceCost(const JobSettings& s, SourceCost* cost) {
  *cost = SourceCost();
  cost->bytes = RegularFileBytes(*s.inputPath);
  // A pipe's size is known only once the checks have read it: too late
  // not to read it, in time not to decode it.
  if (cost->bytes == 0 && IsPipedInput(*s.inputPath)) cost->bytes = PipedInputBytes(*s.inputPath);
  if (OverByteLimit(s.limits, cost->bytes)) return noErr;
  // The checks have read the header for the outputs' sizes: every output's
  // geometry holds the picture as stored. Only the frames need another look.
  if (!s.outputs.empty()) {
    const OutputGeometry& g = s.outputs.front().geometry;
    cost->canvasPixels = uint64_t(uint32_t(g.storedWidth)) * uint32_t(g.storedHeight);
  }
  // Beyond the pixel limit the refusal is certain: the frames are not
  // counted (which a TIFF's strip tables would make costly).
  if (s.animated && CheckInputLimits(s.limits, *cost) != kPixelLimitErr) {
    OpenedImport opened;
    if (const int32_t err = OpenImport(*s.inputPath, &opened)) return err;
    int32_t frames = 1;
    if (const int32_t err = GraphicsImportGetFrameCount(opened.importer, &frames)) return err;
    cost->frames = uint64_t(frames);
  }
  for (const JobOutput& output : s.outputs) {
    const OutputGeometry& g = output.geometry;
    if (g.windowWidth < 1 || g.windowHeight < 1) {
      cost->emptyOutput = true;
      continue;
    }
    cost->outputPixels += uint64_t(uint32_t(g.windowWidth)) * uint32_t(g.windowHeight);
  }
  return noErr;
}

int32_t RefuseOverLimits(const JobSettings& s) {
  if (!AnyInputLimit(s.limits)) return noErr;
  SourceCost cost;
  if (const int32_t err = MeasureSourceCost(s, &cost)) return err;
  return CheckInputLimits(s.limits, cost);
}
