#include "pipeline/pipeline.h"

#include <algorithm>
#include <atomic>
#include <utility>

#include "base/large_block.h"
#include "base/memory_limit.h"
#include "base/start_thread.h"
#include "base/usable_cores.h"
#include "imageio/export.h"
#include "pipeline/cut_window.h"
#include "pipeline/frame_stages.h"
#include "pipeline/gain_map.h"
#include "pipeline/pipeline_seam.h"
#include "platform/graphics_import.h"

namespace {

// Rows the destination ring holds: the encoder takes up to
// RowBand::kRowsInFlight at once while the resampler writes the next ones.
constexpr int32_t kDestinationRingRows = 4 * RowBand::kRowsInFlight;
// Rows a source ring holds beyond those the resize needs at once: what the
// drawer holds unpublished, what the resampler lets go of in one batch, and
// room for the drawer to run ahead, so that neither waits at every row.
constexpr int32_t kSourceRingSlack = 8 * RowBand::kRowsInFlight;

// A thread's work, whose exceptions (none are expected: the libraries'
// are caught where they are called) end at the thread's edge as a stop.
template <class Work>
int32_t GuardedThreadWork(RowBand* band, RowBand::Side side, Work work) {
  try {
    return work();
  } catch (...) {
    band->Stop(memFullErr, side);
    return memFullErr;
  }
}

// What the resampler makes for a request: for a window placed later, the
// whole full resize, unsharpened, since the window is sharpened once cut,
// with its own edges, as a resize of the window alone sharpens it.
ResizeRequest MadeRequest(const ResizeRequest& request) {
  if (request.windowRule == CropRule::kCentre) return request;
  ResizeRequest whole = request;
  SetWholeResize(&whole.geometry, request.geometry.fullWidth, request.geometry.fullHeight);
  whole.sharpen = 0;
  return whole;
}

std::atomic<int64_t> threadsStarted{0};

// A stage's thread, counted for the seam.
template <class Work>
bool StartStageThread(std::thread* thread, Work work) {
  if (!StartThread(thread, std::move(work))) return false;
  threadsStarted.fetch_add(1, std::memory_order_relaxed);
  return true;
}

}  // namespace

int64_t PipelineThreadsStarted() {
  return threadsStarted.load(std::memory_order_relaxed);
}

Pipeline::Output::~Output() {
  destination.Clear();
  if (destinationBuffer != nullptr) DisposeGWorld(destinationBuffer);
  if (turnBuffer != nullptr) DisposeGWorld(turnBuffer);
}

Pipeline::~Pipeline() {
  // Only a job that ended early leaves a thread running.
  for (const auto& out : outputs_) {
    if (drawer_.joinable() || out->resampler.joinable())
      out->destination.Stop(paramErr, RowBand::kReader);
  }
  for (const auto& out : outputs_) StopResampling(*out);
  source_.ReleaseEveryReader();
  if (drawer_.joinable()) drawer_.join();
  source_.Clear();
  outputs_.clear();
  if (sourceBuffer_ != nullptr) DisposeGWorld(sourceBuffer_);
}

// The output's resize of the source as it will reach the resampler: its
// rows in storedFormat, or converted from it to working samples as they are
// drawn. Prepared once, unless the source's buffer could not be had in that
// format.
void Pipeline::PrepareResize(Output& out, OSType storedFormat, bool converted) {
  if (out.resizeResult != noErr) return;
  if (out.resize != nullptr && storedFormat == out.preparedFormat &&
      converted == out.sourceConverted) {
    return;
  }
  const ResizeRequest& r = out.request;
  const OSType format =
      converted ? WorkingFormat(r.space, storedFormat, r.destinationFormat) : storedFormat;
  const ImageShape from{sourceBounds_.right, sourceBounds_.bottom, format};
  out.resizeResult = PrepareResample(
      ResampleRequestFor(MadeRequest(r), from,
                         converted ? SourceSamples::kWorking : SourceSamples::kStored),
      &out.resize);
  out.preparedFormat = storedFormat;
  out.sourceConverted = converted;
}

