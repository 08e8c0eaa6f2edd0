#include "pipeline/gain_map.h"

#include <algorithm>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include "base/item_types.h"
#include "base/memory_limit.h"
#include "metadata/drop_items.h"
#include "metadata/xmp_packet.h"
#include "metadata/xmp_size.h"
#include "platform/codecs/jpeg/jpeg_codec.h"
#include "platform/codecs/jpeg/jpeg_gain_map.h"
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

OSErr Decode(ByteSpan jpeg, const ImageHeader& header, UniqueGWorld* map) {
  if (OSErr err = NewBuffer(header.width, header.height, map)) return err;
  RowBand rows;
  rows.AttachWhole(PixelViewOf(map->get()), false);
  const OSErr err = kJpegImporter.draw(jpeg, &rows, nullptr);
  rows.Clear();
  return err;
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

// The map's resize: its full size and window are the picture's scaled by
// the map's size over the picture's, a map larger than the picture counting
// as the picture's size, so that the map is never larger than the picture.
struct MapResize {
  ImageShape from, to;
  OutputWindow window;
};

MapResize MapResizeFor(const ResizeRequest& resize, Rect sourceBounds, int32_t width,
                       int32_t height) {
  const int64_t sourceWidth = sourceBounds.right;
  const int64_t sourceHeight = sourceBounds.bottom;
  const int64_t scaleWidth = std::min<int64_t>(width, sourceWidth);
  const int64_t scaleHeight = std::min<int64_t>(height, sourceHeight);
  const bool windowed = resize.fullWidth != 0;
  MapResize m;
  m.from = {width, height, k32ARGBPixelFormat};
  m.to = {Scaled(windowed ? resize.fullWidth : resize.width, scaleWidth, sourceWidth),
          Scaled(windowed ? resize.fullHeight : resize.height, scaleHeight, sourceHeight),
          k32ARGBPixelFormat};
  m.window = {0, 0, m.to.width, m.to.height};
  if (windowed) {
    m.window.width = std::min(m.to.width, Scaled(resize.width, scaleWidth, sourceWidth));
    m.window.height = std::min(m.to.height, Scaled(resize.height, scaleHeight, sourceHeight));
    m.window.left = std::min(m.to.width - m.window.width,
                             int32_t(Rounded(resize.windowLeft, scaleWidth, sourceWidth)));
    m.window.top = std::min(m.to.height - m.window.height,
                            int32_t(Rounded(resize.windowTop, scaleHeight, sourceHeight)));
  }
  return m;
}

// Whether the map's buffers fit beside those held, at the most they take at
// once: the decoded map and its upright copy, the decoded map and the
// resized one, the resized one and its turned copy.
bool MapFits(const ImageHeader& header, const MapResize& m, int32_t orientation,
             int32_t quarterTurns) {
  const uint64_t decoded = uint64_t(header.width) * uint64_t(header.height) * kPixelBytes;
  const uint64_t resized = uint64_t(m.window.width) * uint64_t(m.window.height) * kPixelBytes;
  const uint64_t most = std::max({orientation != 1 ? 2 * decoded : decoded, decoded + resized,
                                  quarterTurns % 2 != 0 ? 2 * resized : resized});
  return WorkingBytesFit(most);
}

OSErr Resize(const MapResize& m, const ResizeRequest& resize, UniqueGWorld* map) {
  PreparedResamplePtr prepared;
  if (OSErr err = PrepareResampleWindow(m.from, m.to, m.window, resize.horizontalEdge,
                                        resize.verticalEdge, resize.kernel, &prepared)) {
    return err;
  }
  UniqueGWorld resized;
  if (OSErr err = NewBuffer(m.window.width, m.window.height, &resized)) return err;
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

// Grey maps stay grey (one channel), colour ones colour.
OSErr Encode(const UniqueGWorld& map, bool grey, const ExportSettings& settings,
             std::vector<uint8_t>* jpeg) {
  RowBand rows;
  rows.AttachWhole(PixelViewOf(map.get()), true);
  ExportRequest request;
  request.image = &rows;
  request.quality = settings.quality;
  request.depth = grey ? 40 : 24;
  request.subsampling = settings.subsampling;
  ByteSink sink(jpeg);
  const OSErr err = kJpegExporter.encode(request, &sink);
  rows.Clear();
  return err;
}

OSErr Fit(ByteSpan source, const ResizeRequest& resize, Rect sourceBounds, int32_t orientation,
          const ExportSettings& settings, std::vector<uint8_t>* fitted) {
  ImageHeader header;
  if (OSErr err = kJpegImporter.readHeader(source, &header)) return err;
  if (header.width < 1 || header.height < 1) return paramErr;
  const bool swaps = OrientationSwapsSides(orientation);
  const MapResize m = MapResizeFor(resize, sourceBounds, swaps ? header.height : header.width,
                                   swaps ? header.width : header.height);
  if (!MapFits(header, m, orientation, resize.quarterTurns)) return memFullErr;
  UniqueGWorld map;
  if (OSErr err = Decode(source, header, &map)) return err;
  if (OSErr err = PutUpright(orientation, &map)) return err;
  if (OSErr err = Resize(m, resize, &map)) return err;
  if (OSErr err = Turn(resize.quarterTurns, &map)) return err;
  ColourSource colour;
  kJpegImporter.readColour(source, &colour);
  std::vector<uint8_t> encoded;
  if (OSErr err = Encode(map, colour.model == ColourModel::kGrey, settings, &encoded)) return err;
  *fitted = WithGainMapSegments(source, encoded);
  return noErr;
}

}  // namespace

void FitGainMap(UserData ud, const ResizeRequest& resize, Rect sourceBounds, int32_t orientation,
                const ExportSettings& settings) {
  const ByteSpan source = GetUserDataGainMap(ud);
  if (source.empty()) {
    LeaveOutGainMap(ud);  // none could be read: the XMP may still announce one
    return;
  }
  std::vector<uint8_t> fitted;
  OSErr err = memFullErr;
  try {
    err = Fit(source, resize, sourceBounds, orientation, settings, &fitted);
  } catch (const std::bad_alloc&) {
  }
  if (err != noErr || SetUserDataGainMap(ud, fitted, GetUserDataGainMapIsoVersion(ud)) != noErr) {
    LeaveOutGainMap(ud);
    return;
  }
  ChangeXmpPacket(
      ud, [&](std::string_view packet) { return RefitXmpGainMapLength(packet, fitted.size()); });
}
