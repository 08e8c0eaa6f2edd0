#include "pipeline/changed_region_resize.h"

#include "pipeline/frame_stages.h"
#include "platform/gworld.h"
#include "resample/changed_region.h"
#include "resample/reorient.h"
#include "resample/resampler.h"
#include "stream/row_band.h"

namespace {

PixelRect AsRect(const OutputWindow& w) {
  return {w.left, w.top, w.left + w.width, w.top + w.height};
}

}  // namespace

OSErr NewArgbBuffer(int32_t width, int32_t height, UniqueGWorld* buffer) {
  Rect bounds;
  MacSetRect(&bounds, 0, 0, width, height);
  GWorldPtr gw = nullptr;
  if (OSErr err =
          QTNewGWorld(&gw, k32ARGBPixelFormat, &bounds, nullptr, nullptr, kNativeEndianPixMap)) {
    return err;
  }
  buffer->reset(gw);
  return noErr;
}

OSErr ChangedRegionResize::Prepare(const ResizeRequest& request) {
  const OutputGeometry& g = request.geometry;
  geometry_ = g;
  first_ = true;
  if (OSErr err = NewArgbBuffer(g.sourceWidth, g.sourceHeight, &source_)) return err;
  if (g.orientation != 1) {
    if (OSErr err = NewArgbBuffer(g.storedWidth, g.storedHeight, &staged_)) return err;
  }
  if (OSErr err = NewArgbBuffer(g.windowWidth, g.windowHeight, &resized_)) return err;
  flattenOnto_ = request.flattenOnto;
  const ImageShape from{g.sourceWidth, g.sourceHeight, k32ARGBPixelFormat};
  return PrepareResample(ResampleRequestFor(request, from, SourceSamples::kStored), &resize_);
}

PixelView ChangedRegionResize::Staging(const PixelRect& changed) {
  // Upright already: straight into the kept canvas.
  if (geometry_.orientation == 1) return SubView(PixelViewOf(source_.get()), changed);
  return SubView(PixelViewOf(staged_.get()), {0, 0, changed.Width(), changed.Height()});
}

PixelRect ChangedRegionResize::Resize(const PixelRect& changed) {
  const OutputGeometry& g = geometry_;
  const PixelView source = PixelViewOf(source_.get());
  PixelRect upright = changed;
  if (g.orientation != 1 && !changed.Empty()) {
    upright = UprightRect(changed, g.storedWidth, g.storedHeight, g.orientation);
    const PixelView from = PixelViewOf(staged_.get());
    const PixelView to = SubView(source, upright);
    Reorient(from.base, from.rowBytes, changed.Width(), changed.Height(), to.base, to.rowBytes, 4,
             g.orientation);
  }
  const OutputWindow region = first_ ? OutputWindow{0, 0, g.windowWidth, g.windowHeight}
                                     : ReachedWindow(resize_.get(), upright);
  first_ = false;
  if (region.width < 1 || region.height < 1) return {};
  RowBand from;
  from.AttachWhole(source, true);
  RowBand to;
  to.AttachWhole(SubView(PixelViewOf(resized_.get()), AsRect(region)), false);
  FinishDestinationRows(&to, flattenOnto_, nullptr);
  RunPreparedResampleRegion(resize_.get(), region, &from, &to);
  return AsRect(region);
}

PixelView ChangedRegionResize::Resized() const {
  return PixelViewOf(resized_.get());
}

PixelRect TurnedRect(const PixelRect& r, int32_t width, int32_t height, int32_t quarterTurns) {
  switch (quarterTurns) {
    case 1:
      return {height - r.bottom, r.left, height - r.top, r.right};
    case 2:
      return {width - r.right, height - r.bottom, width - r.left, height - r.top};
    case 3:
      return {r.top, width - r.right, r.bottom, width - r.left};
    default:
      return r;
  }
}