void Pipeline::PrepareResizes(OSType storedFormat, bool converted) {
  for (const auto& out : outputs_) PrepareResize(*out, storedFormat, converted);
}

// Whether a ring's rows in format are converted to working samples as they
// are drawn (linear light, premultiplied alpha), rather than by the resize.
bool Pipeline::ConvertsRingRows(OSType format) const {
  return !StoredPinchMeans() &&
         WorkingFormat(Shared().space, format, Shared().destinationFormat) != 0;
}

// Whether the source is drawn into a ring the resizes follow (in turn, a
// ring as tall as the image, drawn before they start).
bool Pipeline::ReadsRing() const {
  return (overlap_ || inTurn_) && Shared().geometry.orientation == 1 &&
         GraphicsImportDrawsRowsInOrder(import_.importer) && SourceMayBeRing(Shared().verticalEdge);
}

// On one usable core the stages' threads would only take turns on it,
// handing rows to each other at a cost (a few percent of a small JPEG's
// time) and overlapping nothing. There a job runs its stages one after
// another when every buffer it then holds whole is small enough to come
// from the heap, which hands the previous job's blocks out again; a larger
// image streams, as fresh pages for the whole of it would cost more than
// the hand-offs (base/large_block.h). With more cores the threads stay,
// also in a batch with a job for every core: while one job waits for its
// file to reach the disk, the other's stages spread over both cores.
bool Pipeline::RunsInTurn() const {
  if (UsableCores() > 1) return false;
  const auto fromHeap = [](int64_t width, int64_t height, OSType format) {
    return width * height * (PixelSizeOfFormat(format) / 8) < int64_t(kMappedBlockBytes);
  };
  // A ring converted to working samples holds them, wider than stored ones.
  OSType held = import_.format;
  if (ConvertsRingRows(held))
    held = WorkingFormat(Shared().space, held, Shared().destinationFormat);
  if (!fromHeap(sourceBounds_.right, sourceBounds_.bottom, held)) return false;
  return std::all_of(outputs_.begin(), outputs_.end(), [&](const auto& out) {
    return fromHeap(out->Geometry().windowWidth, out->Geometry().windowHeight,
                    out->request.destinationFormat);
  });
}

// Linear light and premultiplied alpha: a ring's rows are taken to 16-bit
// working samples as they are prepared, after any other preparation, by
// whichever thread is idle. A whole source is converted by the resampler,
// row by row, so that it takes no more memory.
void Pipeline::ConvertRingRows(OSType format) {
  source_.SetPrepare(
      [next = source_.GetPrepare(), space = Shared().space, format,
       to = Shared().destinationFormat](const RowBand& band, int64_t from, int64_t end) {
        if (next) next(band, from, end);
        for (int64_t y = from; y < end; ++y) {
          ConvertToWorking(space, format, to, band.RowAddress(y), band.Width());
        }
      });
}

// A vertical pinch turns the rows beyond the poles by half the width: of an
// odd width, each pixel of such a row is the mean of two pixels as read,
// taken before any conversion to working samples. A ring of such rows keeps
// the samples as read, and the resize converts them, as it does a whole
// source's.
bool Pipeline::StoredPinchMeans() const {
  return (Shared().verticalEdge & kEdgeTreatmentMask) == kEdgePinch && sourceBounds_.right % 2 != 0;
}

