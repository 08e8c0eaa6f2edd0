#include "driver/image_job.h"

#include <atomic>
#include <cstdio>
#include <string>
#include <vector>

#include "base/quiet_stderr.h"
#include "driver/process_state.h"
#include "imageio/export.h"
#include "metadata/adjust.h"
#include "metadata/drop_items.h"
#include "metadata/orientation.h"
#include "pipeline/animation_job.h"
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

  // The reading's own result once it has ended, else laterResult: a failed
  // reading is reported as the reading's, as if it had ended before
  // anything after it began.
  int32_t FinishReading(int32_t laterResult) {
    if (laterResult != noErr) pipeline.Stop(laterResult);
    const int32_t result = pipeline.FinishReading();
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

// "//animated": an animation of several frames, resized frame by frame
// (pipeline/animation_job.h); *ran is false for a still, which goes on as
// without the option.
int32_t RunAnimation(Job& job, const JobSettings& s, const ResizeRequest& resize,
                     const ExportSettings& settings, UserData ud, bool* ran) {
  AnimationJob animation;
  const int32_t opened = animation.Open(*s.inputPath);
  *ran = opened != noErr || animation.Animated();
  if (!*ran || opened != noErr) return opened;
  const OutputGeometry& g = s.geometry;
  job.progress.Say("Resizing %dx%d to %dx%d\n", g.sourceWidth, g.sourceHeight, g.windowWidth,
                   g.windowHeight);
  job.progress.Say(Quoted("Writing ", *s.outputPath));
  AnimationStep failed = AnimationStep::kReading;
  const int32_t result = animation.Run(resize, settings, {ud, s.upright, s.dropItems, s.keptItems},
                                       *s.outputPath, &failed);
  job.stage = result == noErr                        ? kStageWriting
              : failed == AnimationStep::kReading    ? kStageReading
              : failed == AnimationStep::kResampling ? kStageResampling
                                                     : kStageWriting;
  return result;
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
  if (s.animated) {
    bool ran = false;
    const int32_t result = RunAnimation(job, s, resize, exportSettings, *userData, &ran);
    if (ran) return result;
  }
  if (const int32_t err = job.pipeline.StartReading(inputPath, *userData, resize)) return err;
  if (!job.pipeline.ReadingKnown()) job.progress.Hold();
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
  return job.FinishReading(written);
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
    UserData list = nullptr;
    result.code = RunSteps(job, settings, &list);
    userData.reset(list);
    result.stage = job.stage;
  }
  return result;
}
