// Everything one run is asked to do, as the command line gives it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "base/mac_types.h"
#include "base/output_geometry.h"
#include "driver/job/input_limits.h"
#include "imageio/export_settings.h"
#include "pipeline/quality_search.h"
#include "pipeline/smart_crop.h"
#include "platform/image_format.h"
#include "resample/resample.h"

enum class BoxRule { kNone, kFit, kFill };

// One output of a job: the file it is written to, the geometry it is
// written at, the format it is written in and how. Every output of a job
// comes from the one decode of its input.
struct JobOutput {
  std::string path;
  OutputGeometry geometry;
  const ImageFormat* format = nullptr;  // the exporter's record; nullptr when none answers
  std::string sizeText;                 // the "//sizes" entry as written; empty without
  // Its codec (kCodecFromFileName: from path), quality and depth, set by the checks.
  ExportSettings exportSettings;
  // The colour transparency is flattened onto, where the output cannot
  // keep it; -1 when the output is left as resized.
  int32_t flattenOnto = -1;
  // "//crop attention|entropy": the job places the window on this output's
  // full resize once it is made (the geometry holds it centred until then).
  bool windowFromResize = false;
};

struct JobSettings {
  std::optional<std::string> inputPath;
  // "/o" as written: the output's name, or in a batch the template every
  // output's name comes from. What is written is in outputs, below.
  std::optional<std::string> outputName;
  std::optional<std::string> dumpTarget;  // a file name, or "-" for the standard output
  bool dumpJson = false;                  // "//json": the dump as one JSON object
  float percentScale = 0;
  int32_t width = 0;
  int32_t height = 0;
  EdgeMode horizontalEdge = kEdgeDefault;
  EdgeMode verticalEdge = kEdgeDefault;
  KernelKind kernel = kKernelSinc;
  int32_t rotation = 0;  // degrees clockwise
  // "//linear", "//premultiply"
  FilterSpace filterSpace;
  bool copyMetadata = false;
  ExportSettings exportSettings;
  // "//fit" and "//fill": the box the output fits in or fills; 0 without.
  BoxRule boxRule = BoxRule::kNone;
  int32_t boxWidth = 0;
  int32_t boxHeight = 0;
  bool fitGiven = false;   // a good "//fit" box was given
  bool fillGiven = false;  // a good "//fill" box was given
  // "//crop": where a fill's window goes; cropGiven: the option was given.
  CropRule crop = CropRule::kCentre;
  bool cropGiven = false;
  bool upright = false;     // "//upright": the source's orientation applied first
  uint32_t dropItems = 0;   // "//drop": DropItem kinds left out of the copy
  uint32_t keptItems = 0;   // "//keep": the only DropItem kinds that travel
  bool inPlace = false;     // "//in-place": the output may replace the input file
  bool codecGiven = false;  // "/c" was given
  bool depthGiven = false;  // "/b" was given
  // "/q" was given: under "//web" every codec takes it.
  bool qualityGiven = false;
  // "//shrink-on-load": a JPEG decoded at 1/2, 1/4 or 1/8 where the output
  // allows (its geometry's decode scale).
  bool shrinkOnLoad = false;
  // "//web": upright, never enlarged, alpha kept or flattened, the codec
  // from the output name (driver/web_output.h).
  bool web = false;
  bool animated = false;  // "//animated": every frame of an animation, resized
  // "//sharpen [AMOUNT]": the resized picture sharpened by the amount in
  // 1/256 (resample/sharpen.h); 0 without.
  int32_t sharpen = 0;
  // "//placeholder": each report line gains the output's dominant colour
  // and a tiny preview (pipeline/placeholder.h).
  bool placeholder = false;
  bool noEnlarge = false;  // "//no-enlarge": a size above the source's is scaled down to it
  // "//centre": pixel centres aligned, rather than the first and last samples.
  SampleAlignment alignment = SampleAlignment::kCorners;
  // "//background RRGGBB" (0xRRGGBB), or white under "//web"; -1 for none.
  int32_t background = -1;
  // "//formats": every size written in each codec listed, in order
  // (kSourceCodec for "auto", the source's own); empty without.
  std::vector<OSType> formats;
  // "//quality CODEC=Q,...": a listed codec's quality, where "/q" is not it.
  std::vector<std::pair<OSType, int32_t>> codecQualities;
  // Every output of the job, filled by the checks: one for a single run,
  // one per "//sizes" entry in the order given; each geometry holds the
  // input's bounds as probed, and from them the resize, the window written
  // and the turns.
  std::vector<JobOutput> outputs;
  // "//max-bytes N" or "//target-quality SCORE": each output's quality
  // searched for; maxBytesGiven and scoreGiven say which were given.
  QualityGoal qualityGoal;
  bool maxBytesGiven = false;
  bool scoreGiven = false;
  int32_t errorCount = 0;
  // "//strict": a decoder's warning about data it could only partly read
  // fails the reading with codecErr, and nothing is written.
  bool strict = false;
  // "//limit-pixels", "//limit-frames", "//limit-work", "//limit-bytes",
  // "//timeout": what the input may cost; none unless given.
  InputLimits limits;
};