// A ring just large enough for every resize, or the whole image; a 16-bit
// buffer that cannot be had is silently replaced by a 32-bit one.
int32_t Pipeline::AllocateSource(bool ring) {
  const int32_t width = sourceBounds_.right;
  const int32_t height = sourceBounds_.bottom;
  int32_t result = memFullErr;
  bool convert = false;
  for (OSType format : {import_.format, OSType(k32ARGBPixelFormat)}) {
    if (ring) {
      int32_t held = 0;
      for (const auto& out : outputs_) held = std::max(held, SourceRowsHeld(out->resize.get()));
      const int32_t rows = inTurn_ ? height : held + kSourceRingSlack;
      convert = ConvertsRingRows(format);
      const OSType working =
          convert ? WorkingFormat(Shared().space, format, Shared().destinationFormat) : 0;
      result = source_.AllocateRing(width, height, format, rows, PixelSizeOfFormat(working) / 8);
    } else {
      result = QTNewGWorld(&sourceBuffer_, format, &sourceBounds_, nullptr, nullptr,
                           kNativeEndianPixMap);
      if (result == noErr) source_.AttachWhole(PixelViewOf(sourceBuffer_), false);
    }
    if (result == noErr) break;
  }
  if (result != noErr) return result;
  source_.SetReaders(Outputs());
  SwapWideRows(&source_);
  if (convert) ConvertRingRows(source_.PixelFormat());
  // Prepared again only for a buffer in a format other than the preferred.
  PrepareResizes(source_.PixelFormat(), convert);
  return noErr;
}

// The reference reading: the whole image, drawn here, into a buffer of its
// own that the resizes then read.
int32_t Pipeline::DrawHere() {
  readingKnown_ = true;
  readResult_ = DrawWholeImage(import_, true, &sourceBuffer_);
  if (readResult_ != noErr) return readResult_;
  source_.AttachWhole(PixelViewOf(sourceBuffer_), true);
  PrepareResizes(sourceBuffer_->pixMap.pixelFormat, false);
  return noErr;
}

// In turn, the rows that the importer draws in order go to a ring that
// holds them all, drawn here before any resize reads it: its rows need no
// clearing first, as a whole buffer's do, since a ring never publishes a
// row that was not drawn.
int32_t Pipeline::DrawRingHere() {
  readingKnown_ = true;
  if (const int32_t err = AllocateSource(true)) return err;
  readResult_ = GuardedThreadWork(&source_, RowBand::kWriter, [this] {
    return GraphicsImportDrawRows(import_.importer, &source_);
  });
  return readResult_;
}

// The source drawn whole as it is stored, then put upright: where it lies
// when the sides stay, else into a buffer of the turned size, which the
// resizes read.
int32_t Pipeline::DrawUpright() {
  readingKnown_ = true;
  GWorldPtr stored = nullptr;
  readResult_ = DrawWholeImage(import_, true, &stored);
  if (readResult_ != noErr) return readResult_;
  const OSType format = stored->pixMap.pixelFormat;
  PrepareResizes(format, false);
  const int32_t orientation = Shared().geometry.orientation;
  if (UprightInPlace(orientation)) {
    PutUpright(PixelViewOf(stored), {}, orientation);
    sourceBuffer_ = stored;
    source_.AttachWhole(PixelViewOf(sourceBuffer_), true);
    return noErr;
  }
  readResult_ =
      QTNewGWorld(&sourceBuffer_, format, &sourceBounds_, nullptr, nullptr, kNativeEndianPixMap);
  if (readResult_ == noErr) {
    PutUpright(PixelViewOf(stored), PixelViewOf(sourceBuffer_), orientation);
    // Its samples are in native order already.
    source_.AttachWhole(PixelViewOf(sourceBuffer_), true);
  }
  DisposeGWorld(stored);
  return readResult_;
}

void Pipeline::SetDeadline(const Deadline& deadline) {
  deadline_ = deadline;
  source_.SetDeadline(deadline);
}

int32_t DrawThreads(int32_t imagesAtOnce) {
  return std::clamp(UsableCores() / std::max(imagesAtOnce, 1), 1, 2);
}

