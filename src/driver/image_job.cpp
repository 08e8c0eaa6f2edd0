#include "driver/image_job.h"

#include <atomic>
#include <cstdio>
#include <functional>
#include <system_error>
#include <thread>

#include "driver/process_state.h"
#include "imageio/export.h"
#include "imageio/import.h"
#include "metadata/adjust.h"
#include "platform/gworld.h"
#include "platform/row_gate.h"
#include "platform/user_data.h"
#include "resample/resample.h"
#include "resample/rotate.h"

namespace {

std::atomic<bool> jobOverlap{true};

// The job's working set. At most two pixel buffers exist: an odd turn
// reshapes the source, no longer needed after resampling, as its target.
struct JobRecord {
  GWorldPtr source = nullptr;
  uint32_t bytesPerPixel = 4;
  GWorldPtr destination = nullptr;
  UserData userData = nullptr;
  OSType destinationFormat = k32ARGBPixelFormat;
  Rect bounds;
  // The source's drawing, while it goes on beside the resampling, and the
  // gate through which its rows are released.
  ImportAheadPtr ahead;
  RowGate sourceGate;
  bool drawnAhead = false;
  int32_t readResult = noErr;  // the drawing's, once it has ended
  // The resampling, while it goes on beside the encoding, and how far its
  // rows are final (and in their stored byte order).
  PreparedResamplePtr resampling;
  std::thread resampler;
  RowGate destinationGate;
  int32_t rowsFinished = 0;

  JobRecord() = default;
  JobRecord(const JobRecord&) = delete;
  JobRecord& operator=(const JobRecord&) = delete;
  // Clean-up on every way out, in this order.
  ~JobRecord() {
    // Threads end before the buffers they use go: the resampler first, as
    // it may be following the drawing.
    if (resampler.joinable()) resampler.join();
    ahead.reset();
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

// Waits for a drawing still going on and answers its result. Also the
// exporter's last check before it writes the file.
OSErr WaitForReading(void* cookie) {
  JobRecord& job = *static_cast<JobRecord*>(cookie);
  if (job.ahead != nullptr) {
    job.readResult = FinishImport(job.ahead.get());
    job.ahead.reset();
  }
  return OSErr(job.readResult);
}

// The reading's own result once its drawing has ended, else laterResult:
// a failed reading is reported as the reading's, as if it had ended before
// anything after it began.
int32_t FinishReading(JobRecord& job, int32_t laterResult) {
  const int32_t result = WaitForReading(&job);
  if (result == noErr) return laterResult;
  SetStage(kStageReading);
  return result;
}

// Source rows [from, to) are drawn: 16-bit samples go into the machine's
// order, on the drawing thread, before the resampler may read them.
void PrepareSourceRows(void* cookie, int64_t from, int64_t to) {
  JobRecord& job = *static_cast<JobRecord*>(cookie);
  if (HoldsWideSamples(job.source)) SwapSampleBytesRows(job.source, from, to);
}

// Destination rows [0, rows) are final: their 16-bit samples go into the
// stored byte order, then an encoder following them may read them.
void FinishDestinationRows(void* cookie, int32_t rows) {
  JobRecord& job = *static_cast<JobRecord*>(cookie);
  if (rows <= job.rowsFinished) return;
  if (job.bytesPerPixel > 4) SwapSampleBytesRows(job.destination, job.rowsFinished, rows);
  job.rowsFinished = rows;
  job.destinationGate.Publish(rows);
}

// The rows, then the source back in its stored byte order once every row
// of it is drawn (the resampler may not have needed the last ones).
void ResampleRows(JobRecord& job, bool wideSource) {
  RunPreparedResample(job.resampling.get(), FinishDestinationRows, &job);
  if (wideSource) {
    if (job.drawnAhead) job.sourceGate.WaitFor(HeightOf(job.source->portRect));
    SwapSampleBytes(job.source);
  }
  job.destinationGate.Close();
}

// Everything of the resampling that can fail happens here, before any row.
// With encodeAhead the rows are then filtered on another thread, which the
// encoder follows through the destination's gate; otherwise here.
int32_t Resample(JobRecord& job, int32_t horizontalEdge, int32_t verticalEdge, int32_t kernel,
                 bool encodeAhead) {
  // The resampler reads and writes 16-bit samples in the machine's order.
  const bool wideSource = HoldsWideSamples(job.source);
  if (wideSource && !job.drawnAhead) SwapSampleBytes(job.source);  // else done as it is drawn
  if (const int32_t err = PrepareResampleGWorld(job.source, job.destination, horizontalEdge,
                                                verticalEdge, kernel, &job.resampling)) {
    return err;
  }
  if (encodeAhead) {
    job.destination->drawGate = &job.destinationGate;
    try {
      job.resampler = std::thread(ResampleRows, std::ref(job), wideSource);
      return noErr;
    } catch (const std::system_error&) {
      job.destination->drawGate = nullptr;  // no thread to spare
    }
  }
  ResampleRows(job, wideSource);
  return noErr;
}

// Waits for rows resampled on another thread; the buffer is whole after.
void FinishResampling(JobRecord& job) {
  if (job.resampler.joinable()) job.resampler.join();
  if (job.destination != nullptr) job.destination->drawGate = nullptr;
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
  // Without progress lines nothing shows when the drawing ends, so the
  // resampler may follow it row by row on another core.
  const bool drawAhead = jobOverlap.load() && !ShowProgress() && !Process().trace;
  job.sourceGate.SetPrepare(PrepareSourceRows, &job);
  const int32_t read =
      drawAhead ? StartImport(inputPath, &job.source, job.userData, &job.sourceGate, &job.ahead)
                : ImportImage(inputPath, &job.source, job.userData);
  if (read != noErr) return read;
  job.drawnAhead = job.ahead != nullptr;
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
    return FinishReading(job, err);
  }

  SetStage(kStageResampling);
  if (Process().trace) {
    std::fprintf(stderr, "Resizing (%d, %d, %d)\n", horizontalEdge, verticalEdge, kernel);
  }
  // Turning needs the whole image; else the encoder may follow the rows.
  const int32_t quarterTurns = QuarterTurns(rotation);
  const bool encodeAhead =
      jobOverlap.load() && quarterTurns == 0 && ExportEncodesInBands(exportSettings);
  const int32_t resampled = Resample(job, horizontalEdge, verticalEdge, kernel, encodeAhead);
  if (resampled != noErr) return FinishReading(job, resampled);
  // An encoder that follows the rows may start before the drawing ends: it
  // asks for the reading's result before it writes the file.
  if (!encodeAhead) {
    if (const int32_t err = FinishReading(job, noErr)) return err;
  }

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
  const int32_t written =
      ExportImage(job.destination, settings, job.userData, outputPath, WaitForReading, &job);
  FinishResampling(job);
  return FinishReading(job, written);
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
