#include "resample/resampler.h"

#include <algorithm>
#include <atomic>
#include <cassert>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <new>
#include <vector>

#include "resample/edge_fetch.h"
#include "resample/filter_space.h"
#include "resample/filter_table.h"
#include "resample/filter_table_cache.h"
#include "resample/kernels.h"
#include "resample/resample.h"
#include "resample/resampler_seam.h"
#include "resample/row_procs.h"
#include "resample/sharpen.h"
#include "stream/row_band.h"

namespace {

constexpr int32_t kEndOfRowsMark = std::numeric_limits<int32_t>::min();

std::atomic<int64_t> bandRowsMade{0};
std::atomic<int64_t> resizesPrepared{0};

// Edge treatment in force per direction. A horizontal pinch has no fetcher
// and is taken as the default; so is any value but wrap and pinch.
EdgeMode HorizontalMode(EdgeMode edge) {
  return (edge & kEdgeTreatmentMask) == kEdgeWrap ? kEdgeWrap : kEdgeDefault;
}
EdgeMode VerticalMode(EdgeMode edge) {
  const int32_t mode = edge & kEdgeTreatmentMask;
  return mode == kEdgeWrap ? kEdgeWrap : mode == kEdgePinch ? kEdgePinch : kEdgeDefault;
}

struct BlockLayout {
  int32_t horizontalTaps = 0;
  int32_t verticalTaps = 0;
  int32_t channels = 0;
  int64_t ringRowSize = 0;
  int64_t horizontalTableOffset = 0;
  int64_t verticalTableOffset = 0;
  int64_t rowBufferOffset = 0;  // 0 when there is no row buffer
  int64_t marginBytes = 0;
  int64_t workingRowOffset = 0;  // 0 when the space is the default
  int64_t workingMarginPixels = 0;
  int64_t size = 0;
};

OSErr LayOutBlock(const ResampleContext& c, const AxisPositions& h, const AxisPositions& v,
                  BlockLayout* layout) {
  const int64_t hTaps = TableTapsForScale(c.kernel, h.scale, FullWidth(&c), h.origin, h.step);
  const int64_t vTaps = TableTapsForScale(c.kernel, v.scale, FullHeight(&c), v.origin, v.step);
  if (hTaps < 1 || vTaps < 1) return paramErr;
  if (hTaps > kMaxFilterTaps || vTaps > kMaxFilterTaps) return memFullErr;
  BlockLayout l;
  l.horizontalTaps = int32_t(hTaps);
  l.verticalTaps = int32_t(vTaps);
  l.channels = SpaceChannels(c.space, c.sourceClass, c.destinationClass);
  l.ringRowSize = int64_t(c.destinationWidth) * l.channels * 2;
  const int64_t ringArea = std::max(l.ringRowSize * vTaps, 8 * std::max(hTaps, vTaps));
  l.horizontalTableOffset = ringArea;
  l.verticalTableOffset =
      l.horizontalTableOffset + FilterTableBytes(FullWidth(&c), l.horizontalTaps);
  l.size = l.verticalTableOffset + FilterTableBytes(FullHeight(&c), l.verticalTaps);
  const bool pad = c.horizontalEdge == kEdgeWrap;
  const bool pinch = c.verticalEdge == kEdgePinch;
  if (pad || pinch) {
    const int64_t bytesPerPixel = BytesPerPixelOfClass(c.sourceClass);
    l.rowBufferOffset = (l.size + 3) & ~int64_t(3);
    l.marginBytes = pad ? ((hTaps + 1) >> 1) * bytesPerPixel : 0;
    l.size = l.rowBufferOffset + 2 * l.marginBytes + int64_t(c.sourceWidth) * bytesPerPixel;
  }
  if (!IsDefaultSpace(c.space) && c.sourceSamples == SourceSamples::kStored) {
    l.workingMarginPixels = pad ? (hTaps + 1) >> 1 : 0;
    l.workingRowOffset = (l.size + 31) & ~int64_t(31);
    l.size = l.workingRowOffset +
             WorkingRowBytes(c.sourceClass, c.sourceWidth + 2 * l.workingMarginPixels);
  }
  *layout = l;
  return noErr;
}

// Source rows come in fetch order. Rows that neither this fetch nor any
// later one needs are let go, so that the writer of a ring may reuse them:
// in batches, so that a writer waiting for room is not woken at every row,
// and always before waiting for a row, so that the writer is never kept
// waiting for room that could be had.
const uint8_t* StreamSourceRow(const ResampleContext* c, int32_t row) {
  assert(row >= 0 && row < c->sourceHeight);
  RowStreams* s = c->streams;
  if (s->keepFrom != nullptr) {
    constexpr int32_t kReleaseBatch = RowBand::kRowsInFlight;
    const int32_t keep = s->keepFrom[s->fetches++];
    if (keep - s->released >= kReleaseBatch || !s->source->IsFinal(row)) {
      s->source->Release(keep, s->reader);
      s->released = keep;
    }
  }
  return s->source->RowToRead(row);
}

// Row y of the sharpened picture into the destination, rows above it final.
void PublishSharpened(RowBand* destination, const SharpenRing& ring, int32_t y) {
  destination->Publish(y);
  ring.Sharpen(y, destination->RowToWrite(y));
}

// Rows go to the ring, each sharpened once the row below it is made: when
// row y is asked for, row y - 2 has every neighbour. After a stop nothing
// more is sharpened.
uint8_t* SharpenedDestinationRow(const ResampleContext* c, int32_t row) {
  RowStreams* s = c->streams;
  SharpenRing& ring = *s->sharpen;
  const bool stopped = s->source->Stopped() || s->destination->Stopped();
  if (row == kEndOfRowsMark) {
    const int32_t last = ring.Height() - 1;
    if (stopped) return nullptr;
    ring.Written(last);
    if (last > 0) PublishSharpened(s->destination, ring, last - 1);
    PublishSharpened(s->destination, ring, last);
    s->destination->Publish(ring.Height());
    return nullptr;
  }
  if (row > 0 && !stopped) ring.Written(row - 1);
  if (row > 1 && !stopped) PublishSharpened(s->destination, ring, row - 2);
  return ring.RowFor(row);
}

// Rows before the one asked for are final.
uint8_t* StreamDestinationRow(const ResampleContext* c, int32_t row) {
  if (c->streams->sharpen != nullptr) return SharpenedDestinationRow(c, row);
  RowBand* destination = c->streams->destination;
  if (row == kEndOfRowsMark) {
    // After a stop the rows below were never written: they are not
    // published (nor prepared); the stop travels on instead.
    if (!c->streams->source->Stopped()) destination->Publish(c->destinationHeight);
    return nullptr;
  }
  assert(row >= 0 && row < c->destinationHeight);
  destination->Publish(row);
  return destination->RowToWrite(row);
}

// The source row behind virtual row `row` of the vertical table, as the
// edge fetchers map it.
int32_t MappedSourceRow(int32_t verticalMode, int32_t row, int32_t height) {
  if (verticalMode == kEdgeWrap) return WrapRowIndex(row, height);
  if (verticalMode == kEdgePinch) {
    const int32_t rho = PinchRowIndex(row, height);
    return rho >= 0 ? rho : -1 - rho;
  }
  return row;
}

void BuildTables(ResampleContext* c, const BlockLayout& l, uint8_t* block, const AxisPositions& h,
                 const AxisPositions& v) {
  double* scratch = reinterpret_cast<double*>(block);
  int16_t* hTable = reinterpret_cast<int16_t*>(block + l.horizontalTableOffset);
  int16_t* vTable = reinterpret_cast<int16_t*>(block + l.verticalTableOffset);
  const FilterSetup setup = FilterSetupForKernel(c->kernel);
  SetupFilterTable(setup, c->horizontalEdge, l.horizontalTaps, FullWidth(c), c->sourceWidth,
                   h.origin, h.scale, h.step, 1.0, scratch, hTable);
  SetupFilterTable(setup, c->verticalEdge + kEdgeVertical, l.verticalTaps, FullHeight(c),
                   c->sourceHeight, v.origin, v.scale, v.step, 1.0, scratch, vTable);
  c->horizontalTaps = l.horizontalTaps;
  c->horizontalStride = FilterEntryWords(l.horizontalTaps) * 2;
  c->verticalTaps = l.verticalTaps;
  c->verticalStride = FilterEntryWords(l.verticalTaps) * 2;
  // Each entry is its output sample's alone: a window's are a run of them.
  c->horizontalTable = reinterpret_cast<const int16_t*>(reinterpret_cast<uint8_t*>(hTable) +
                                                        c->windowLeft * c->horizontalStride);
  c->verticalTable = reinterpret_cast<const int16_t*>(reinterpret_cast<uint8_t*>(vTable) +
                                                      c->windowTop * c->verticalStride);
}

int32_t EdgeFlags(const ResampleContext& c) {
  int32_t flags = 0;
  if (c.horizontalEdge == kEdgeWrap) flags |= kFetchPad;
  if (c.verticalEdge == kEdgeWrap) flags |= kFetchWrapRows;
  if (c.verticalEdge == kEdgePinch) flags |= kFetchPinchRows;
  return flags;
}

// The row loop over the built tables, with the edge fetchers and the
// filter space the context asks for, in the block laid out so.
void RunInBlock(ResampleContext* context, const BlockLayout& layout, uint8_t* bytes) {
  context->ring = bytes;
  context->ringRowSize = layout.ringRowSize;
  const SimdLevel level = ResampleSimdLevel();  // once per resize, never per row
  context->horizontal = HorizontalProcFor(layout.channels, context->sourceClass, level);
  context->vertical = VerticalProcFor(layout.channels, context->destinationClass, level);
  SpaceRows spaceRows;
  if (!IsDefaultSpace(context->space)) {
    UseFilterSpace(context, &spaceRows, bytes + layout.workingRowOffset, layout.workingMarginPixels,
                   level);
  }
  assert(context->horizontal != nullptr && context->vertical != nullptr);

  const int32_t flags = EdgeFlags(*context);
  if (flags == 0) {
    ResampleRows(context);
    context->spaceRows = nullptr;
    return;
  }
  EdgeFetcher fetcher{*context,
                      context,
                      bytes + layout.rowBufferOffset + layout.marginBytes,
                      int64_t(context->sourceWidth) * BytesPerPixelOfClass(context->sourceClass),
                      context->sourceHeight,
                      layout.marginBytes};
  fetcher.context.sourceRow = EdgeFetcherForFlags(flags);
  fetcher.context.destinationRow = ForwardDestinationRow;
  ResampleRows(&fetcher.context);
  context->spaceRows = nullptr;
}

struct FreeDeleter {
  void operator()(void* p) const { std::free(p); }
};

}  // namespace