int32_t Pipeline::StartReading(const std::string& path, UserData ud,
                               std::span<const ResizeRequest> outputs) {
  for (const ResizeRequest& request : outputs) {
    outputs_.push_back(std::make_unique<Output>());
    outputs_.back()->request = request;
    outputs_.back()->destination.SetDeadline(deadline_);
  }
  if (outputs_.empty()) return paramErr;
  if (const int32_t err = OpenImport(path, &import_)) return err;
  import_.deadline = deadline_;
  if (Shared().geometry.decodeScale != 1) {
    if (const int32_t err = SetDrawScale(&import_, Shared().geometry.decodeScale)) return err;
  }
  GraphicsImportSetDrawThreads(import_.importer, drawThreads_);
  sourceBounds_ = import_.bounds;
  if (OrientationSwapsSides(Shared().geometry.orientation)) {
    MacSetRect(&sourceBounds_, 0, 0, import_.bounds.bottom, import_.bounds.right);
  }
  // Read before the drawing starts, so that the file's bytes are only ever
  // read by one thread at a time.
  if (ud != nullptr) GraphicsImportGetMetaData(import_.importer, ud);
  // With metadata the profile travels with the samples, untouched.
  GraphicsImportSetColorMatching(import_.importer, ud == nullptr || Shared().matchColour);
  // Its failure is the resampling's, reported later. A destination that
  // cannot be had fails first, so the resize is not even sized for it: its
  // tables alone could take minutes.
  // The way the rows will come is decided first, so that each resize is
  // prepared once, for them.
  if (overlap_ && RunsInTurn()) {
    overlap_ = false;
    inTurn_ = true;
  }
  const bool ring = ReadsRing();
  int32_t resizeResult = noErr;
  for (const auto& out : outputs_) {
    if (DestinationFits(*out)) {
      PrepareResize(*out, import_.format, ring && ConvertsRingRows(import_.format));
    } else {
      out->resizeResult = memFullErr;
    }
    if (resizeResult == noErr) resizeResult = out->resizeResult;
  }
  // A resize that cannot be done fails the job, whatever the pixels hold:
  // they are not drawn at all, overlapped or in turn, since a drawing the
  // failure stopped half-way would leave the reading's outcome to chance.
  // Every output fails with it, as none of them will have rows to read.
  if (resizeResult != noErr) {
    for (const auto& out : outputs_) {
      if (out->resizeResult == noErr) out->resizeResult = resizeResult;
    }
    readingKnown_ = true;
    return noErr;
  }

  if (Shared().geometry.orientation != 1) return DrawUpright();
  if (inTurn_ && ring) return DrawRingHere();
  if (!overlap_) return DrawHere();
  if (const int32_t err = AllocateSource(ring)) return err;
  if (StartStageThread(&drawer_, [this] {
        readResult_ = GuardedThreadWork(&source_, RowBand::kWriter, [this] {
          return GraphicsImportDrawRows(import_.importer, &source_);
        });
      })) {
    return noErr;
  }
  // No thread to spare: the whole image, drawn here.
  source_.Clear();
  if (sourceBuffer_ != nullptr) DisposeGWorld(sourceBuffer_);
  sourceBuffer_ = nullptr;
  return DrawHere();
}

void Pipeline::StopResampling(Output& out) {
  // The encoder is done: a resampler waiting for room must not wait for ever.
  out.destination.Release(RowBand::kAllRows);
  if (out.resampler.joinable()) out.resampler.join();
}

void Pipeline::WaitForDrawer() {
  std::lock_guard<std::mutex> lock(drawerJoin_);
  if (drawer_.joinable()) drawer_.join();
  readingKnown_ = true;
}

int32_t Pipeline::FinishReading(int32_t output) {
  StopResampling(*outputs_[size_t(output)]);
  // This output reads the source no more: a drawer waiting for room goes
  // on as far as the others let it.
  source_.Release(RowBand::kAllRows, output);
  WaitForDrawer();
  return readResult_;
}

std::vector<std::string> Pipeline::ReadingWarnings() const {
  std::vector<std::string> warnings;
  if (readingKnown_ && import_.importer != nullptr) {
    GraphicsImportGetWarnings(import_.importer, &warnings);
  }
  return warnings;
}

std::string Pipeline::ConvertedColour() const {
  std::string description;
  if (readingKnown_ && import_.importer != nullptr) {
    GraphicsImportGetConvertedColour(import_.importer, &description);
  }
  return description;
}

// The resampler lets go of the source itself once it has stopped, so that
// the drawer never overwrites a row it is still reading.
void Pipeline::Stop(int32_t output, int32_t err) {
  outputs_[size_t(output)]->destination.Stop(err, RowBand::kReader);
}

