// The stages of one image job and how they overlap on the machine's cores.
// The source is drawn on a thread of its own into a band of rows that the
// resampler follows; the resampler fills a band of destination rows, on a
// thread of its own, that the encoder follows on the job's thread; the
// encoded file goes to disk as it is made. A band is a ring of a few rows
// where its stages allow, else a whole buffer:
//   source: a ring when the importer draws its rows once from the top and
//     the resize reads them in order (not for vertical wrapping, which needs
//     the last rows first); else the whole image.
//   destination: a ring unless the image is turned, which needs it whole.
// Without overlap every band is a whole buffer and the stages run one after
// another on the job's thread: the reference for every other arrangement,
// which gives the same bytes. On one core a small image runs that way too
// (Pipeline::RunsInTurn). The job (driver/job/image_job.cpp)
// calls the stages in order and decides what is printed. The stages' work on pixels (upright, the
// resize's preparation, the finish, the turn) is pipeline/frame_stages.h's, which an animation's
// frames go through too.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "base/deadline.h"
#include "base/output_geometry.h"
#include "imageio/export_settings.h"
#include "imageio/import.h"
#include "pipeline/placeholder.h"
#include "pipeline/resize_request.h"
#include "platform/graphics_import.h"
#include "platform/gworld.h"
#include "platform/user_data.h"
#include "resample/resample.h"
#include "stream/row_band.h"

// The threads one image's drawing may keep busy while imagesAtOnce images
// are read at the same time: the usable cores (base/usable_cores.h) each
// has, at most two (a JPEG with
// restart markers decodes in bands on two, codecs/jpeg/jpeg_bands.h).
// A batch running as many jobs as there are cores draws each image on one
// thread, so that the jobs keep their throughput; a single image uses
// both cores. Without overlap the drawing is the serial reference.
int32_t DrawThreads(int32_t imagesAtOnce);

// Every output of a job comes from one reading of its source: each has
// its own resize, destination rows, resampler thread, turn and encoder, and
// the source band has one reader for each (RowBand::SetReaders), so that a
// ring of source rows is enough for all of them. The outputs' steps run
// side by side, each on a thread of its own; with one output they run as
// they always have. Outputs are numbered from 0, in the order of the
// requests.
class Pipeline {
 public:
  // imagesAtOnce: the images this process reads at the same time (a
  // batch's jobs), which share the cores (DrawThreads).
  Pipeline(bool overlap, int32_t imagesAtOnce)
      : overlap_(overlap), drawThreads_(overlap ? DrawThreads(imagesAtOnce) : 1) {}
  // Every thread ends before the bands it uses go.
  ~Pipeline();
  Pipeline(const Pipeline&) = delete;
  Pipeline& operator=(const Pipeline&) = delete;

  // The job's deadline, set before the reading starts: the drawing and
  // every resize stop with kTimedOutErr at their next rows once it passes.
  void SetDeadline(const Deadline& deadline);

  // Reading: opens the input, adds its metadata to ud (when given), and
  // starts drawing its pixels for every output, one request each (they
  // differ in their geometry's resize, window and turns alone). A failure
  // answered here is the reading's; when the drawing goes on elsewhere, its
  // result comes from FinishReading.
  int32_t StartReading(const std::string& path, UserData ud,
                       std::span<const ResizeRequest> outputs);
  int32_t Outputs() const { return int32_t(outputs_.size()); }
  // Whether the stages run beside each other on threads of their own;
  // known once the reading has started. Else the outputs' steps, too, run
  // one after another on the job's thread.
  bool Overlaps() const { return overlap_; }
  // The bounds the resize starts from: upright ones when the source is put
  // upright, of the size decoded at the geometry's decode scale.
  Rect SourceBounds() const { return sourceBounds_; }
  // Whether the importer draws the picture upright itself (HEIF, JPEG XL),
  // whatever orientation its metadata states.
  bool SourceDrawnUpright() const { return GraphicsImportDrawsUpright(import_.importer); }
  // Whether the reading has ended (it did on this thread).
  bool ReadingKnown() const { return readingKnown_; }
  // Ends the output's stages still going on (its encoder must be done
  // reading), waits for the drawing to end and answers the reading's
  // result.
  int32_t FinishReading(int32_t output);
  // A later step of the output failed with err: its resampler and encoder
  // end at their next band of rows, and the source no longer waits for
  // it. The drawer only decodes on, neither waiting for room nor preparing
  // rows, so that its outcome, which outranks err, is what it would be had
  // the image been drawn first.
  void Stop(int32_t output, int32_t err);
  // An output whose steps will never run (no thread could be had for
  // them): it fails with err, and the source no longer waits for it.
  void Abandon(int32_t output, int32_t err);
  // Once the reading has ended: its decoder's warnings, and the description
  // of the colours it converted to sRGB from (empty when drawn as stored).
  std::vector<std::string> ReadingWarnings() const;
  std::string ConvertedColour() const;

