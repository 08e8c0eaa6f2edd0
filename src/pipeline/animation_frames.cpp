#include "pipeline/animation_frames.h"

#include <bit>
#include <cstring>
#include <utility>

#include "colour/colour_match.h"
#include "imageio/export.h"
#include "metadata/adjust.h"
#include "pipeline/changed_region_resize.h"
#include "pipeline/frame_stages.h"
#include "platform/graphics_export.h"
#include "platform/graphics_import.h"
#include "platform/owned.h"

namespace {

// Canvases come and go as bytes A, R, G, B; the stages' 32-bit ARGB is a
// native word with alpha in its top byte. The same swap goes both ways.
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

// Browsers show a frame of 10 ms or less for 100 ms, whatever its format;
// the written delay says so, for viewers that would race through it.
int32_t ShownDelay(int32_t delayMs) {
  return delayMs <= 10 ? 100 : delayMs;
}

// The frame source's stages, shared by every output: each composited
// canvas in native words and matched to sRGB, kept from frame to frame so
// that a frame converts only the part it changed.
class CanvasSource {
 public:
  explicit CanvasSource(ColourMatch match) : match_(std::move(match)) {}

  OSErr Prepare(int32_t storedWidth, int32_t storedHeight) {
    return NewArgbBuffer(storedWidth, storedHeight, &stored_);
  }

  // The canvas as every output reads it, until the next frame; only the
  // changed part is new.
  PixelView Take(const PixelView& canvas, const PixelRect& changed) const {
    const PixelView stored = PixelViewOf(stored_.get());
    if (changed.Empty()) return stored;
    const PixelView part = SubView(stored, changed);
    CopySwapped(SubView(canvas, changed), part);
    if (!match_.Empty()) {
      RowBand rows;
      rows.AttachWhole(part, true);
      match_.MatchRows(rows, 0, part.height);
    }
    return stored;
  }

 private:
  const ColourMatch match_;
  UniqueGWorld stored_;  // the canvas as stored, in native words
};

void CopyPixels(const PixelView& from, const PixelView& to) {
  for (int32_t y = 0; y < from.height; ++y) {
    std::memcpy(to.base + y * to.rowBytes, from.base + y * from.rowBytes, size_t(from.width) * 4);
  }
}

// One output's stages and its writer: the canvas put upright and resized
// again only where a frame's change reaches (pipeline/changed_region_resize.h),
// and the written frame, turned and in canvas bytes, likewise kept and
// remade only there.
class FrameSink {
 public:
  explicit FrameSink(const FramesOutput& output) : output_(output) {}

  OSErr PrepareResize() {
    const OutputGeometry& g = output_.request.geometry;
    if (OSErr err = NewArgbBuffer(WrittenWidth(g), WrittenHeight(g), &written_)) return err;
    return region_.Prepare(output_.request);
  }

  OSErr StartWriting(const AnimationInfo& input) {
    exporter_.reset(FindExporter(output_.settings));
    if (exporter_ == nullptr) return noHandlerErr;
    AnimationInfo info = input;
    info.width = WrittenWidth(output_.request.geometry);
    info.height = WrittenHeight(output_.request.geometry);
    return GraphicsExportStartAnimation(exporter_.get(), info, &writer_);
  }

  OSErr Add(const PixelView& stored, const PixelRect& changed, int32_t delayMs) {
    CopyPixels(SubView(stored, changed), region_.Staging(changed));
    const PixelRect remade = region_.Resize(changed);
    const PixelView written = PixelViewOf(written_.get());
    if (!remade.Empty()) {
      const PixelView window = region_.Resized();
      const int32_t turns = output_.request.geometry.quarterTurns;
      const PixelView part =
          SubView(written, TurnedRect(remade, window.width, window.height, turns));
      if (turns == 0) {
        CopyPixels(SubView(window, remade), part);
      } else {
        TurnPicture(SubView(window, remade), part, turns);
      }
      CopySwapped(part, part);
    }
    return writer_->AddFrame(written, ShownDelay(delayMs));
  }