void Pipeline::Abandon(int32_t output, int32_t err) {
  Stop(output, err);
  source_.Release(RowBand::kAllRows, output);
}

bool Pipeline::DestinationStreams(int32_t output) const {
  return outputs_[size_t(output)]->destinationStreams;
}

Rect Pipeline::Made(const Output& out) {
  const OutputGeometry& g = MadeRequest(out.request).geometry;
  Rect bounds;
  MacSetRect(&bounds, 0, 0, g.windowWidth, g.windowHeight);
  return bounds;
}

int32_t Pipeline::DestinationRows(const Output& out) const {
  return overlap_ && out.Geometry().quarterTurns == 0 && !out.request.keepRows &&
                 !out.PlacesWindow()
             ? kDestinationRingRows
             : Made(out).bottom;
}

bool Pipeline::DestinationFits(const Output& out) const {
  const uint64_t rowBytes =
      uint64_t(Made(out).right) * uint64_t(PixelSizeOfFormat(out.request.destinationFormat) / 8);
  return WorkingBytesFit(rowBytes, uint64_t(std::min(DestinationRows(out), Made(out).bottom)));
}

int32_t Pipeline::AllocateWholeDestination(Output& out) {
  const Rect bounds = Made(out);
  if (const int32_t err = QTNewGWorld(&out.destinationBuffer, out.request.destinationFormat,
                                      &bounds, nullptr, nullptr, kNativeEndianPixMap)) {
    return err;
  }
  out.destination.AttachWhole(PixelViewOf(out.destinationBuffer), false);
  // A window still to be placed is finished once cut.
  return out.PlacesWindow() ? noErr : FinishRows(out);
}

int32_t Pipeline::AllocateDestination(int32_t output) {
  Output& out = *outputs_[size_t(output)];
  if (DestinationRows(out) >= Made(out).bottom) return AllocateWholeDestination(out);
  if (const int32_t err =
          out.destination.AllocateRing(out.Geometry().windowWidth, out.Geometry().windowHeight,
                                       out.request.destinationFormat, DestinationRows(out))) {
    return err;
  }
  out.destinationStreams = true;
  return FinishRows(out);
}

int32_t Pipeline::FinishRows(Output& out) {
  PlaceholderSums* sums = nullptr;
  if (out.request.placeholder) {
    out.placeholder = std::make_unique<PlaceholderSums>();
    const OutputGeometry& g = out.Geometry();
    if (const OSErr err =
            out.placeholder->Prepare(g.windowWidth, g.windowHeight, out.request.destinationFormat,
                                     g.quarterTurns, out.request.writtenDepth)) {
      return err;
    }
    sums = out.placeholder.get();
  }
  FinishDestinationRows(&out.destination, out.request.flattenOnto, sums);
  return noErr;
}

Placeholder Pipeline::PlaceholderOf(int32_t output) const {
  const Output& out = *outputs_[size_t(output)];
  return out.placeholder != nullptr ? out.placeholder->Result() : Placeholder{};
}

int32_t Pipeline::Resample(int32_t output) {
  Output& out = *outputs_[size_t(output)];
  if (out.resizeResult != noErr) return out.resizeResult;
  if (out.destinationStreams) {
    if (StartStageThread(&out.resampler, [this, &out, output] {
          GuardedThreadWork(&out.destination, RowBand::kWriter, [this, &out, output] {
            RunPreparedResample(out.resize.get(), &source_, &out.destination, output);
            return noErr;
          });
        })) {
      return noErr;
    }
    // No thread to spare: the whole destination, filled here.
    out.destination.Clear();
    out.destinationStreams = false;
    if (const int32_t err = AllocateWholeDestination(out)) return err;
  }
  RunPreparedResample(out.resize.get(), &source_, &out.destination, output);
  // A deadline that passed while the rows were made stopped them: the rows
  // after it were never written.
  return out.destination.Stopped() ? out.destination.StopError() : noErr;
}