  // The output's destination at its requested size and format.
  int32_t AllocateDestination(int32_t output);
  // Whether the output's encoder follows its resampler's rows, so that the
  // reading's result is known only once the file is encoded.
  bool DestinationStreams(int32_t output) const;
  // Resizes, or starts resizing on another thread when the destination
  // streams. Fails only before the first row.
  int32_t Resample(int32_t output);

  // Once a request with a window rule is resized whole (never streamed):
  // its window placed on the full resize and cut out, as a resize of that
  // window alone would have made it; the request's geometry then holds it.
  int32_t CutWindow(int32_t output);
  const ResizeRequest& Request(int32_t output) const { return outputs_[size_t(output)]->request; }

  // For an odd turn: a buffer of the turned size (the whole source's, when
  // it is the only output); gwFlagErr when it cannot be had. Then the turn.
  int32_t ReshapeForTurn(int32_t output, Rect* turnedBounds);
  void Turn(int32_t output);

  // Fits the gain map that ud carries (pipeline/gain_map.h), then encodes
  // and writes the output's destination. When it streams, beforeWrite is
  // asked once the file is encoded and before it is written.
  int32_t Export(int32_t output, const ExportSettings& settings, UserData ud,
                 const std::string& outputPath, std::function<OSErr()> beforeWrite);
  // The output's finished pixels, once resized and turned, when its
  // request keeps its rows; else nullptr.
  GWorldPtr KeptPicture(int32_t output) const;

  // Once the output is exported, when its request asked for one: its
  // placeholder, from the rows the encoder read.
  Placeholder PlaceholderOf(int32_t output) const;

 private:
  // One output's own stages.
  struct Output {
    Output() = default;
    Output(const Output&) = delete;
    Output& operator=(const Output&) = delete;
    ~Output();
    const OutputGeometry& Geometry() const { return request.geometry; }
    bool PlacesWindow() const { return request.windowRule != CropRule::kCentre; }

    ResizeRequest request;
    PreparedResamplePtr resize;
    int32_t resizeResult = noErr;
    OSType preparedFormat = 0;              // the stored format the resize was prepared for
    bool sourceConverted = false;           // the resize reads working samples
    GWorldPtr destinationBuffer = nullptr;  // the whole destination, when it is whole
    GWorldPtr turnBuffer = nullptr;         // the turned image, beside a source others read
    RowBand destination;
    bool destinationStreams = false;  // a ring the encoder follows
    std::thread resampler;
    std::unique_ptr<PlaceholderSums> placeholder;  // when the request asks
  };

  // What every output shares: the source's orientation and the options.
  const ResizeRequest& Shared() const { return outputs_.front()->request; }
  int32_t AllocateSource(bool ring);
  bool StoredPinchMeans() const;
  // What the resampler makes: the window, or the full resize for a window
  // still to be placed.
  static Rect Made(const Output& out);
  // Rows the destination holds: a ring's, or the height when it is whole.
  int32_t DestinationRows(const Output& out) const;
  int32_t AllocateWholeDestination(Output& out);
  // The destination's finishing steps (FinishDestinationRows).
  int32_t FinishRows(Output& out);
  bool DestinationFits(const Output& out) const;
  void PrepareResize(Output& out, OSType storedFormat, bool converted);
  void PrepareResizes(OSType storedFormat, bool converted);
  bool ConvertsRingRows(OSType format) const;
  bool ReadsRing() const;
  bool RunsInTurn() const;
  void ConvertRingRows(OSType format);
  int32_t DrawHere();
  int32_t DrawRingHere();
  int32_t DrawUpright();
  void StopResampling(Output& out);
  void WaitForDrawer();

  bool overlap_;         // asked for, until the reading starts; then as decided
  bool inTurn_ = false;  // RunsInTurn: no overlap, though it was asked for
  Deadline deadline_;
  const int32_t drawThreads_;  // for the importer's drawing
  std::vector<std::unique_ptr<Output>> outputs_;
  OpenedImport import_;
  Rect sourceBounds_;

  GWorldPtr sourceBuffer_ = nullptr;  // the whole source, when it is whole
  RowBand source_;
  std::thread drawer_;
  std::mutex drawerJoin_;       // outputs finish on threads of their own
  int32_t readResult_ = noErr;  // the drawer's; read once it has ended
  bool readingKnown_ = false;
};