  // The animation ended: its file, with the metadata fitted, written.
  OSErr Finish(const MetaDataFit& fit) {
    std::vector<uint8_t> file;
    if (OSErr err = writer_->Finish(&file)) return err;
    writer_.reset();
    const UserData ud = output_.ud;
    if (ud != nullptr) {
      FitCopiedMetaData(ud, output_.request.geometry, fit.upright, fit.dropItems, fit.keptItems);
    }
    FSSpec spec;
    if (OSErr err = OutputPathToFSSpec(output_.path, &spec)) return err;
    if (OSErr err = GraphicsExportSetOutputFile(exporter_.get(), &spec)) return err;
    if (ud != nullptr) {
      GraphicsExportSetExifEnabled(exporter_.get(), true);
      GraphicsExportSetMetaData(exporter_.get(), ud);
    }
    return GraphicsExportWriteAnimation(exporter_.get(), &file);
  }

 private:
  const FramesOutput& output_;
  ChangedRegionResize region_;
  UniqueGWorld written_;
  UniqueComponent exporter_;
  std::unique_ptr<AnimationWriter> writer_;
};

// The output's resize and writer, once the source's buffers are had.
FramesResult StartOutput(FrameSink& sink, OSErr sourceErr, const AnimationInfo& input) {
  const OSErr err = sourceErr != noErr ? sourceErr : sink.PrepareResize();
  if (err != noErr) return {err, AnimationStep::kResampling};
  return {sink.StartWriting(input), AnimationStep::kWriting};
}

}  // namespace

OSErr AnimationFrames::NextCanvas(const OutputGeometry& shared, bool first, PixelView* canvas,
                                  FrameInfo* frame) {
  const OSErr read = reader_->NextFrame(canvas, frame);
  if (read == eofErr) return first ? codecErr : eofErr;
  if (read != noErr) return read;
  if (canvas->width != shared.storedWidth || canvas->height != shared.storedHeight ||
      canvas->pixelFormat != k32ARGBPixelFormat) {
    return codecErr;
  }
  return noErr;
}

int32_t AnimationFrames::Open(const std::string& path) {
  if (const int32_t err = OpenImport(path, &import_)) return err;
  return GraphicsImportOpenAnimation(import_.importer, &reader_);
}

void AnimationFrames::ReadMetaData(UserData ud) const {
  if (ud != nullptr) GraphicsImportGetMetaData(import_.importer, ud);
}

std::vector<FramesResult> AnimationFrames::Run(std::span<const FramesOutput> outputs,
                                               bool matchColour, const MetaDataFit& fit) {
  std::vector<FramesResult> results(outputs.size());
  if (reader_ == nullptr || outputs.empty()) {
    for (FramesResult& r : results) r.code = paramErr;
    return results;
  }
  const OutputGeometry& shared = outputs.front().request.geometry;
  ColourMatch match;
  ColourSource colour;
  if (matchColour && GraphicsImportGetColourSource(import_.importer, &colour) == noErr) {
    match = MatchForBand(colour, k32ARGBPixelFormat);
  }
  CanvasSource source(std::move(match));
  const OSErr sourceErr = source.Prepare(shared.storedWidth, shared.storedHeight);

  std::vector<std::unique_ptr<FrameSink>> sinks;
  int32_t going = 0;  // outputs that have not failed
  for (size_t i = 0; i < outputs.size(); ++i) {
    sinks.push_back(std::make_unique<FrameSink>(outputs[i]));
    results[i] = StartOutput(*sinks[i], sourceErr, reader_->Info());
    going += results[i].code == noErr;
  }

  for (bool first = true; going > 0; first = false) {
    PixelView canvas;
    FrameInfo frame;
    const OSErr read =
        deadline_.Passed() ? kTimedOutErr : NextCanvas(shared, first, &canvas, &frame);
    if (read == eofErr) break;
    if (read != noErr) {
      for (FramesResult& r : results) {
        if (r.code == noErr) r = {read, AnimationStep::kReading};
      }
      return results;
    }
    const PixelView stored = source.Take(canvas, frame.changed);
    for (size_t i = 0; i < sinks.size(); ++i) {
      if (results[i].code != noErr) continue;
      results[i].code = sinks[i]->Add(stored, frame.changed, frame.delayMs);
      going -= results[i].code != noErr;
    }
  }
  for (size_t i = 0; i < sinks.size(); ++i) {
    if (results[i].code == noErr) results[i].code = sinks[i]->Finish(fit);
  }
  return results;
}