int32_t Pipeline::CutWindow(int32_t output) {
  Output& out = *outputs_[size_t(output)];
  OutputGeometry& g = out.request.geometry;
  const PixelView full = PixelViewOf(out.destinationBuffer);
  const WindowPlace place = PlaceOnResize(full, g, out.request.windowRule);
  MoveWindow(&g, place.left, place.top);

  // The buffer shrinks to the window, keeping its memory and pixels.
  Rect bounds;
  MacSetRect(&bounds, 0, 0, g.windowWidth, g.windowHeight);
  if (QTUpdateGWorld(&out.destinationBuffer, out.request.destinationFormat, &bounds, nullptr,
                     nullptr, 0) &
      gwFlagErr) {
    return int32_t(gwFlagErr);
  }
  const PixelView window = PixelViewOf(out.destinationBuffer);
  CutInPlace(full, g, out.request.sharpen, window);
  // The window's rows go through the finish as the resampler's would.
  out.destination.Clear();
  out.destination.AttachWhole(window, false);
  if (const int32_t err = FinishRows(out)) return err;
  for (int32_t y = 0; y < g.windowHeight;) {
    const int32_t end = std::min(g.windowHeight, y + RowBand::kRowsInFlight);
    for (; y < end; ++y) out.destination.RowToWrite(y);
    if (const int32_t err = out.destination.Publish(end)) return err;
  }
  out.destination.Close();
  return out.destination.Stopped() ? out.destination.StopError() : noErr;
}

int32_t Pipeline::ReshapeForTurn(int32_t output, Rect* turnedBounds) {
  Output& out = *outputs_[size_t(output)];
  MacSetRect(turnedBounds, 0, 0, out.Geometry().windowHeight, out.Geometry().windowWidth);
  const OSType format = out.request.destinationFormat;
  if (Outputs() > 1) {
    // Other outputs may still read the source: the turn has a buffer of its own.
    return QTNewGWorld(&out.turnBuffer, format, turnedBounds, nullptr, nullptr,
                       kNativeEndianPixMap) == noErr
               ? noErr
               : int32_t(gwFlagErr);
  }
  // The source is no longer needed: its buffer, or its memory, is reused.
  source_.Clear();
  if (sourceBuffer_ != nullptr) {
    if (QTUpdateGWorld(&sourceBuffer_, format, turnedBounds, nullptr, nullptr, 0) & gwFlagErr) {
      return int32_t(gwFlagErr);
    }
  } else if (QTNewGWorld(&sourceBuffer_, format, turnedBounds, nullptr, nullptr,
                         kNativeEndianPixMap) != noErr) {
    return int32_t(gwFlagErr);
  }
  return noErr;
}

void Pipeline::Turn(int32_t output) {
  Output& out = *outputs_[size_t(output)];
  if (!Turned(out.Geometry())) {
    const PixelView window = PixelViewOf(out.destinationBuffer);
    TurnPicture(window, window, out.Geometry().quarterTurns);
    return;
  }
  GWorldPtr& turned = Outputs() > 1 ? out.turnBuffer : sourceBuffer_;
  TurnPicture(PixelViewOf(out.destinationBuffer), PixelViewOf(turned), out.Geometry().quarterTurns);
  std::swap(turned, out.destinationBuffer);
}

int32_t Pipeline::Export(int32_t output, const ExportSettings& settings, UserData ud,
                         const std::string& outputPath, std::function<OSErr()> beforeWrite) {
  Output& out = *outputs_[size_t(output)];
  if (ud != nullptr) FitGainMap(ud, out.request, settings);
  if (out.destinationStreams) {
    const int32_t result =
        ExportRows(&out.destination, settings, ud, outputPath, std::move(beforeWrite));
    // A failed encoder stops the stages before it; however it ended, the
    // resampler must not wait for it.
    if (result != noErr) Stop(output, result);
    StopResampling(out);
    return result;
  }
  return ExportImage(out.destinationBuffer, settings, ud, outputPath);
}

GWorldPtr Pipeline::KeptPicture(int32_t output) const {
  const Output& out = *outputs_[size_t(output)];
  return out.request.keepRows ? out.destinationBuffer : nullptr;
}