OSErr Resample(ResampleContext* context, const AxisPositions& horizontal,
               const AxisPositions& vertical, void* block) {
  // The treatment in force in each direction, decoded before anything
  // looks at it (a prepared resize has done so already).
  context->horizontalEdge = HorizontalMode(context->horizontalEdge);
  context->verticalEdge = VerticalMode(context->verticalEdge);
  BlockLayout layout;
  if (OSErr err = LayOutBlock(*context, horizontal, vertical, &layout)) {
    return err;
  }
  if (context->sourceRow == nullptr || context->destinationRow == nullptr) {
    *static_cast<int64_t*>(block) = layout.size;
    return noErr;
  }
  uint8_t* bytes = static_cast<uint8_t*>(block);
  if (!context->tablesBuilt) {
    BuildTables(context, layout, bytes, horizontal, vertical);
  }
  RunInBlock(context, layout, bytes);
  return noErr;
}

void ResampleRows(const ResampleContext* context) {
  const int32_t capacity = context->verticalTaps;
  const int64_t rowSize = context->ringRowSize;
  uint8_t* ring = context->ring;
  int64_t base = EntryStart(VerticalEntry(context, 0));  // source row in ring slot 0
  int64_t next = base;                                   // next source row to fetch
  for (int32_t i = 0; i < context->destinationHeight; ++i) {
    // A failed drawing gives nothing worth filtering; a failed encoder
    // wants no more rows.
    if (context->streams != nullptr &&
        (context->streams->source->Stopped() || context->streams->destination->Stopped())) {
      break;
    }
    const int16_t* entry = VerticalEntry(context, i);
    const int64_t start = EntryStart(entry);
    const int64_t count = EntryCount(entry);
    assert(start >= base);  // vertical starts never decrease
    if (start > base) {
      const int64_t shift = start - base;
      if (shift < capacity) {
        std::memmove(ring, ring + shift * rowSize, size_t((capacity - shift) * rowSize));
      }
      base = start;
    }
    next = std::max(next, base);  // rows that no entry needs are skipped
    assert(start + count - base <= capacity);
    for (; next < start + count; ++next) {
      const uint8_t* sourceRow = context->sourceRow(context, int32_t(next));
      context->horizontal(context, sourceRow,
                          reinterpret_cast<int16_t*>(ring + (next - base) * rowSize));
    }
    context->vertical(context, ring, entry, context->destinationRow(context, i));
    if (context->streams != nullptr) bandRowsMade.fetch_add(1, std::memory_order_relaxed);
  }
  context->destinationRow(context, kEndOfRowsMark);
}

