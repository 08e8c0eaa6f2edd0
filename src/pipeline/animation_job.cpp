#include "pipeline/animation_job.h"

#include <bit>
#include <cstring>
#include <vector>

#include "codecs/common/row_packer.h"
#include "colour/colour_match.h"
#include "imageio/export.h"
#include "metadata/adjust.h"
#include "metadata/drop_items.h"
#include "metadata/orientation.h"
#include "pipeline/changed_region_resize.h"
#include "pipeline/flatten_rows.h"
#include "platform/graphics_animation.h"
#include "platform/graphics_export.h"
#include "platform/graphics_import.h"
#include "platform/owned.h"
#include "resample/reorient.h"
#include "resample/rotate.h"

namespace {

// Canvases come and go as bytes A, R, G, B; the resampler's 32-bit ARGB is
// a native word with alpha in its top byte. The same swap goes both ways.
uint32_t SwapCanvasWord(uint32_t w) {
  if constexpr (std::endian::native == std::endian::little) return __builtin_bswap32(w);
  return w;
}

void CopySwapped(const PixelView& from, const PixelView& to) {
  for (int32_t y = 0; y < from.height; ++y) {
    const uint8_t* in = from.base + y * from.rowBytes;
    uint8_t* out = to.base + y * to.rowBytes;
    for (int32_t x = 0; x < from.width; ++x) {
      uint32_t w;
      std::memcpy(&w, in + 4 * x, 4);
      w = SwapCanvasWord(w);
      std::memcpy(out + 4 * x, &w, 4);
    }
  }
}

// The buffers one frame passes through, made once for every frame.
class FrameResizer {
 public:
  // match, when not empty, takes the canvas's colours to sRGB; channels
  // are what the output depth keeps.
  FrameResizer(const ResizeRequest& request, const ColourMatch& match, ExportChannels channels)
      : request_(request), match_(match), channels_(channels) {}

  OSErr Prepare() {
    const OutputGeometry& g = request_.geometry;
    if (OSErr err = NewArgbBuffer(WrittenWidth(g), WrittenHeight(g), &written_)) return err;
    return region_.Prepare(request_);
  }

  // The canvas resized, as bytes A, R, G, B again, in a buffer of the
  // resizer's that holds until the next frame. Only what changed since the
  // canvas before is read, resized, turned and finished again (all of it
  // on the first frame); the rest is the frame before's.
  PixelView Resize(const PixelView& canvas, const PixelRect& changed) {
    const PixelView staged = region_.Staging(changed);
    CopySwapped(SubView(canvas, changed), staged);
    MatchColours(staged);
    const PixelRect remade = region_.Resize(changed);
    const PixelView resized = region_.Resized();
    const PixelView written = PixelViewOf(written_.get());
    if (remade.Empty()) return written;
    const PixelView part = SubView(
        written, TurnedRect(remade, resized.width, resized.height, request_.geometry.quarterTurns));
    Turn(SubView(resized, remade), part);
    FinishColours(part);
    CopySwapped(part, part);
    return written;
  }

 private:
  void MatchColours(const PixelView& pixels) const {
    if (match_.Empty()) return;
    RowBand rows;
    rows.AttachWhole(pixels, true);
    match_.MatchRows(rows, 0, pixels.height);
  }

  // Transparency flattened onto the background, or dropped where the
  // output keeps none, and grey depths made grey, as the still exporters
  // pack their rows (row_packer.h): the animation writers take colour only.
  void FinishColours(const PixelView& pixels) const {
    const bool keepsAlpha = channels_ == ExportChannels::kColourAlpha;
    for (int32_t y = 0; y < pixels.height; ++y) {
      uint8_t* row = pixels.base + y * pixels.rowBytes;
      if (request_.flattenOnto >= 0) {
        FlattenRow(k32ARGBPixelFormat, uint32_t(request_.flattenOnto), row, pixels.width);
      }
      if (keepsAlpha) continue;
      for (int32_t x = 0; x < pixels.width; ++x) {
        uint32_t w;
        std::memcpy(&w, row + 4 * x, 4);
        if (channels_ == ExportChannels::kGrey) {
          const uint32_t v = Luma8((w >> 16) & 0xFF, (w >> 8) & 0xFF, w & 0xFF);
          w = (w & 0xFF000000u) | v << 16 | v << 8 | v;
        }
        if (!keepsAlpha) w |= 0xFF000000u;
        std::memcpy(row + 4 * x, &w, 4);
      }
    }
  }

