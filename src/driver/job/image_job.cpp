#include "driver/job/image_job.h"

#include <atomic>
#include <cstdio>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "base/item_types.h"
#include "base/quiet_stderr.h"
#include "base/start_thread.h"
#include "driver/job/process_state.h"
#include "driver/job/source_cost.h"
#include "imageio/export.h"
#include "metadata/adjust.h"
#include "metadata/drop_items.h"
#include "pipeline/animation_frames.h"
#include "pipeline/goal_export.h"
#include "pipeline/pipeline.h"
#include "platform/owned.h"
#include "platform/user_data.h"

namespace {

std::atomic<bool> jobOverlap{true};
std::atomic<int32_t> imagesAtOnce{1};

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
      Emit(line);
    }
  }
  void Hold() { held_ = true; }
  void Release(bool show) {
    if (show) {
      for (const std::string& line : waiting_) Emit(line);
    }
    waiting_.clear();
    held_ = false;
  }
  // An output's lines beside other outputs are kept, and written together
  // once every output is done, in the outputs' order.
  void KeepUntilWritten() { keep_ = true; }
  void WriteKept() {
    for (const std::string& line : kept_) WriteStandardError(line);
    kept_.clear();
  }

 private:
  void Emit(const std::string& line) {
    if (keep_) {
      kept_.push_back(line);
    } else {
      WriteStandardError(line);
    }
  }

  bool held_ = false;
  bool keep_ = false;
  std::vector<std::string> waiting_;
  std::vector<std::string> kept_;
};

std::string Quoted(const char* format, const std::string& path) {
  return format + ("\"" + path + "\"\n");
}

// One output's steps: where they got to, which names the file a failure
// concerns, its progress lines and its own copy of the metadata.
struct OutputRun {
  int32_t index = 0;
  ProgressLines* progress = nullptr;  // the job's, or its own beside other outputs
  ProgressLines ownProgress;
  JobStage stage = kStageReading;
  int32_t code = noErr;
  UniqueUserData userData;
  std::optional<QualityChoice> chosen;  // with a quality goal, once written
  std::optional<WindowPlace> window;    // once placed on the output's full resize
};

// Members go in the reverse order: the pipeline's buffers and threads
// before the metadata lists.
struct Job {
  UniqueUserData metadata;      // the source's, until the outputs take it
  std::vector<OutputRun> runs;  // one for each output
  Pipeline pipeline{jobOverlap.load(), imagesAtOnce.load()};
  ProgressLines progress;
  JobStage stage = kStageReading;  // the reading's step, which names the input on failure
  bool strict = false;             // "//strict"
  Deadline deadline;               // "//timeout", from the job's start
  std::atomic<bool> failedByWarnings{false};
  JobFacts facts;

  // A reading that ended well, but for warnings under "//strict", which
  // fail it as damaged data does.
  int32_t StrictReading(int32_t result) {
    if (result != noErr || !strict || pipeline.ReadingWarnings().empty()) return result;
    failedByWarnings = true;
    return codecErr;
  }
};

// The reading's own result once it has ended, else laterResult: a failed
// reading is reported as the reading's, as if it had ended before anything
// after it began.
int32_t FinishReading(Job& job, OutputRun& run, int32_t laterResult) {
  if (laterResult != noErr) job.pipeline.Stop(run.index, laterResult);
  const int32_t result = job.StrictReading(job.pipeline.FinishReading(run.index));
  run.progress->Release(result == noErr);
  if (result == noErr) return laterResult;
  run.stage = kStageReading;
  return result;
}

int32_t Turn(Job& job, OutputRun& run, int32_t quarterTurns) {
  if (quarterTurns % 2 == 1) {
    run.stage = kStageReallocating;
    Rect turned;
    const int32_t err = job.pipeline.ReshapeForTurn(run.index, &turned);
    run.progress->Say("Reallocating GWorld %dx%d for rotation\n", turned.right, turned.bottom);
    if (err != noErr) return err;
  }
  run.stage = kStageRotating;
  run.progress->Say("Rotating %d degrees clockwise\n", quarterTurns * 90);
  job.pipeline.Turn(run.index);
  return noErr;
}

