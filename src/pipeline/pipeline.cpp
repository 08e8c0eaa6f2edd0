#include "pipeline/pipeline.h"

#include <system_error>
#include <utility>

#include "base/memory_limit.h"
#include "imageio/export.h"
#include "imageio/swap_sample_bytes.h"
#include "pipeline/flatten_rows.h"
#include "pipeline/gain_map.h"
#include "platform/graphics_import.h"
#include "resample/reorient.h"
#include "resample/rotate.h"

namespace {

// Rows the destination ring holds: the encoder takes up to
// RowBand::kRowsInFlight at once while the resampler writes the next ones.
constexpr int32_t kDestinationRingRows = 4 * RowBand::kRowsInFlight;
// Rows a source ring holds beyond those the resize needs at once: what the
// drawer holds unpublished, what the resampler lets go of in one batch, and
// room for the drawer to run ahead, so that neither waits at every row.
constexpr int32_t kSourceRingSlack = 8 * RowBand::kRowsInFlight;

bool HoldsWideSamples(const RowBand& rows) {
  return rows.PixelSize() > 32;
}

// The resampler works on 16-bit samples in the machine's order; the stored
// order is most significant byte first. Rows are turned after they are
// published and before any reader sees them, by whichever side is idle.
void SwapWideRows(RowBand* rows) {
  if (HoldsWideSamples(*rows)) rows->SetPrepare(SwapSampleBytesRows);
}

// The destination's rows as the encoder reads them: transparency flattened
// onto the background first, on the machine's samples, then 16-bit samples
// put in the stored order.
void PrepareDestinationRows(RowBand* rows, int32_t flattenOnto) {
  SwapWideRows(rows);
  if (flattenOnto < 0 || !FlattensFormat(rows->PixelFormat())) return;
  rows->SetPrepare([next = rows->GetPrepare(), rgb = uint32_t(flattenOnto)](
                       const RowBand& band, int64_t from, int64_t end) {
    for (int64_t y = from; y < end; ++y) {
      FlattenRow(band.PixelFormat(), rgb, band.RowAddress(y), band.Width());
    }
    if (next) next(band, from, end);
  });
}

// Starts fn on a thread of its own; false when no thread can be had.
template <class Fn>
bool StartThread(std::thread* thread, Fn fn) {
  try {
    *thread = std::thread(std::move(fn));
  } catch (const std::system_error&) {
    return false;
  }
  return true;
}

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

}  // namespace

Pipeline::~Pipeline() {
  // Only a job that ended early leaves a thread running.
  if (drawer_.joinable() || resampler_.joinable()) Stop(paramErr);
  StopResampling();
  source_.Release(RowBand::kAllRows);
  if (drawer_.joinable()) drawer_.join();
  source_.Clear();
  destination_.Clear();
  if (sourceBuffer_ != nullptr) DisposeGWorld(sourceBuffer_);
  if (destinationBuffer_ != nullptr) DisposeGWorld(destinationBuffer_);
}

// The resize of the source as it will reach the resampler: its rows in
// storedFormat, or converted from it to working samples as they are drawn.
// Prepared once, unless the source's buffer could not be had in that format.
void Pipeline::PrepareResize(OSType storedFormat, bool converted) {
  if (resize_ != nullptr && storedFormat == preparedFormat_ && converted == sourceConverted_) {
    return;
  }
  const OSType format =
      converted ? WorkingFormat(request_.space, storedFormat, request_.destinationFormat)
                : storedFormat;
  const ImageShape from{sourceBounds_.right, sourceBounds_.bottom, format};
  const OutputGeometry& g = Geometry();
  const ImageShape to{g.fullWidth, g.fullHeight, request_.destinationFormat};
  const OutputWindow window{g.windowLeft, g.windowTop, g.windowWidth, g.windowHeight};
  resizeResult_ = PrepareResampleWindow(
      from, to, window, request_.horizontalEdge, request_.verticalEdge, request_.kernel, &resize_,
      request_.space, converted ? SourceSamples::kWorking : SourceSamples::kStored);
  preparedFormat_ = storedFormat;
  sourceConverted_ = converted;
}

// Whether a ring's rows in format are converted to working samples as they
// are drawn (linear light, premultiplied alpha), rather than by the resize.
bool Pipeline::ConvertsRingRows(OSType format) const {
  return !StoredPinchMeans() &&
         WorkingFormat(request_.space, format, request_.destinationFormat) != 0;
}

// Whether the source is drawn into a ring the resize follows.
bool Pipeline::ReadsRing() const {
  return overlap_ && Geometry().orientation == 1 &&
         GraphicsImportDrawsRowsInOrder(import_.importer) && SourceMayBeRing(request_.verticalEdge);
}

