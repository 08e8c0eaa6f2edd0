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
// which gives the same bytes. The job (driver/image_job.cpp) calls the
// stages in order and decides what is printed.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "base/output_geometry.h"
#include "imageio/export_settings.h"
#include "imageio/import.h"
#include "platform/graphics_import.h"
#include "platform/gworld.h"
#include "platform/user_data.h"
#include "resample/resample.h"
#include "stream/row_band.h"

struct ResizeRequest {
  // The orientation undone, the resize, the window made and the turns.
  OutputGeometry geometry;
  EdgeMode horizontalEdge = kEdgeDefault;
  EdgeMode verticalEdge = kEdgeDefault;
  KernelKind kernel = kKernelSinc;
  OSType destinationFormat = k32ARGBPixelFormat;
  FilterSpace space;
  // Drawn as sRGB even when the metadata is copied (its profile is not).
  bool matchColour = false;
  // The colour (0xRRGGBB) the resized picture's transparency is flattened
  // onto before it is encoded (pipeline/flatten_rows.h); -1 for none.
  int32_t flattenOnto = -1;
};

class Pipeline {
 public:
  explicit Pipeline(bool overlap) : overlap_(overlap) {}
  // Every thread ends before the bands it uses go.
  ~Pipeline();
  Pipeline(const Pipeline&) = delete;
  Pipeline& operator=(const Pipeline&) = delete;

  // Reading: opens the input, adds its metadata to ud (when given), and
  // starts drawing its pixels. A failure answered here is the reading's;
  // when the drawing goes on elsewhere, its result comes from FinishReading.
  int32_t StartReading(const std::string& path, UserData ud, const ResizeRequest& request);
  // The bounds the resize starts from: upright ones when the source is put
  // upright.
  Rect SourceBounds() const { return sourceBounds_; }
  // Whether the importer draws the picture upright itself (HEIF, JPEG XL),
  // whatever orientation its metadata states.
  bool SourceDrawnUpright() const { return GraphicsImportDrawsUpright(import_.importer); }
  // Whether the reading has ended (it did on this thread).
  bool ReadingKnown() const { return readingKnown_; }
  // Ends every stage still going on (the encoder must be done reading) and
  // answers the reading's result.
  int32_t FinishReading();
  // Once the reading has ended: its decoder's warnings, and the description
  // of the colours it converted to sRGB from (empty when drawn as stored).
  std::vector<std::string> ReadingWarnings() const;
  std::string ConvertedColour() const;
  // A later step failed with err: the resampler and the encoder end at
  // their next band of rows. The drawer only decodes on, neither waiting
  // for room nor preparing rows, so that its outcome, which outranks err,
  // is what it would be had the image been drawn first.
  void Stop(int32_t err);

  // The destination at the requested size and format.
  int32_t AllocateDestination();
  // Whether the encoder follows the resampler's rows, so that the reading's
  // result is known only once the file is encoded.
  bool DestinationStreams() const { return destinationStreams_; }
  // Resizes, or starts resizing on another thread when the destination
  // streams. Fails only before the first row.
  int32_t Resample();

  // For an odd turn: a buffer of the turned size (the whole source's, when
  // there is one); gwFlagErr when it cannot be had. Then the turn itself.
  int32_t ReshapeForTurn(Rect* turnedBounds);
  void Turn();

  // Fits the gain map that ud carries (pipeline/gain_map.h), then encodes
  // and writes the destination. When it streams, beforeWrite is asked once
  // the file is encoded and before it is written.
  int32_t Export(const ExportSettings& settings, UserData ud, const std::string& outputPath,
                 std::function<OSErr()> beforeWrite);

 private:
  const OutputGeometry& Geometry() const { return request_.geometry; }
  int32_t AllocateSource(bool ring);
  bool StoredPinchMeans() const;
  // Rows the destination holds: a ring's, or the height when it is whole.
  int32_t DestinationRows() const;
  int32_t AllocateWholeDestination();
  bool DestinationFits() const;
  void PrepareResize(OSType storedFormat, bool converted);
  bool ConvertsRingRows(OSType format) const;
  bool ReadsRing() const;
  void ConvertRingRows(OSType format);
  int32_t DrawHere();
  int32_t DrawUpright();
  void StopResampling();

  const bool overlap_;
  ResizeRequest request_;
  OpenedImport import_;
  Rect sourceBounds_;
  PreparedResamplePtr resize_;
  int32_t resizeResult_ = noErr;
  OSType preparedFormat_ = 0;     // the stored format the resize was prepared for
  bool sourceConverted_ = false;  // the resize reads working samples

  GWorldPtr sourceBuffer_ = nullptr;  // the whole source, when it is whole
  RowBand source_;
  std::thread drawer_;
  int32_t readResult_ = noErr;  // the drawer's; read once it has ended
  bool readingKnown_ = false;

  GWorldPtr destinationBuffer_ = nullptr;  // the whole destination, when it is whole
  RowBand destination_;
  bool destinationStreams_ = false;  // a ring the encoder follows
  std::thread resampler_;
};