// What every output shares: the request's options; its own geometry,
// depth and flattening.
ResizeRequest RequestFor(const JobSettings& s, const JobOutput& output) {
  ResizeRequest resize;
  resize.geometry = output.geometry;
  resize.horizontalEdge = s.horizontalEdge;
  resize.verticalEdge = s.verticalEdge;
  resize.kernel = s.kernel;
  resize.destinationFormat = DestinationFormatForDepth(output.exportSettings.depth);
  // 48 bits flattened: the resize keeps the alpha that the flattening reads,
  // and the exporter writes the colour alone.
  if (output.flattenOnto >= 0 && resize.destinationFormat == k48RGBCodecType) {
    resize.destinationFormat = k64ARGBPixelFormat;
  }
  resize.space = s.filterSpace;
  // Without its profile the copy needs sRGB samples, as without metadata.
  resize.matchColour = (LeftOutKinds(s.dropItems, s.keptItems) & kDropIcc) != 0;
  resize.flattenOnto = output.flattenOnto;
  resize.sharpen = s.sharpen;
  resize.placeholder = s.placeholder;
  resize.writtenDepth = output.exportSettings.depth;
  resize.keepRows = s.qualityGoal.kind != QualityGoalKind::kNone;
  if (output.windowFromResize) resize.windowRule = s.crop;
  return resize;
}

JobStage StageOf(const FramesResult& result) {
  if (result.code == noErr || result.step == AnimationStep::kWriting) return kStageWriting;
  return result.step == AnimationStep::kReading ? kStageReading : kStageResampling;
}

// Each output of an animation: its request, with frames of 8-bit samples
// whatever the depth, and its own copy of the metadata, kept in copies.
OSErr FramesOutputsOf(const JobSettings& s, const std::vector<JobOutput>& outputs,
                      const std::vector<ExportSettings>& settings, UserData metadata,
                      std::vector<FramesOutput>* runs, std::vector<UniqueUserData>* copies) {
  for (size_t i = 0; i < outputs.size(); ++i) {
    UserData copy = nullptr;
    if (metadata != nullptr) {
      if (const OSErr err = CopyUserData(metadata, &copy)) return err;
    }
    copies->emplace_back(copy);
    runs->push_back({RequestFor(s, outputs[i]), settings[i], outputs[i].path, copy});
    runs->back().request.destinationFormat = k32ARGBPixelFormat;
  }
  return noErr;
}

// "//animated": an animation of several frames, each output resized frame
// by frame (pipeline/animation_frames.h); false for a still, which goes on
// as without the option.
bool RunAnimation(Job& job, const JobSettings& s, const std::vector<JobOutput>& outputs,
                  const std::vector<ExportSettings>& settings, JobResult* result) {
  AnimationFrames animation;
  animation.SetDeadline(job.deadline);
  int32_t failed = animation.Open(*s.inputPath);
  if (failed == noErr && !animation.Animated()) return false;
  std::vector<FramesOutput> runs;
  std::vector<UniqueUserData> copies;
  if (failed == noErr) {
    animation.ReadMetaData(job.metadata.get());
    failed = FramesOutputsOf(s, outputs, settings, job.metadata.get(), &runs, &copies);
  }
  result->outputs.assign(outputs.size(), OutputResult{failed, kStageReading, std::nullopt,
                                                      std::nullopt, std::nullopt});
  if (failed == noErr) {
    for (const JobOutput& output : outputs) {
      const OutputGeometry& g = output.geometry;
      job.progress.Say("Resizing %dx%d to %dx%d\n", g.sourceWidth, g.sourceHeight, g.windowWidth,
                       g.windowHeight);
      job.progress.Say(Quoted("Writing ", output.path));
    }
    const bool matchColour = job.metadata == nullptr || runs.front().request.matchColour;
    const std::vector<FramesResult> ran = animation.Run(
        runs, matchColour, {s.upright || animation.DrawnUpright(), s.dropItems, s.keptItems});
    for (size_t i = 0; i < outputs.size(); ++i)
      result->outputs[i] = {ran[i].code, StageOf(ran[i]), std::nullopt, std::nullopt, std::nullopt};
  }
  for (const OutputResult& output : result->outputs) {
    if (output.code == noErr || result->code != noErr) continue;
    result->code = output.code;
    result->stage = output.stage;
  }
  if (result->code == noErr) result->stage = kStageWriting;
  return true;
}

