#include "driver/image_job.h"

#include <cstdio>

#include "driver/process_state.h"
#include "imageio/export.h"
#include "imageio/import.h"
#include "metadata/adjust.h"
#include "platform/gworld.h"
#include "platform/user_data.h"
#include "resample/resample.h"
#include "resample/rotate.h"

namespace {

// The job's working set. At most two pixel buffers exist: an odd turn
// reshapes the source, no longer needed after resampling, as its target.
struct JobRecord {
  GWorldPtr source = nullptr;
  uint32_t bytesPerPixel = 4;
  GWorldPtr destination = nullptr;
  UserData userData = nullptr;
  OSType destinationFormat = k32ARGBPixelFormat;
  Rect bounds;

  JobRecord() = default;
  JobRecord(const JobRecord&) = delete;
  JobRecord& operator=(const JobRecord&) = delete;
  // Clean-up on every way out, in this order.
  ~JobRecord() {
    if (source != nullptr) DisposeGWorld(source);
    if (destination != nullptr) DisposeGWorld(destination);
    if (userData != nullptr) DisposeUserData(userData);
  }
};

bool HoldsWideSamples(GWorldPtr gw) {
  return GetGWorldPixMap(gw)->pixelSize > 32;
}

int32_t WidthOf(const Rect& r) {
  return r.right - r.left;
}
int32_t HeightOf(const Rect& r) {
  return r.bottom - r.top;
}

void SetStage(JobStage stage) {
  Process().jobStage = stage;
}

int32_t Resample(JobRecord& job, int32_t horizontalEdge, int32_t verticalEdge, int32_t kernel) {
  // The resampler reads and writes 16-bit samples in the machine's order.
  const bool wideSource = HoldsWideSamples(job.source);
  if (wideSource) SwapSampleBytes(job.source);
  const int32_t err =
      ResampleGWorld(job.source, job.destination, horizontalEdge, verticalEdge, kernel);
  if (err != noErr) return err;
  if (wideSource) SwapSampleBytes(job.source);
  if (job.bytesPerPixel > 4) SwapSampleBytes(job.destination);
  return noErr;
}

int32_t Rotate(JobRecord& job, int32_t quarterTurns) {
  if (quarterTurns % 2 == 1) {
    SetStage(kStageReallocating);
    MacSetRect(&job.bounds, 0, 0, HeightOf(job.bounds), WidthOf(job.bounds));
    if (ShowProgress()) {
      std::fprintf(stderr, "Reallocating GWorld %dx%d for rotation\n", job.bounds.right,
                   job.bounds.bottom);
    }
    if (QTUpdateGWorld(&job.source, job.destinationFormat, &job.bounds, nullptr, nullptr, 0) &
        gwFlagErr) {
      return int32_t(gwFlagErr);
    }
    std::swap(job.source, job.destination);
  }
  SetStage(kStageRotating);
  if (ShowProgress()) std::fprintf(stderr, "Rotating %d degrees clockwise\n", quarterTurns * 90);
  PixMapHandle fromMap = GetGWorldPixMap(job.source);
  PixMapHandle toMap = GetGWorldPixMap(job.destination);
  const void* from = GetPixBaseAddr(fromMap);
  const int32_t fromRowBytes = QTGetPixMapHandleRowBytes(fromMap);
  void* to = GetPixBaseAddr(toMap);
  const int32_t toRowBytes = QTGetPixMapHandleRowBytes(toMap);
  const int32_t width = job.bounds.right;
  const int32_t height = job.bounds.bottom;
  const int32_t pixelBytes = int32_t(job.bytesPerPixel);
  switch (quarterTurns) {
    case 1:
      Rotate90(from, fromRowBytes, to, toRowBytes, width, height, pixelBytes);
      break;
    case 2:
      Rotate180(to, toRowBytes, to, toRowBytes, width, height, pixelBytes);
      break;
    case 3:
      Rotate270(from, fromRowBytes, to, toRowBytes, width, height, pixelBytes);
      break;
  }
  return noErr;
}

int32_t RunSteps(JobRecord& job, const std::string& inputPath, const std::string& outputPath,
                 int32_t width, int32_t height, int32_t horizontalEdge, int32_t verticalEdge,
                 int32_t kernel, int32_t rotation, const ExportSettings& exportSettings,
                 bool copyMetadata) {
  job.destinationFormat = DestinationFormatForDepth(exportSettings.depth);
  job.bytesPerPixel = uint32_t(PixelSizeOfFormat(job.destinationFormat) / 8);

  SetStage(kStageReading);
  if (ShowProgress()) std::fprintf(stderr, "Reading \"%s\"\n", inputPath.c_str());
  if (copyMetadata) {
    if (const OSErr err = NewUserData(&job.userData)) return err;
  }
  if (const int32_t err = ImportImage(inputPath, &job.source, job.userData)) return err;
  const Rect imported = job.source->portRect;
  if (ShowProgress()) {
    std::fprintf(stderr, "Resizing %dx%d to %dx%d\n", imported.right, imported.bottom, width,
                 height);
  }

  SetStage(kStageAllocating);
  if (Process().trace) std::fprintf(stderr, "Allocating GWorld %dx%d\n", width, height);
  MacSetRect(&job.bounds, 0, 0, width, height);
  if (const OSErr err = QTNewGWorld(&job.destination, job.destinationFormat, &job.bounds, nullptr,
                                    nullptr, kNativeEndianPixMap)) {
    return err;
  }

  SetStage(kStageResampling);
  if (Process().trace) {
    std::fprintf(stderr, "Resizing (%d, %d, %d)\n", horizontalEdge, verticalEdge, kernel);
  }
  if (const int32_t err = Resample(job, horizontalEdge, verticalEdge, kernel)) return err;

  const int32_t quarterTurns = QuarterTurns(rotation);
  if (quarterTurns != 0) {
    if (const int32_t err = Rotate(job, quarterTurns)) return err;
  }

  SetStage(kStageWriting);
  if (ShowProgress()) std::fprintf(stderr, "Writing \"%s\"\n", outputPath.c_str());
  if (job.userData != nullptr) {
    AdjustMetaData(job.userData, WidthOf(imported), HeightOf(imported), WidthOf(job.bounds),
                   HeightOf(job.bounds), quarterTurns);
  }
  ExportSettings settings = exportSettings;
  // 16-bit buffers are written with 16 bits a channel at 24 or 32 bits a pixel.
  if (job.bytesPerPixel > 4) settings.depth = int16_t(settings.depth / 2);
  return ExportImage(job.destination, settings, job.userData, outputPath);
}

}  // namespace

OSType DestinationFormatForDepth(int16_t depth) {
  if (depth == 48) return k48RGBCodecType;
  if (depth == 64) return k64ARGBPixelFormat;
  return k32ARGBPixelFormat;
}

int32_t QuarterTurns(int32_t rotation) {
  int32_t r = rotation % 360;
  if (r < 0) r += 360;
  return r / 90;
}

int32_t RunImageJob(const std::string& inputPath, const std::string& outputPath, int32_t width,
                    int32_t height, int32_t horizontalEdge, int32_t verticalEdge, int32_t kernel,
                    int32_t rotation, const ExportSettings& exportSettings, bool copyMetadata) {
  JobRecord job;
  return RunSteps(job, inputPath, outputPath, width, height, horizontalEdge, verticalEdge, kernel,
                  rotation, exportSettings, copyMetadata);
}
