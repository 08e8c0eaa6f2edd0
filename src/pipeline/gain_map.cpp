#include "pipeline/gain_map.h"

#include <algorithm>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include "base/item_types.h"
#include "base/memory_limit.h"
#include "imageio/export.h"
#include "metadata/drop_items.h"
#include "metadata/xmp_packet.h"
#include "metadata/xmp_size.h"
#include "pipeline/frame_stages.h"
#include "platform/graphics_export.h"
#include "platform/graphics_import.h"
#include "platform/owned.h"

namespace {

constexpr int32_t kPixelBytes = 4;

OSErr NewBuffer(int32_t width, int32_t height, UniqueGWorld* buffer) {
  Rect bounds;
  MacSetRect(&bounds, 0, 0, width, height);
  GWorldPtr gw = nullptr;
  const OSErr err =
      QTNewGWorld(&gw, k32ARGBPixelFormat, &bounds, nullptr, nullptr, kNativeEndianPixMap);
  buffer->reset(gw);
  return err;
}

int32_t Width(const UniqueGWorld& gw) {
  return gw->portRect.right;
}

int32_t Height(const UniqueGWorld& gw) {
  return gw->portRect.bottom;
}

// The map as stored, its samples uncorrected, into a buffer of its natural
// bounds; whether they are grey.
OSErr Decode(GraphicsImportComponent importer, Rect bounds, UniqueGWorld* map, bool* grey) {
  if (OSErr err = NewBuffer(bounds.right, bounds.bottom, map)) return err;
  ColourSource colour;
  if (OSErr err = OSErr(GraphicsImportGetColourSource(importer, &colour))) return err;
  *grey = colour.model == ColourModel::kGrey;
  GraphicsImportSetColorMatching(importer, false);
  GraphicsImportSetGWorld(importer, map->get(), nullptr);
  return OSErr(GraphicsImportDraw(importer));
}

OSErr Upright(int32_t orientation, UniqueGWorld* map) {
  if (UprightInPlace(orientation)) {
    PutUpright(PixelViewOf(map->get()), {}, orientation);
    return noErr;
  }
  UniqueGWorld upright;
  if (OSErr err = NewBuffer(Height(*map), Width(*map), &upright)) return err;
  PutUpright(PixelViewOf(map->get()), PixelViewOf(upright.get()), orientation);
  *map = std::move(upright);
  return noErr;
}

// value * to / from, rounded.
int64_t Rounded(int64_t value, int64_t to, int64_t from) {
  return (2 * value * to + from) / (2 * from);
}

// The same, at least 1: a size.
int32_t Scaled(int64_t value, int64_t to, int64_t from) {
  return int32_t(std::max<int64_t>(1, Rounded(value, to, from)));
}

// The map's resize: its full size and window are the picture's scaled by
// the map's size over the picture's, a map larger than the picture counting
// as the picture's size, so that the map is never larger than the picture.
struct MapResize {
  ImageShape from, to;
  OutputWindow window;
};

MapResize MapResizeFor(const OutputGeometry& g, int32_t width, int32_t height) {
  const int64_t scaleWidth = std::min(width, g.sourceWidth);
  const int64_t scaleHeight = std::min(height, g.sourceHeight);
  MapResize m;
  m.from = {width, height, k32ARGBPixelFormat};
  m.to = {Scaled(g.fullWidth, scaleWidth, g.sourceWidth),
          Scaled(g.fullHeight, scaleHeight, g.sourceHeight), k32ARGBPixelFormat};
  m.window = {0, 0, m.to.width, m.to.height};
  if (Windowed(g)) {
    m.window.width = std::min(m.to.width, Scaled(g.windowWidth, scaleWidth, g.sourceWidth));
    m.window.height = std::min(m.to.height, Scaled(g.windowHeight, scaleHeight, g.sourceHeight));
    m.window.left = std::min(m.to.width - m.window.width,
                             int32_t(Rounded(g.windowLeft, scaleWidth, g.sourceWidth)));
    m.window.top = std::min(m.to.height - m.window.height,
                            int32_t(Rounded(g.windowTop, scaleHeight, g.sourceHeight)));
  }
  return m;
}

// Whether the map's buffers fit beside those held, at the most they take at
// once: the decoded map and its upright copy, the decoded map and the
// resized one, the resized one and its turned copy.
bool MapFits(Rect stored, const MapResize& m, const OutputGeometry& g) {
  const uint64_t decoded = uint64_t(stored.right) * uint64_t(stored.bottom) * kPixelBytes;
  const uint64_t resized = uint64_t(m.window.width) * uint64_t(m.window.height) * kPixelBytes;
  const uint64_t most = std::max({g.orientation != 1 ? 2 * decoded : decoded, decoded + resized,
                                  Turned(g) ? 2 * resized : resized});
  return WorkingBytesFit(most);
}

// The map's samples are filtered as stored, whatever space the picture's are.
OSErr Resize(const MapResize& m, const ResizeRequest& resize, UniqueGWorld* map) {
  ResampleFilter filter = FilterOf(resize);
  filter.space = FilterSpace{};
  PreparedResamplePtr prepared;
  if (OSErr err =
          PrepareResample({m.from, m.to, m.window, SourceSamples::kStored, filter, 0}, &prepared)) {
    return err;
  }
  UniqueGWorld resized;
  if (OSErr err = NewBuffer(m.window.width, m.window.height, &resized)) return err;
  ResizePicture(prepared.get(), PixelViewOf(map->get()), PixelViewOf(resized.get()), -1);
  *map = std::move(resized);
  return noErr;
}

OSErr Turn(int32_t quarterTurns, UniqueGWorld* map) {
  if (quarterTurns % 2 == 0) {
    const PixelView picture = PixelViewOf(map->get());
    TurnPicture(picture, picture, quarterTurns);
    return noErr;
  }
  UniqueGWorld turned;
  if (OSErr err = NewBuffer(Height(*map), Width(*map), &turned)) return err;
  TurnPicture(PixelViewOf(map->get()), PixelViewOf(turned.get()), quarterTurns);
  *map = std::move(turned);
  return noErr;
}

// A JPEG at the output's quality and subsampling, not progressive, with the
// source map's own describing segments; grey maps stay grey (one channel),
// colour ones colour.
OSErr Encode(const UniqueGWorld& map, bool grey, ByteSpan source, const ExportSettings& output,
             std::vector<uint8_t>* jpeg) {
  ExportSettings settings;
  settings.codec = kJpegFormat.subtype;
  settings.depth = grey ? 40 : 24;
  settings.quality = output.quality;
  settings.subsampling = output.subsampling;
  ComponentInstance opened = FindExporter(settings);
  if (opened == nullptr) return noHandlerErr;
  const UniqueComponent exporter(opened);
  if (OSErr err = OSErr(GraphicsExportSetInputGWorld(opened, map.get()))) return err;
  if (OSErr err = OSErr(GraphicsExportSetOutputBytes(opened, jpeg))) return err;
  if (OSErr err = OSErr(GraphicsExportSetGainMapSource(opened, source))) return err;
  return OSErr(GraphicsExportDoExport(opened, nullptr));
}

OSErr Fit(ByteSpan source, const ResizeRequest& resize, const ExportSettings& settings,
          std::vector<uint8_t>* fitted) {
  const OutputGeometry& g = resize.geometry;
  GraphicsImportComponent opened = nullptr;
  if (OSErr err = GetGraphicsImporterForData(source, &opened)) return err;
  const UniqueComponent importer(opened);
  Rect stored;
  if (OSErr err = OSErr(GraphicsImportGetNaturalBounds(opened, &stored))) return err;
  const bool swaps = OrientationSwapsSides(g.orientation);
  const MapResize m =
      MapResizeFor(g, swaps ? stored.bottom : stored.right, swaps ? stored.right : stored.bottom);
  if (!MapFits(stored, m, g)) return memFullErr;
  UniqueGWorld map;
  bool grey = false;
  if (OSErr err = Decode(opened, stored, &map, &grey)) return err;
  if (OSErr err = Upright(g.orientation, &map)) return err;
  if (OSErr err = Resize(m, resize, &map)) return err;
  if (OSErr err = Turn(resize.geometry.quarterTurns, &map)) return err;
  return Encode(map, grey, source, settings, fitted);
}

}  // namespace

void FitGainMap(UserData ud, const ResizeRequest& resize, const ExportSettings& settings) {
  const ImageFormat* format = ExportFormat(settings.codec);
  if (format == nullptr || (format->metadata & kHoldsGainMap) == 0) {
    LeaveOutGainMap(ud);
    return;
  }
  const ByteSpan source = GetUserDataGainMap(ud);
  if (source.empty()) {
    LeaveOutGainMap(ud);  // none could be read: the XMP may still announce one
    return;
  }
  std::vector<uint8_t> fitted;
  OSErr err = memFullErr;
  try {
    err = Fit(source, resize, settings, &fitted);
  } catch (const std::bad_alloc&) {
  }
  if (err != noErr || SetUserDataGainMap(ud, fitted, GetUserDataGainMapIsoVersion(ud)) != noErr) {
    LeaveOutGainMap(ud);
    return;
  }
  ChangeXmpPacket(
      ud, [&](std::string_view packet) { return RefitXmpGainMapLength(packet, fitted.size()); });
}
