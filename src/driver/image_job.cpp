#include "driver/image_job.h"

#include <atomic>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "base/item_types.h"
#include "base/quiet_stderr.h"
#include "driver/process_state.h"
#include "imageio/export.h"
#include "metadata/adjust.h"
#include "metadata/drop_items.h"
#include "metadata/orientation.h"
#include "pipeline/pipeline.h"
#include "platform/owned.h"
#include "platform/user_data.h"

namespace {

std::atomic<bool> jobOverlap{true};

// Progress lines in the order of the steps. While the reading goes on
// elsewhere its outcome is unknown, so the lines of the steps after it wait
// until it has succeeded; a failed reading shows none of them.
class ProgressLines {
 public:
  void Say(const char* format, int a, int b = 0, int c = 0, int d = 0) {
    if (!ShowProgress()) return;
    char line[256];
    std::snprintf(line, sizeof line, format, a, b, c, d);
    Say(std::string(line));
  }
  void Say(const std::string& line) {
    if (!ShowProgress()) return;
    if (held_) {
      waiting_.push_back(line);
    } else {
      WriteStandardError(line);
    }
  }
  void Hold() { held_ = true; }
  void Release(bool show) {
    if (show) {
      for (const std::string& line : waiting_) WriteStandardError(line);
    }
    waiting_.clear();
    held_ = false;
  }

 private:
  bool held_ = false;
  std::vector<std::string> waiting_;
};

std::string Quoted(const char* format, const std::string& path) {
  return format + ("\"" + path + "\"\n");
}

struct Job {
  Pipeline pipeline{jobOverlap.load()};
  ProgressLines progress;
  JobStage stage = kStageReading;  // the step under way, which names the file a failure concerns
  bool strict = false;             // "//strict"
  bool failedByWarnings = false;
  JobFacts facts;

  // A reading that ended well, but for warnings under "//strict", which
  // fail it as damaged data does.
  int32_t StrictReading(int32_t result) {
    if (result != noErr || !strict || pipeline.ReadingWarnings().empty()) return result;
    failedByWarnings = true;
    return codecErr;
  }

