#include "resample/changed_region.h"

#include <algorithm>

#include "resample/edge_fetch.h"
#include "resample/filter_table.h"
#include "resample/resample_context.h"
#include "resample/resampler.h"

namespace {

// The output samples [first, last] reached so far; first > last: none.
struct Run {
  int32_t first = INT32_MAX;
  int32_t last = -1;
  void Add(int32_t i) {
    first = std::min(first, i);
    last = std::max(last, i);
  }
};

// Whether the taps [start, start + count) reach samples [lo, hi) of a
// source of this length; wrapped, tap j reads sample j modulo length.
bool TapsReach(int64_t start, int64_t count, int64_t lo, int64_t hi, int64_t length, bool wrap) {
  if (!wrap) return start < hi && start + count > lo;
  if (count >= length) return true;
  const int64_t first = ((start % length) + length) % length;
  const int64_t end = first + count;  // past length: the rest starts again at 0
  return (first < hi && end > lo) || end - length > lo;
}

Run ReachedColumns(const ResampleContext& c, const PixelRect& changed) {
  Run run;
  const bool wrap = c.horizontalEdge == kEdgeWrap;
  for (int32_t i = 0; i < c.destinationWidth; ++i) {
    const int16_t* entry = HorizontalEntry(&c, i);
    if (TapsReach(EntryStart(entry), EntryCount(entry), changed.left, changed.right, c.sourceWidth,
                  wrap)) {
      run.Add(i);
    }
  }
  return run;
}

// Rows; *turned: a row reached through a half-turned row beyond a pinched
// edge, whose columns are the changed ones turned by half the width.
Run ReachedRows(const ResampleContext& c, const PixelRect& changed, bool* turned) {
  Run run;
  *turned = false;
  for (int32_t i = 0; i < c.destinationHeight; ++i) {
    const int16_t* entry = VerticalEntry(&c, i);
    const int32_t start = EntryStart(entry);
    const int32_t count = EntryCount(entry);
    if (c.verticalEdge != kEdgePinch) {
      if (TapsReach(start, count, changed.top, changed.bottom, c.sourceHeight,
                    c.verticalEdge == kEdgeWrap)) {
        run.Add(i);
      }
      continue;
    }
    for (int32_t row = start; row < start + count; ++row) {
      const int32_t rho = PinchRowIndex(row, c.sourceHeight);
      const int32_t read = rho >= 0 ? rho : -1 - rho;
      if (read >= changed.top && read < changed.bottom) {
        run.Add(i);
        *turned = *turned || rho < 0;
      }
    }
  }
  return run;
}

}  // namespace

OutputWindow ReachedWindow(const PreparedResample* prepared, const PixelRect& changed) {
  if (changed.Empty()) return {};
  const ResampleContext& c = *PreparedContext(prepared);
  bool turned = false;
  const Run rows = ReachedRows(c, changed, &turned);
  if (rows.first > rows.last) return {};
  Run columns;
  if (turned) {
    columns = {0, c.destinationWidth - 1};
  } else {
    columns = ReachedColumns(c, changed);
    if (columns.first > columns.last) return {};
  }
  return {columns.first, rows.first, columns.last - columns.first + 1, rows.last - rows.first + 1};
}