// The quality the goal asks for, searched on the output's kept pixels; the
// reading is over, as kept rows never stream.
int32_t ExportAtGoal(Job& job, OutputRun& run, const JobSettings& s, const JobOutput& output,
                     const ExportSettings& settings) {
  QualityChoice chosen;
  const int32_t written = ExportForGoal(
      job.pipeline.KeptPicture(run.index), job.pipeline.Request(run.index), settings, s.qualityGoal,
      run.userData.get(), output.path, jobOverlap.load(), job.deadline, &chosen);
  if (written != noErr) return written;
  run.chosen = chosen;
  char line[96];
  const int said = std::snprintf(line, sizeof line, "Quality %d chosen: %llu bytes", chosen.percent,
                                 static_cast<unsigned long long>(chosen.bytes));
  if (chosen.score >= 0) {
    std::snprintf(line + said, sizeof line - size_t(said), ", similarity %.4f", chosen.score);
  }
  run.progress->Say(std::string(line) + "\n");
  return noErr;
}

// Everything after the reading has started, for one output.
int32_t OutputSteps(Job& job, OutputRun& run, const JobSettings& s, const JobOutput& output,
                    const ExportSettings& exportSettings) {
  // Its window, once placed on its full resize (below), is the pipeline's.
  const OutputGeometry& geometry = job.pipeline.Request(run.index).geometry;
  const Rect imported = job.pipeline.SourceBounds();
  run.progress->Say("Resizing %dx%d to %dx%d\n", imported.right, imported.bottom,
                    geometry.windowWidth, geometry.windowHeight);

  run.stage = kStageAllocating;
  if (Process().trace) {
    // A window placed on the full resize is cut from it: the whole is made.
    const bool whole = output.windowFromResize;
    run.progress->Say("Allocating GWorld %dx%d\n",
                      whole ? geometry.fullWidth : geometry.windowWidth,
                      whole ? geometry.fullHeight : geometry.windowHeight);
  }
  if (const int32_t err = job.pipeline.AllocateDestination(run.index)) {
    return FinishReading(job, run, err);
  }

  run.stage = kStageResampling;
  if (Process().trace) {
    run.progress->Say("Resizing (%d, %d, %d)\n", s.horizontalEdge, s.verticalEdge, s.kernel);
  }
  if (const int32_t err = job.pipeline.Resample(run.index)) return FinishReading(job, run, err);
  // An encoder that follows the rows asks for the reading's result just
  // before it writes the file; otherwise the reading must be over now.
  if (!job.pipeline.DestinationStreams(run.index)) {
    if (const int32_t err = FinishReading(job, run, noErr)) return err;
  }
  if (output.windowFromResize) {
    if (const int32_t err = job.pipeline.CutWindow(run.index)) return err;
    run.window = WindowPlace{geometry.windowLeft, geometry.windowTop};
  }

  if (geometry.quarterTurns != 0) {
    if (const int32_t err = Turn(job, run, geometry.quarterTurns)) return err;
  }

  run.stage = kStageWriting;
  run.progress->Say(Quoted("Writing ", output.path));
  UserData ud = run.userData.get();
  // Taken before "//drop" and the fitting, either of which may leave it out.
  const bool hadGainMap = ud != nullptr && !GetUserDataGainMap(ud).empty();
  if (ud != nullptr) {
    FitCopiedMetaData(ud, geometry, s.upright || job.pipeline.SourceDrawnUpright(), s.dropItems,
                      s.keptItems);
  }
  ExportSettings settings = exportSettings;
  // 16-bit buffers are written with 16 bits a channel at 24 or 32 bits a pixel.
  if (PixelSizeOfFormat(RequestFor(s, output).destinationFormat) > 32) {
    settings.depth = int16_t(settings.depth / 2);
  }
  const int32_t written =
      s.qualityGoal.kind != QualityGoalKind::kNone
          ? ExportAtGoal(job, run, s, output, settings)
          : job.pipeline.Export(run.index, settings, ud, output.path,
                                [&job, &run] { return OSErr(FinishReading(job, run, noErr)); });
  const int32_t result = FinishReading(job, run, written);
  // The first output's metadata tells for all: they are fitted alike.
  if (result == noErr && ud != nullptr && run.index == 0) {
    job.facts.profileKept = CountUserDataType(ud, kIccItem) > 0;
    // The fitting leaves a map out by taking it from the list.
    if (!GetUserDataGainMap(ud).empty()) {
      job.facts.gainMap = GainMapFate::kFitted;
    } else if (hadGainMap) {
      job.facts.gainMap = GainMapFate::kLeftOut;
    }
  }
  return result;
}

