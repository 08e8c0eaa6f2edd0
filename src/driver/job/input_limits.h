// What one input may cost a run before any of its pixels is decoded, and
// how long it may take. Every limit is off (0) unless the command line sets
// it; a service starts from ServiceLimits(). The costs come from the
// headers alone (driver/job/source_cost.h), and the check is made once, by
// the job, before anything is allocated for the pixels.
#pragma once

#include <cstdint>

#include "base/mac_types.h"

// Under the limits: an output whose side comes to less than a pixel (a
// 16777216 x 1 canvas at 100 wide), refused with the input's name.
constexpr OSErr kEmptyOutputErr = -8986;

struct InputLimits {
  uint64_t pixels = 0;  // "//limit-pixels": the source's pixels, the canvas every frame is drawn on
  uint64_t frames = 0;  // "//limit-frames": the frames decoded (1 but for "//animated")
  // "//limit-work": frames x (canvas pixels + the pixels of every output)
  uint64_t work = 0;
  uint64_t bytes = 0;         // "//limit-bytes": the input file's size
  double timeoutSeconds = 0;  // "//timeout": the job stops once this has passed
};

// The defaults of a service that takes images from anyone:
//   pixels 50,000,000: imgproxy's default source limit (sharp's
//     limitInputPixels, 268,402,689 = 16383 x 16383, suits a library in
//     one process better than a worker running several jobs); a 50 MP
//     canvas is 200 MB as 8-bit ARGB, 400 MB at 16 bits, which several
//     jobs at once can still hold in a container's few gigabytes;
//   frames 1,000: a long animated sticker or GIF has a few hundred;
//   work 500,000,000 pixels: ten frames at the pixel limit, or 500 frames
//     of 1 MP, a few seconds of one core;
//   bytes 100,000,000: a 50 MP photo is well under 50 MB as JPEG, a PNG of
//     it rarely over 100 MB; files are read whole by most codecs;
//   timeout 10 s: imgproxy's default, what a caller waiting on an upload
//     can bear.
InputLimits ServiceLimits();

// Whether any of the header limits is set.
bool AnyInputLimit(const InputLimits& limits);

// A source's cost as its headers tell it.
struct SourceCost {
  uint64_t bytes = 0;         // the file's size, a pipe's once read; 0 when not known
  uint64_t canvasPixels = 0;  // the canvas every frame is drawn on
  uint64_t frames = 1;        // the frames the run decodes
  uint64_t outputPixels = 0;  // every output's written pixels, for one frame
  bool emptyOutput = false;   // an output's side comes to less than a pixel
};

// frames x (canvas pixels + output pixels), saturating.
uint64_t WorkOf(const SourceCost& cost);

// The first limit the cost goes beyond, in the order bytes, pixels,
// frames, work, as its code (kByteLimitErr, kPixelLimitErr,
// kFrameLimitErr, kWorkLimitErr); then kEmptyOutputErr for an output of
// no pixels, which a run without limits leaves to fail as it always has
// (parameter error at the allocation); noErr when all is well.
int32_t CheckInputLimits(const InputLimits& limits, const SourceCost& cost);

// Whether a file of this many bytes is beyond the byte limit: then not
// even its header is read.
bool OverByteLimit(const InputLimits& limits, uint64_t bytes);
