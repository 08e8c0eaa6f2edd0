#include "pipeline/frame_stages.h"

#include "imageio/swap_sample_bytes.h"
#include "pipeline/flatten_rows.h"
#include "resample/reorient.h"
#include "resample/rotate.h"

ResampleFilter FilterOf(const ResizeRequest& request) {
  return {request.horizontalEdge, request.verticalEdge, request.kernel, request.space,
          request.geometry.alignment};
}

ResampleRequest ResampleRequestFor(const ResizeRequest& request, const ImageShape& source,
                                   SourceSamples samples) {
  const OutputGeometry& g = request.geometry;
  return {source,
          {g.fullWidth, g.fullHeight, request.destinationFormat},
          {g.windowLeft, g.windowTop, g.windowWidth, g.windowHeight},
          samples,
          FilterOf(request),
          request.sharpen};
}

bool UprightInPlace(int32_t orientation) {
  return !OrientationSwapsSides(orientation);
}

void PutUpright(const PixelView& stored, const PixelView& upright, int32_t orientation) {
  if (orientation == 1) return;
  const int32_t pixelBytes = stored.pixelSize / 8;
  if (UprightInPlace(orientation)) {
    // Mirrors and the half turn keep the sides.
    ReorientInPlace(stored.base, stored.rowBytes, stored.width, stored.height, pixelBytes,
                    orientation);
    return;
  }
  Reorient(stored.base, stored.rowBytes, stored.width, stored.height, upright.base,
           upright.rowBytes, pixelBytes, orientation);
}

void SwapWideRows(RowBand* rows) {
  if (rows->PixelSize() > 32) rows->SetPrepare(SwapSampleBytesRows);
}

void FinishDestinationRows(RowBand* rows, int32_t flattenOnto, PlaceholderSums* placeholder) {
  SwapWideRows(rows);
  // Each step is put before those already set: the sums see the flattened
  // colours in the machine's order.
  if (placeholder != nullptr) {
    rows->SetPrepare(
        [next = rows->GetPrepare(), placeholder](const RowBand& band, int64_t from, int64_t end) {
          placeholder->AddRows(band, from, end);
          if (next) next(band, from, end);
        });
  }
  if (flattenOnto < 0 || !FlattensFormat(rows->PixelFormat())) return;
  rows->SetPrepare([next = rows->GetPrepare(), rgb = uint32_t(flattenOnto)](
                       const RowBand& band, int64_t from, int64_t end) {
    for (int64_t y = from; y < end; ++y) {
      FlattenRow(band.PixelFormat(), rgb, band.RowAddress(y), band.Width());
    }
    if (next) next(band, from, end);
  });
}

void ResizePicture(PreparedResample* resize, const PixelView& source, const PixelView& window,
                   int32_t flattenOnto) {
  RowBand from;
  from.AttachWhole(source, true);
  RowBand to;
  to.AttachWhole(window, false);
  FinishDestinationRows(&to, flattenOnto, nullptr);
  RunPreparedResample(resize, &from, &to, 0);
}

void TurnPicture(const PixelView& from, const PixelView& to, int32_t quarterTurns) {
  const int32_t pixelBytes = from.pixelSize / 8;
  const int32_t fromRowBytes = int32_t(from.rowBytes);
  switch (quarterTurns) {
    case 1:
    case 3:
      // Sizes are the turned picture's.
      (quarterTurns == 1 ? Rotate90 : Rotate270)(from.base, fromRowBytes, to.base,
                                                 int32_t(to.rowBytes), from.height, from.width,
                                                 pixelBytes);
      break;
    case 2:
      Rotate180(from.base, fromRowBytes, to.base, int32_t(to.rowBytes), from.width, from.height,
                pixelBytes);
      break;
  }
}