// Outputs beside each other, each on a thread of its own but the last,
// which runs here: they read one source band at their own paces, so none
// may wait for another to end. Without overlap the source is whole before
// any of them starts, and they run one after another here.
void RunOutputs(Job& job, std::vector<OutputRun>& runs, const JobSettings& s,
                const std::vector<JobOutput>& outputs,
                const std::vector<ExportSettings>& exportSettings) {
  auto steps = [&](size_t i) {
    if (runs[i].code != noErr) return;  // abandoned before it began
    try {
      runs[i].code = OutputSteps(job, runs[i], s, outputs[i], exportSettings[i]);
    } catch (...) {
      // None are expected: the libraries' are caught where they are called.
      runs[i].code = memFullErr;
    }
  };
  if (runs.size() == 1 || !job.pipeline.Overlaps()) {
    for (size_t i = 0; i < runs.size(); ++i) steps(i);
    return;
  }
  std::vector<std::thread> threads(runs.size() - 1);
  for (size_t i = 0; i + 1 < runs.size(); ++i) {
    if (!StartThread(&threads[i], [&steps, i] { steps(i); })) {
      runs[i].stage = kStageResampling;
      runs[i].code = memFullErr;
      job.pipeline.Abandon(runs[i].index, memFullErr);
    }
  }
  steps(runs.size() - 1);
  for (std::thread& thread : threads) {
    if (thread.joinable()) thread.join();
  }
}