int64_t ResizesPrepared() {
  return resizesPrepared.load(std::memory_order_relaxed);
}

int64_t BandRowsMade() {
  return bandRowsMade.load(std::memory_order_relaxed);
}

std::vector<int32_t> SourceFetchOrder(const ResampleContext* context) {
  std::vector<int32_t> order;
  order.reserve(size_t(context->sourceHeight) + size_t(context->verticalTaps));
  const EdgeMode mode = context->verticalEdge;
  // The same walk as ResampleRows: every virtual row once, from the top.
  int64_t base = EntryStart(VerticalEntry(context, 0));
  int64_t next = base;
  for (int32_t i = 0; i < context->destinationHeight; ++i) {
    const int16_t* entry = VerticalEntry(context, i);
    const int64_t start = EntryStart(entry);
    base = std::max(base, start);
    next = std::max(next, base);
    for (; next < start + EntryCount(entry); ++next) {
      order.push_back(MappedSourceRow(mode, int32_t(next), context->sourceHeight));
    }
  }
  return order;
}

struct PreparedResample {
  ResampleContext context;
  AxisPositions horizontal;
  AxisPositions vertical;
  std::unique_ptr<void, FreeDeleter> block;
  RowStreams streams;
  std::vector<int32_t> keepFrom;  // per fetch: the first row still needed
  int32_t sourceRowsHeld = 0;
  std::unique_ptr<SharpenRing> sharpen;  // when the rows are sharpened
};