// Linear light and premultiplied alpha: a ring's rows are taken to 16-bit
// working samples as they are prepared, after any other preparation, by
// whichever thread is idle. A whole source is converted by the resampler,
// row by row, so that it takes no more memory.
void Pipeline::ConvertRingRows(OSType format) {
  source_.SetPrepare(
      [next = source_.GetPrepare(), space = request_.space, format,
       to = request_.destinationFormat](const RowBand& band, int64_t from, int64_t end) {
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
  return (request_.verticalEdge & kEdgeTreatmentMask) == kEdgePinch && sourceBounds_.right % 2 != 0;
}

// A ring just large enough for the resize, or the whole image; a 16-bit
// buffer that cannot be had is silently replaced by a 32-bit one.
int32_t Pipeline::AllocateSource(bool ring) {
  const int32_t width = sourceBounds_.right;
  const int32_t height = sourceBounds_.bottom;
  int32_t result = memFullErr;
  bool convert = false;
  for (OSType format : {import_.format, OSType(k32ARGBPixelFormat)}) {
    if (ring) {
      const int32_t rows = SourceRowsHeld(resize_.get()) + kSourceRingSlack;
      convert = ConvertsRingRows(format);
      const OSType working =
          convert ? WorkingFormat(request_.space, format, request_.destinationFormat) : 0;
      result = source_.AllocateRing(width, height, format, rows, PixelSizeOfFormat(working) / 8);
    } else {
      result = QTNewGWorld(&sourceBuffer_, format, &sourceBounds_, nullptr, nullptr,
                           kNativeEndianPixMap);
      if (result == noErr) source_.AttachWhole(PixelViewOf(sourceBuffer_), false);
    }
    if (result == noErr) break;
  }
  if (result != noErr) return result;
  SwapWideRows(&source_);
  if (convert) ConvertRingRows(source_.PixelFormat());
  // Prepared again only for a buffer in a format other than the preferred.
  PrepareResize(source_.PixelFormat(), convert);
  return noErr;
}

// The reference reading: the whole image, drawn here, into a buffer of its
// own that the resize then reads.
int32_t Pipeline::DrawHere() {
  readingKnown_ = true;
  readResult_ = DrawWholeImage(import_, true, &sourceBuffer_);
  if (readResult_ != noErr) return readResult_;
  source_.AttachWhole(PixelViewOf(sourceBuffer_), true);
  PrepareResize(sourceBuffer_->pixMap.pixelFormat, false);
  return noErr;
}

// The source drawn whole as it is stored, then put upright: where it lies
// when the sides stay, else into a buffer of the turned size, which the
// resize reads.
int32_t Pipeline::DrawUpright() {
  readingKnown_ = true;
  GWorldPtr stored = nullptr;
  readResult_ = DrawWholeImage(import_, true, &stored);
  if (readResult_ != noErr) return readResult_;
  const OSType format = stored->pixMap.pixelFormat;
  PrepareResize(format, false);
  if (!OrientationSwapsSides(Geometry().orientation)) {
    // Mirrors and the half turn keep the sides: done where it was drawn.
    ReorientInPlace(static_cast<uint8_t*>(stored->pixMap.baseAddr), stored->pixMap.rowBytes,
                    import_.bounds.right, import_.bounds.bottom, stored->pixMap.pixelSize / 8,
                    Geometry().orientation);
    sourceBuffer_ = stored;
    source_.AttachWhole(PixelViewOf(sourceBuffer_), true);
    return noErr;
  }
  readResult_ =
      QTNewGWorld(&sourceBuffer_, format, &sourceBounds_, nullptr, nullptr, kNativeEndianPixMap);
  if (readResult_ == noErr) {
    Reorient(reinterpret_cast<const uint8_t*>(stored->pixMap.baseAddr), stored->pixMap.rowBytes,
             import_.bounds.right, import_.bounds.bottom,
             reinterpret_cast<uint8_t*>(sourceBuffer_->pixMap.baseAddr),
             sourceBuffer_->pixMap.rowBytes, stored->pixMap.pixelSize / 8, Geometry().orientation);
    // Its samples are in native order already.
    source_.AttachWhole(PixelViewOf(sourceBuffer_), true);
  }
  DisposeGWorld(stored);
  return readResult_;
}

int32_t Pipeline::StartReading(const std::string& path, UserData ud, const ResizeRequest& request) {
  request_ = request;
  if (const int32_t err = OpenImport(path, &import_)) return err;
  sourceBounds_ = import_.bounds;
  if (OrientationSwapsSides(Geometry().orientation)) {
    MacSetRect(&sourceBounds_, 0, 0, import_.bounds.bottom, import_.bounds.right);
  }
  // Read before the drawing starts, so that the file's bytes are only ever
  // read by one thread at a time.
  if (ud != nullptr) GraphicsImportGetMetaData(import_.importer, ud);
  // With metadata the profile travels with the samples, untouched.
  GraphicsImportSetColorMatching(import_.importer, ud == nullptr || request_.matchColour);
  // Its failure is the resampling's, reported later. A destination that
  // cannot be had fails first, so the resize is not even sized for it: its
  // tables alone could take minutes.
  // The way the rows will come is decided first, so that the resize is
  // prepared once, for them.
  const bool ring = ReadsRing();
  if (DestinationFits()) {
    PrepareResize(import_.format, ring && ConvertsRingRows(import_.format));
  } else {
    resizeResult_ = memFullErr;
  }
  // A resize that cannot be done fails the job, whatever the pixels hold:
  // they are not drawn at all, overlapped or in turn, since a drawing the
  // failure stopped half-way would leave the reading's outcome to chance.
  if (resizeResult_ != noErr) {
    readingKnown_ = true;
    return noErr;
  }

  if (Geometry().orientation != 1) return DrawUpright();
  if (!overlap_) return DrawHere();
  if (const int32_t err = AllocateSource(ring)) return err;
  if (StartThread(&drawer_, [this] {
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

void Pipeline::StopResampling() {
  // The encoder is done: a resampler waiting for room must not wait for ever.
  destination_.Release(RowBand::kAllRows);
  if (resampler_.joinable()) resampler_.join();
}

int32_t Pipeline::FinishReading() {
  StopResampling();
  // Nobody reads the source any more: a drawer waiting for room goes on.
  source_.Release(RowBand::kAllRows);
  if (drawer_.joinable()) drawer_.join();
  readingKnown_ = true;
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
void Pipeline::Stop(int32_t err) {
  destination_.Stop(err, RowBand::kReader);
}

int32_t Pipeline::DestinationRows() const {
  return overlap_ && Geometry().quarterTurns == 0 ? kDestinationRingRows : Geometry().windowHeight;
}

bool Pipeline::DestinationFits() const {
  const uint64_t rowBytes = uint64_t(Geometry().windowWidth) *
                            uint64_t(PixelSizeOfFormat(request_.destinationFormat) / 8);
  return WorkingBytesFit(rowBytes, uint64_t(std::min(DestinationRows(), Geometry().windowHeight)));
}

int32_t Pipeline::AllocateWholeDestination() {
  Rect bounds;
  MacSetRect(&bounds, 0, 0, Geometry().windowWidth, Geometry().windowHeight);
  if (const int32_t err = QTNewGWorld(&destinationBuffer_, request_.destinationFormat, &bounds,
                                      nullptr, nullptr, kNativeEndianPixMap)) {
    return err;
  }
  destination_.AttachWhole(PixelViewOf(destinationBuffer_), false);
  PrepareDestinationRows(&destination_, request_.flattenOnto);
  return noErr;
}

int32_t Pipeline::AllocateDestination() {
  if (DestinationRows() >= Geometry().windowHeight) return AllocateWholeDestination();
  if (const int32_t err =
          destination_.AllocateRing(Geometry().windowWidth, Geometry().windowHeight,
                                    request_.destinationFormat, DestinationRows())) {
    return err;
  }
  destinationStreams_ = true;
  PrepareDestinationRows(&destination_, request_.flattenOnto);
  return noErr;
}

int32_t Pipeline::Resample() {
  if (resizeResult_ != noErr) return resizeResult_;
  if (DestinationStreams()) {
    if (StartThread(&resampler_, [this] {
          GuardedThreadWork(&destination_, RowBand::kWriter, [this] {
            RunPreparedResample(resize_.get(), &source_, &destination_);
            return noErr;
          });
        })) {
      return noErr;
    }
    // No thread to spare: the whole destination, filled here.
    destination_.Clear();
    destinationStreams_ = false;
    if (const int32_t err = AllocateWholeDestination()) return err;
  }
  RunPreparedResample(resize_.get(), &source_, &destination_);
  return noErr;
}

int32_t Pipeline::ReshapeForTurn(Rect* turnedBounds) {
  MacSetRect(turnedBounds, 0, 0, Geometry().windowHeight, Geometry().windowWidth);
  // The source is no longer needed: its buffer, or its memory, is reused.
  source_.Clear();
  const OSType format = request_.destinationFormat;
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

void Pipeline::Turn() {
  const int32_t width = Geometry().windowWidth;
  const int32_t height = Geometry().windowHeight;
  const int32_t pixelBytes = PixelSizeOfFormat(request_.destinationFormat) / 8;
  GWorld& from = *destinationBuffer_;
  const int32_t fromRowBytes = from.pixMap.rowBytes;
  switch (Geometry().quarterTurns) {
    case 1:
    case 3: {
      // Sizes are the turned image's.
      GWorld& to = *sourceBuffer_;
      (Geometry().quarterTurns == 1 ? Rotate90 : Rotate270)(from.pixMap.baseAddr, fromRowBytes,
                                                            to.pixMap.baseAddr, to.pixMap.rowBytes,
                                                            height, width, pixelBytes);
      std::swap(sourceBuffer_, destinationBuffer_);
      break;
    }
    case 2:
      Rotate180(from.pixMap.baseAddr, fromRowBytes, from.pixMap.baseAddr, fromRowBytes, width,
                height, pixelBytes);
      break;
  }
}

int32_t Pipeline::Export(const ExportSettings& settings, UserData ud, const std::string& outputPath,
                         std::function<OSErr()> beforeWrite) {
  if (ud != nullptr) FitGainMap(ud, request_, settings);
  if (DestinationStreams()) {
    const int32_t result = ExportRows(&destination_, settings, ud, outputPath, beforeWrite);
    // A failed encoder stops the stages before it; however it ended, the
    // resampler must not wait for it.
    if (result != noErr) Stop(result);
    StopResampling();
    return result;
  }
  return ExportImage(destinationBuffer_, settings, ud, outputPath);
}