JobResult RunSteps(Job& job, const JobSettings& s) {
  const std::string& inputPath = *s.inputPath;
  const std::vector<JobOutput>& outputs = s.outputs;
  JobResult result;
  auto failAll = [&](int32_t code, JobStage stage) {
    result.code = code;
    result.stage = stage;
    result.outputs.assign(outputs.size(),
                          OutputResult{code, stage, std::nullopt, std::nullopt, std::nullopt});
    return result;
  };
  // Known before anything is read: a name no exporter claims fails at once.
  std::vector<ExportSettings> exportSettings;
  for (const JobOutput& output : outputs) {
    exportSettings.push_back(output.exportSettings);
    OSType& codec = exportSettings.back().codec;
    if (codec != kCodecFromFileName) continue;
    codec = CodecForFileName(output.path);
    if (codec == 0) return failAll(noHandlerErr, kStageWriting);
  }

  job.stage = kStageReading;
  job.progress.Say(Quoted("Reading ", inputPath));
  // What the input would cost is known from its headers: refused here,
  // before any of its pixels is allocated.
  if (const int32_t err = RefuseOverLimits(s)) return failAll(err, kStageReading);
  UniqueUserData& userData = job.metadata;
  if (s.copyMetadata) {
    UserData list = nullptr;
    if (const OSErr err = NewUserData(&list)) return failAll(err, kStageReading);
    userData.reset(list);
  }
  if (s.animated && RunAnimation(job, s, outputs, exportSettings, &result)) return result;
  std::vector<ResizeRequest> requests;
  for (const JobOutput& output : outputs) requests.push_back(RequestFor(s, output));
  if (const int32_t err = job.pipeline.StartReading(inputPath, userData.get(), requests)) {
    return failAll(err, kStageReading);
  }
  if (job.pipeline.ReadingKnown()) {
    if (const int32_t err = job.StrictReading(noErr)) return failAll(err, kStageReading);
  }
  if (s.shrinkOnLoad) {
    const Rect decoded = job.pipeline.SourceBounds();
    job.progress.Say("Decoding at 1/%d scale: %dx%d\n", outputs.front().geometry.decodeScale,
                     decoded.right, decoded.bottom);
  }

  std::vector<OutputRun>& runs = job.runs;
  runs.resize(outputs.size());
  for (size_t i = 0; i < runs.size(); ++i) {
    OutputRun& run = runs[i];
    run.index = int32_t(i);
    run.progress = runs.size() == 1 ? &job.progress : &run.ownProgress;
    run.ownProgress.KeepUntilWritten();
    if (!job.pipeline.ReadingKnown()) run.progress->Hold();
    if (userData == nullptr) continue;
    UserData copy = nullptr;
    if (i + 1 == runs.size()) {
      copy = userData.release();
    } else if (const OSErr err = CopyUserData(userData.get(), &copy)) {
      run.code = err;
      job.pipeline.Abandon(run.index, err);
    }
    run.userData.reset(copy);
  }
  RunOutputs(job, runs, s, outputs, exportSettings);

  for (OutputRun& run : runs) {
    run.ownProgress.WriteKept();
    // A job stopped at its deadline names its input, whichever step it was in.
    if (run.code == kTimedOutErr) run.stage = kStageReading;
    result.outputs.push_back({run.code, run.stage, std::nullopt, run.chosen, run.window});
    if (run.code == noErr && s.placeholder) {
      result.outputs.back().placeholder = job.pipeline.PlaceholderOf(run.index);
    }
    if (run.code != noErr && result.code == noErr) {
      result.code = run.code;
      result.stage = run.stage;
    }
  }
  if (result.code == noErr) result.stage = runs.back().stage;
  return result;
}

// What the reading found, once it has ended: warnings that did not fail
// the run, and the colours converted.
void NoteReadingFacts(Job& job) {
  if (!job.pipeline.ReadingKnown()) return;
  if (!job.failedByWarnings.load()) job.facts.warnings = job.pipeline.ReadingWarnings();
  job.facts.profileConvertedFrom = job.pipeline.ConvertedColour();
}

}  // namespace

void SetImageJobOverlap(bool allowed) {
  jobOverlap.store(allowed);
}

void SetImageJobsAtOnce(int32_t jobs) {
  imagesAtOnce.store(jobs);
}

OSType DestinationFormatForDepth(int16_t depth) {
  if (depth == 48) return k48RGBCodecType;
  if (depth == 64) return k64ARGBPixelFormat;
  return k32ARGBPixelFormat;
}

JobResult RunImageJob(const JobSettings& settings) {
  // The pipeline's buffers and threads go before the metadata lists.
  Job job;
  job.strict = settings.strict;
  job.deadline = Deadline::After(settings.limits.timeoutSeconds);
  job.pipeline.SetDeadline(job.deadline);
  JobResult result = RunSteps(job, settings);
  NoteReadingFacts(job);
  result.facts = std::move(job.facts);
  return result;
}