void PreparedResampleDeleter::operator()(PreparedResample* prepared) const {
  delete prepared;
}

namespace {

// Works out, from the fetch order, when each source row may be let go and
// how many rows are held at most.
void PlanSourceRows(PreparedResample* p) {
  std::vector<int32_t> order = SourceFetchOrder(&p->context);
  p->keepFrom.resize(order.size());
  int32_t lowest = INT32_MAX;
  for (size_t j = order.size(); j-- > 0;) {
    lowest = std::min(lowest, order[j]);
    p->keepFrom[j] = lowest;
  }
  int32_t highest = 0;
  int32_t held = 1;
  for (size_t j = 0; j < order.size(); ++j) {
    highest = std::max(highest, order[j]);
    held = std::max(held, highest - p->keepFrom[j] + 1);
  }
  p->sourceRowsHeld = held;
}

}  // namespace

OSErr PrepareResample(const ResampleRequest& request, PreparedResamplePtr* prepared) {
  const ImageShape& source = request.source;
  const ImageShape& destination = request.destination;
  const OutputWindow& window = request.window;
  const ResampleFilter& filter = request.filter;
  if (prepared == nullptr) return paramErr;
  prepared->reset();
  const PixelClass fromClass = ClassifyPixelFormat(source.pixelFormat);
  if (fromClass == kClassNone) return cDepthErr;
  const PixelClass toClass = ClassifyPixelFormat(destination.pixelFormat);
  if (toClass == kClassNone) return cDepthErr;
  if (source.width < 1 || source.height < 1 || destination.width < 1 || destination.height < 1) {
    return paramErr;
  }
  if (window.width < 1 || window.height < 1 || window.left < 0 || window.top < 0 ||
      window.width > destination.width - window.left ||
      window.height > destination.height - window.top) {
    return paramErr;
  }
  if (request.sharpen < 0 || request.sharpen > kSharpenMost) return paramErr;

  PreparedResamplePtr p(new (std::nothrow) PreparedResample);
  if (p == nullptr) return memFullErr;
  resizesPrepared.fetch_add(1, std::memory_order_relaxed);
  ResampleContext& context = p->context;
  context.sourceWidth = source.width;
  context.sourceHeight = source.height;
  context.destinationWidth = window.width;
  context.destinationHeight = window.height;
  context.fullWidth = destination.width;
  context.fullHeight = destination.height;
  context.windowLeft = window.left;
  context.windowTop = window.top;
  context.sourceClass = fromClass;
  context.destinationClass = toClass;
  context.horizontalEdge = filter.horizontalEdge;
  context.verticalEdge = filter.verticalEdge;
  context.kernel = filter.kernel;
  context.space = EffectiveFilterSpace(filter.space, fromClass, toClass);
  context.sourceSamples = request.samples;
  p->horizontal = AxisPositionsFor(filter.alignment, source.width, destination.width);
  p->vertical = AxisPositionsFor(filter.alignment, source.height, destination.height);

  int64_t size = 0;
  if (OSErr err = Resample(&context, p->horizontal, p->vertical, &size)) {
    return err;
  }
  if (size <= 0 || uint64_t(size) > uint64_t(std::numeric_limits<ptrdiff_t>::max())) {
    return memFullErr;
  }
  p->block.reset(std::malloc(size_t(size)));
  if (p->block == nullptr) return memFullErr;
  // The tables are built once, here, to plan the source rows; the run uses them.
  BlockLayout layout;
  LayOutBlock(context, p->horizontal, p->vertical, &layout);
  BuildTables(&context, layout, static_cast<uint8_t*>(p->block.get()), p->horizontal, p->vertical);
  context.tablesBuilt = true;
  try {
    PlanSourceRows(p.get());
    if (request.sharpen != 0) {
      p->sharpen =
          std::make_unique<SharpenRing>(toClass, window.width, window.height, request.sharpen);
    }
  } catch (const std::bad_alloc&) {
    return memFullErr;
  }
  context.sourceRow = StreamSourceRow;
  context.destinationRow = StreamDestinationRow;
  context.streams = &p->streams;
  *prepared = std::move(p);
  return noErr;
}