  // Pixels of the resized window turned into their place in the written
  // frame; the window itself is kept as it is for the next frame.
  void Turn(const PixelView& from, const PixelView& to) const {
    const int32_t fromBytes = int32_t(from.rowBytes), toBytes = int32_t(to.rowBytes);
    switch (request_.geometry.quarterTurns) {
      case 1:
        Rotate90(from.base, fromBytes, to.base, toBytes, to.width, to.height, 4);
        break;
      case 2:
        Rotate180(from.base, fromBytes, to.base, toBytes, to.width, to.height, 4);
        break;
      case 3:
        Rotate270(from.base, fromBytes, to.base, toBytes, to.width, to.height, 4);
        break;
      default:
        for (int32_t y = 0; y < to.height; ++y) {
          std::memcpy(to.base + y * to.rowBytes, from.base + y * from.rowBytes,
                      size_t(to.width) * 4);
        }
    }
  }

  const ResizeRequest& request_;
  const ColourMatch& match_;
  const ExportChannels channels_;
  ChangedRegionResize region_;
  UniqueGWorld written_;
};

// Browsers show a frame of 10 ms or less for 100 ms, whatever its format;
// the written delay says so, for viewers that would race through it.
int32_t ShownDelay(int32_t delayMs) {
  return delayMs <= 10 ? 100 : delayMs;
}

// The copied metadata fitted to the written animation, once.
void FitMetaData(const AnimationMetaData& m, const OutputGeometry& geometry) {
  AdjustMetaData(m.ud, geometry);
  if (m.upright) MarkUpright(m.ud);
  DropItems(m.ud, m.dropItems, m.keptItems);
}

OSErr WriteAnimation(ComponentInstance exporter, const AnimationMetaData& metaData,
                     const std::string& outputPath, std::vector<uint8_t>* file) {
  FSSpec spec;
  if (OSErr err = OutputPathToFSSpec(outputPath, &spec)) return err;
  if (OSErr err = GraphicsExportSetOutputFile(exporter, &spec)) return err;
  if (metaData.ud != nullptr) {
    GraphicsExportSetExifEnabled(exporter, true);
    GraphicsExportSetMetaData(exporter, metaData.ud);
  }
  return GraphicsExportWriteAnimation(exporter, file);
}

}  // namespace

int32_t AnimationJob::Open(const std::string& path) {
  if (const int32_t err = OpenImport(path, &import_)) return err;
  return GraphicsImportOpenAnimation(import_.importer, &reader_);
}

int32_t AnimationJob::Run(const ResizeRequest& request, const ExportSettings& settings,
                          const AnimationMetaData& metaData, const std::string& outputPath,
                          AnimationStep* failedStep) {
  *failedStep = AnimationStep::kReading;
  if (reader_ == nullptr) return paramErr;
  if (metaData.ud != nullptr) GraphicsImportGetMetaData(import_.importer, metaData.ud);
  *failedStep = AnimationStep::kResampling;
  // As a still is drawn: in sRGB, unless the profile travels with the copy.
  ColourMatch match;
  ColourSource colour;
  if ((metaData.ud == nullptr || request.matchColour) &&
      GraphicsImportGetColourSource(import_.importer, &colour) == noErr) {
    match = MatchForBand(colour, k32ARGBPixelFormat);
  }
  FrameResizer resizer(request, match, ChannelsForDepth(settings.depth));
  if (OSErr err = resizer.Prepare()) return err;

  *failedStep = AnimationStep::kWriting;
  UniqueComponent exporter(FindExporter(settings));
  if (exporter == nullptr) return noHandlerErr;
  const OutputGeometry& g = request.geometry;
  AnimationInfo written = reader_->Info();
  written.width = WrittenWidth(g);
  written.height = WrittenHeight(g);
  std::unique_ptr<AnimationWriter> writer;
  if (OSErr err = GraphicsExportStartAnimation(exporter.get(), written, &writer)) return err;

  int32_t frames = 0;
  for (;;) {
    *failedStep = AnimationStep::kReading;
    PixelView canvas;
    FrameInfo frame;
    const OSErr read = reader_->NextFrame(&canvas, &frame);
    if (read == eofErr && frames > 0) break;
    if (read != noErr) return read == eofErr ? codecErr : read;
    if (canvas.width != g.storedWidth || canvas.height != g.storedHeight ||
        canvas.pixelFormat != k32ARGBPixelFormat) {
      return codecErr;
    }
    *failedStep = AnimationStep::kWriting;
    if (OSErr err =
            writer->AddFrame(resizer.Resize(canvas, frame.changed), ShownDelay(frame.delayMs)))
      return err;
    ++frames;
  }
  std::vector<uint8_t> file;
  if (OSErr err = writer->Finish(&file)) return err;
  writer.reset();
  if (metaData.ud != nullptr) FitMetaData(metaData, g);
  return WriteAnimation(exporter.get(), metaData, outputPath, &file);
}
