#include "pipeline/gain_map.h"

#include <algorithm>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include "base/item_types.h"
#include "imageio/export.h"
#include "metadata/drop_items.h"
#include "metadata/xmp_packet.h"
#include "metadata/xmp_size.h"
#include "platform/graphics_export.h"
#include "platform/graphics_import.h"
#include "platform/owned.h"
#include "resample/reorient.h"
#include "resample/rotate.h"

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

uint8_t* Pixels(const UniqueGWorld& gw) {
  return static_cast<uint8_t*>(gw->pixMap.baseAddr);
}

int32_t Width(const UniqueGWorld& gw) {
  return gw->portRect.right;
}

int32_t Height(const UniqueGWorld& gw) {
  return gw->portRect.bottom;
}

// The map as stored, its samples uncorrected; whether they are grey.
OSErr Decode(ByteSpan jpeg, UniqueGWorld* map, bool* grey) {
  GraphicsImportComponent opened = nullptr;
  if (OSErr err = GetGraphicsImporterForData(jpeg, &opened)) return err;
  const UniqueComponent importer(opened);
  Rect bounds;
  if (OSErr err = OSErr(GraphicsImportGetNaturalBounds(opened, &bounds))) return err;
  if (OSErr err = NewBuffer(bounds.right, bounds.bottom, map)) return err;
  ColourSource colour;
  if (OSErr err = OSErr(GraphicsImportGetColourSource(opened, &colour))) return err;
  *grey = colour.model == ColourModel::kGrey;
  GraphicsImportSetColorMatching(opened, false);
  GraphicsImportSetGWorld(opened, map->get(), nullptr);
  return OSErr(GraphicsImportDraw(opened));
}

OSErr PutUpright(int32_t orientation, UniqueGWorld* map) {
  if (orientation == 1) return noErr;
  const int32_t width = Width(*map);
  const int32_t height = Height(*map);
  const bool swaps = OrientationSwapsSides(orientation);
  UniqueGWorld upright;
  if (OSErr err = NewBuffer(swaps ? height : width, swaps ? width : height, &upright)) return err;
  Reorient(Pixels(*map), (*map)->pixMap.rowBytes, width, height, Pixels(upright),
           upright->pixMap.rowBytes, kPixelBytes, orientation);
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

// The picture's resize and crop, done to the map: its full size and window
// are the picture's scaled by the map's size over the picture's.
OSErr Resize(const ResizeRequest& resize, UniqueGWorld* map) {
  const OutputGeometry& g = resize.geometry;
  const int64_t width = Width(*map);
  const int64_t height = Height(*map);
  const ImageShape from{int32_t(width), int32_t(height), k32ARGBPixelFormat};
  const ImageShape to{Scaled(g.fullWidth, width, g.sourceWidth),
                      Scaled(g.fullHeight, height, g.sourceHeight), k32ARGBPixelFormat};
  OutputWindow window{0, 0, to.width, to.height};
  if (Windowed(g)) {
    window.width = std::min(to.width, Scaled(g.windowWidth, width, g.sourceWidth));
    window.height = std::min(to.height, Scaled(g.windowHeight, height, g.sourceHeight));
    window.left =
        std::min(to.width - window.width, int32_t(Rounded(g.windowLeft, width, g.sourceWidth)));
    window.top =
        std::min(to.height - window.height, int32_t(Rounded(g.windowTop, height, g.sourceHeight)));
  }
  PreparedResamplePtr prepared;
  if (OSErr err = PrepareResampleWindow(from, to, window, resize.horizontalEdge,
                                        resize.verticalEdge, resize.kernel, &prepared)) {
    return err;
  }
  UniqueGWorld resized;
  if (OSErr err = NewBuffer(window.width, window.height, &resized)) return err;
  RowBand source;
  RowBand destination;
  source.AttachWhole(PixelViewOf(map->get()), true);
  destination.AttachWhole(PixelViewOf(resized.get()), false);
  RunPreparedResample(prepared.get(), &source, &destination);
  source.Clear();
  destination.Clear();
  *map = std::move(resized);
  return noErr;
}

OSErr Turn(int32_t quarterTurns, UniqueGWorld* map) {
  const int32_t width = Width(*map);
  const int32_t height = Height(*map);
  const int32_t rowBytes = (*map)->pixMap.rowBytes;
  if (quarterTurns == 2) {
    Rotate180(Pixels(*map), rowBytes, Pixels(*map), rowBytes, width, height, kPixelBytes);
  }
  if (quarterTurns % 2 == 0) return noErr;
  UniqueGWorld turned;
  if (OSErr err = NewBuffer(height, width, &turned)) return err;
  (quarterTurns == 1 ? Rotate90 : Rotate270)(Pixels(*map), rowBytes, Pixels(turned),
                                             turned->pixMap.rowBytes, height, width, kPixelBytes);
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
  UniqueGWorld map;
  bool grey = false;
  if (OSErr err = Decode(source, &map, &grey)) return err;
  if (OSErr err = PutUpright(resize.geometry.orientation, &map)) return err;
  if (OSErr err = Resize(resize, &map)) return err;
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
  if (source.empty()) return;
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