  // The reading's own result once it has ended, else laterResult: a failed
  // reading is reported as the reading's, as if it had ended before
  // anything after it began.
  int32_t FinishReading(int32_t laterResult) {
    if (laterResult != noErr) pipeline.Stop(laterResult);
    const int32_t result = StrictReading(pipeline.FinishReading());
    progress.Release(result == noErr);
    if (result == noErr) return laterResult;
    stage = kStageReading;
    return result;
  }
};

int32_t Turn(Job& job, int32_t quarterTurns) {
  if (quarterTurns % 2 == 1) {
    job.stage = kStageReallocating;
    Rect turned;
    const int32_t err = job.pipeline.ReshapeForTurn(&turned);
    job.progress.Say("Reallocating GWorld %dx%d for rotation\n", turned.right, turned.bottom);
    if (err != noErr) return err;
  }
  job.stage = kStageRotating;
  job.progress.Say("Rotating %d degrees clockwise\n", quarterTurns * 90);
  job.pipeline.Turn();
  return noErr;
}

int32_t RunSteps(Job& job, const JobSettings& s, UserData* userData) {
  const std::string& inputPath = *s.inputPath;
  const std::string& outputPath = *s.outputPath;
  ResizeRequest resize;
  resize.geometry = s.geometry;
  resize.horizontalEdge = s.horizontalEdge;
  resize.verticalEdge = s.verticalEdge;
  resize.kernel = s.kernel;
  resize.destinationFormat = DestinationFormatForDepth(s.exportSettings.depth);
  // 48 bits flattened: the resize keeps the alpha that the flattening reads,
  // and the exporter writes the colour alone.
  if (s.flattenOnto >= 0 && resize.destinationFormat == k48RGBCodecType) {
    resize.destinationFormat = k64ARGBPixelFormat;
  }
  resize.space = s.filterSpace;
  // Without its profile the copy needs sRGB samples, as without metadata.
  resize.matchColour = (LeftOutKinds(s.dropItems, s.keptItems) & kDropIcc) != 0;
  resize.flattenOnto = s.flattenOnto;
  const bool wide = PixelSizeOfFormat(resize.destinationFormat) > 32;
  ExportSettings exportSettings = s.exportSettings;
  if (exportSettings.codec == kCodecFromFileName) {
    // Known before anything is read: a name no exporter claims fails at once.
    exportSettings.codec = CodecForFileName(outputPath);
    if (exportSettings.codec == 0) {
      job.stage = kStageWriting;
      return noHandlerErr;
    }
  }

  job.stage = kStageReading;
  job.progress.Say(Quoted("Reading ", inputPath));
  if (s.copyMetadata) {
    if (const OSErr err = NewUserData(userData)) return err;
  }
  if (const int32_t err = job.pipeline.StartReading(inputPath, *userData, resize)) return err;
  if (!job.pipeline.ReadingKnown()) {
    job.progress.Hold();
  } else if (const int32_t err = job.StrictReading(noErr)) {
    return err;
  }
  const OutputGeometry& geometry = s.geometry;
  const Rect imported = job.pipeline.SourceBounds();
  job.progress.Say("Resizing %dx%d to %dx%d\n", imported.right, imported.bottom,
                   geometry.windowWidth, geometry.windowHeight);

  job.stage = kStageAllocating;
  if (Process().trace) {
    job.progress.Say("Allocating GWorld %dx%d\n", geometry.windowWidth, geometry.windowHeight);
  }
  if (const int32_t err = job.pipeline.AllocateDestination()) return job.FinishReading(err);

  job.stage = kStageResampling;
  if (Process().trace) {
    job.progress.Say("Resizing (%d, %d, %d)\n", s.horizontalEdge, s.verticalEdge, s.kernel);
  }
  if (const int32_t err = job.pipeline.Resample()) return job.FinishReading(err);
  // An encoder that follows the rows asks for the reading's result just
  // before it writes the file; otherwise the reading must be over now.
  const bool streams = job.pipeline.DestinationStreams();
  if (!streams) {
    if (const int32_t err = job.FinishReading(noErr)) return err;
  }

  if (geometry.quarterTurns != 0) {
    if (const int32_t err = Turn(job, geometry.quarterTurns)) return err;
  }

  job.stage = kStageWriting;
  job.progress.Say(Quoted("Writing ", outputPath));
  // Taken before "//drop" and the fitting, either of which may leave it out.
  const bool hadGainMap = *userData != nullptr && !GetUserDataGainMap(*userData).empty();
  if (*userData != nullptr) {
    AdjustMetaData(*userData, geometry);
    // Pixels put upright, here or by the importer, are described so.
    if (s.upright || job.pipeline.SourceDrawnUpright()) MarkUpright(*userData);
    DropItems(*userData, s.dropItems, s.keptItems);
  }
  ExportSettings settings = exportSettings;
  // 16-bit buffers are written with 16 bits a channel at 24 or 32 bits a pixel.
  if (wide) settings.depth = int16_t(settings.depth / 2);
  const int32_t written = job.pipeline.Export(settings, *userData, outputPath,
                                              [&job] { return OSErr(job.FinishReading(noErr)); });
  const int32_t result = job.FinishReading(written);
  if (result == noErr && *userData != nullptr) {
    job.facts.profileKept = CountUserDataType(*userData, kIccItem) > 0;
    // The fitting leaves a map out by taking it from the list.
    if (!GetUserDataGainMap(*userData).empty()) {
      job.facts.gainMap = GainMapFate::kFitted;
    } else if (hadGainMap) {
      job.facts.gainMap = GainMapFate::kLeftOut;
    }
  }
  return result;
}

// What the reading found, once it has ended: warnings that did not fail
// the run, and the colours converted.
void NoteReadingFacts(Job& job) {
  if (!job.pipeline.ReadingKnown()) return;
  if (!job.failedByWarnings) job.facts.warnings = job.pipeline.ReadingWarnings();
  job.facts.profileConvertedFrom = job.pipeline.ConvertedColour();
}

}  // namespace

void SetImageJobOverlap(bool allowed) {
  jobOverlap.store(allowed);
}

OSType DestinationFormatForDepth(int16_t depth) {
  if (depth == 48) return k48RGBCodecType;
  if (depth == 64) return k64ARGBPixelFormat;
  return k32ARGBPixelFormat;
}

JobResult RunImageJob(const JobSettings& settings) {
  UniqueUserData userData;
  JobResult result;
  {
    // The pipeline's buffers go first, then the metadata list.
    Job job;
    job.strict = settings.strict;
    UserData list = nullptr;
    result.code = RunSteps(job, settings, &list);
    userData.reset(list);
    result.stage = job.stage;
    NoteReadingFacts(job);
    result.facts = std::move(job.facts);
  }
  return result;
}