int32_t SourceRowsHeld(const PreparedResample* prepared) {
  return prepared->sourceRowsHeld;
}

bool SourceMayBeRing(EdgeMode verticalEdge) {
  return VerticalMode(verticalEdge) != kEdgeWrap;
}

void RunPreparedResample(PreparedResample* prepared, RowBand* source, RowBand* destination,
                         int32_t sourceReader) {
  ResampleContext& context = prepared->context;
  RowStreams& streams = prepared->streams;
  streams.source = source;
  streams.destination = destination;
  streams.keepFrom = source->IsWhole() ? nullptr : prepared->keepFrom.data();
  streams.fetches = 0;
  streams.released = 0;
  streams.reader = sourceReader;
  streams.sharpen = prepared->sharpen.get();
  // The sizes were laid out when the block was sized: this call cannot fail.
  const OSErr err =
      Resample(&context, prepared->horizontal, prepared->vertical, prepared->block.get());
  assert(err == noErr);
  (void)err;
  source->Release(RowBand::kAllRows, sourceReader);
  // A failed drawing stops the encoder too; after a failed encoder the
  // drawer, let go of above, ends on its own.
  if (source->Stopped()) {
    destination->Stop(source->StopError(), RowBand::kWriter);
  } else if (!destination->Stopped()) {
    destination->Close();
  }
}

const ResampleContext* PreparedContext(const PreparedResample* prepared) {
  return &prepared->context;
}

void RunPreparedResampleRegion(PreparedResample* prepared, const OutputWindow& region,
                               RowBand* source, RowBand* destination) {
  const ResampleContext& whole = prepared->context;
  // A part's sharpening would need its neighbours' unsharpened rows.
  assert(prepared->sharpen == nullptr);
  assert(source->IsWhole());
  assert(region.left >= 0 && region.top >= 0 && region.width >= 1 && region.height >= 1 &&
         region.left + region.width <= whole.destinationWidth &&
         region.top + region.height <= whole.destinationHeight);
  // The block is laid out for the whole window; a part of it needs less of
  // the ring and reads its run of the same tables.
  BlockLayout layout;
  LayOutBlock(whole, prepared->horizontal, prepared->vertical, &layout);
  layout.ringRowSize = int64_t(region.width) * layout.channels * 2;
  ResampleContext part = whole;
  part.destinationWidth = region.width;
  part.destinationHeight = region.height;
  part.windowLeft += region.left;
  part.windowTop += region.top;
  part.horizontalTable = HorizontalEntry(&whole, region.left);
  part.verticalTable = VerticalEntry(&whole, region.top);
  RowStreams streams;
  streams.source = source;
  streams.destination = destination;
  part.streams = &streams;
  RunInBlock(&part, layout, static_cast<uint8_t*>(prepared->block.get()));
  destination->Close();
}

OSErr ResampleGWorld(GWorldPtr source, GWorldPtr destination, EdgeMode horizontalEdge,
                     EdgeMode verticalEdge, KernelKind kernel) {
  return ResampleGWorld(
      source, destination,
      {horizontalEdge, verticalEdge, kernel, FilterSpace{}, SampleAlignment::kCorners});
}

OSErr ResampleGWorld(GWorldPtr source, GWorldPtr destination, const ResampleFilter& filter) {
  if (source == nullptr || destination == nullptr) return paramErr;
  RowBand sourceRows;
  sourceRows.AttachWhole(PixelViewOf(source), true);
  RowBand destinationRows;
  destinationRows.AttachWhole(PixelViewOf(destination), false);
  const ImageShape to{destinationRows.Width(), destinationRows.Height(),
                      destinationRows.PixelFormat()};
  PreparedResamplePtr prepared;
  if (OSErr err =
          PrepareResample({{sourceRows.Width(), sourceRows.Height(), sourceRows.PixelFormat()},
                           to,
                           {0, 0, to.width, to.height},
                           SourceSamples::kStored,
                           filter,
                           0},
                          &prepared)) {
    return err;
  }
  RunPreparedResample(prepared.get(), &sourceRows, &destinationRows, 0);
  return noErr;
}
