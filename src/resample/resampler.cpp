#include "resample/resampler.h"

#include <algorithm>
#include <cassert>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <new>

#include "platform/row_gate.h"
#include "resample/edge_fetch.h"
#include "resample/filter_table.h"
#include "resample/kernels.h"
#include "resample/resample.h"
#include "resample/row_procs.h"

namespace {

constexpr int32_t kEdgeTreatmentMask = 7;
constexpr int32_t kEndOfRowsMark = std::numeric_limits<int32_t>::min();

// Edge treatment in force per direction. A horizontal pinch has no fetcher
// and is taken as the default; so is any value but wrap and pinch.
int32_t HorizontalMode(int32_t edge) {
  return (edge & kEdgeTreatmentMask) == kEdgeWrap ? kEdgeWrap : kEdgeDefault;
}
int32_t VerticalMode(int32_t edge) {
  const int32_t mode = edge & kEdgeTreatmentMask;
  return mode == kEdgeWrap || mode == kEdgePinch ? mode : kEdgeDefault;
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
  int64_t size = 0;
};

OSErr LayOutBlock(const ResampleContext& c, double horizontalScale, double horizontalOrigin,
                  double verticalScale, double verticalOrigin, BlockLayout* layout) {
  const int64_t hTaps =
      TableTapsForScale(c.kernel, horizontalScale, c.destinationWidth, horizontalOrigin);
  const int64_t vTaps =
      TableTapsForScale(c.kernel, verticalScale, c.destinationHeight, verticalOrigin);
  if (hTaps < 1 || vTaps < 1) return paramErr;
  if (hTaps > kMaxFilterTaps || vTaps > kMaxFilterTaps) return memFullErr;
  BlockLayout l;
  l.horizontalTaps = int32_t(hTaps);
  l.verticalTaps = int32_t(vTaps);
  l.channels = IntermediateChannels(c.sourceClass, c.destinationClass);
  l.ringRowSize = int64_t(c.destinationWidth) * l.channels * 2;
  const int64_t ringArea = std::max(l.ringRowSize * vTaps, 8 * std::max(hTaps, vTaps));
  l.horizontalTableOffset = ringArea;
  l.verticalTableOffset =
      l.horizontalTableOffset + FilterTableBytes(c.destinationWidth, l.horizontalTaps);
  l.size = l.verticalTableOffset + FilterTableBytes(c.destinationHeight, l.verticalTaps);
  const bool pad = HorizontalMode(c.horizontalEdge) == kEdgeWrap;
  const bool pinch = VerticalMode(c.verticalEdge) == kEdgePinch;
  if (pad || pinch) {
    const int64_t bytesPerPixel = BytesPerPixelOfClass(c.sourceClass);
    l.rowBufferOffset = (l.size + 3) & ~int64_t(3);
    l.marginBytes = pad ? ((hTaps + 1) >> 1) * bytesPerPixel : 0;
    l.size = l.rowBufferOffset + 2 * l.marginBytes + int64_t(c.sourceWidth) * bytesPerPixel;
  }
  *layout = l;
  return noErr;
}

const uint8_t* BufferSourceRow(const ResampleContext* c, int32_t row) {
  assert(row >= 0 && row < c->sourceHeight);
  if (c->sourceGate != nullptr) c->sourceGate->WaitFor(int64_t(row) + 1);
  return c->sourceBase + int64_t(row) * c->sourceRowBytes;
}

uint8_t* BufferDestinationRow(const ResampleContext* c, int32_t row) {
  if (c->rowsDone != nullptr) {
    c->rowsDone(c->rowsDoneCookie, row == kEndOfRowsMark ? c->destinationHeight : row);
  }
  if (row == kEndOfRowsMark) return nullptr;
  assert(row >= 0 && row < c->destinationHeight);
  return c->destinationBase + int64_t(row) * c->destinationRowBytes;
}

void BuildTables(ResampleContext* c, const BlockLayout& l, uint8_t* block, double hScale,
                 double hOrigin, double vScale, double vOrigin) {
  double* scratch = reinterpret_cast<double*>(block);
  int16_t* hTable = reinterpret_cast<int16_t*>(block + l.horizontalTableOffset);
  int16_t* vTable = reinterpret_cast<int16_t*>(block + l.verticalTableOffset);
  const FilterSetup setup = FilterSetupForKernel(c->kernel);
  setup(HorizontalMode(c->horizontalEdge), l.horizontalTaps, c->destinationWidth, c->sourceWidth,
        hOrigin, hScale, 1.0, scratch, hTable);
  setup(VerticalMode(c->verticalEdge) + kEdgeVertical, l.verticalTaps, c->destinationHeight,
        c->sourceHeight, vOrigin, vScale, 1.0, scratch, vTable);
  c->horizontalTable = hTable;
  c->horizontalTaps = l.horizontalTaps;
  c->horizontalStride = FilterEntryWords(l.horizontalTaps) * 2;
  c->verticalTable = vTable;
  c->verticalTaps = l.verticalTaps;
  c->verticalStride = FilterEntryWords(l.verticalTaps) * 2;
}

int32_t EdgeFlags(const ResampleContext& c) {
  int32_t flags = 0;
  if (HorizontalMode(c.horizontalEdge) == kEdgeWrap) flags |= kFetchPad;
  if (VerticalMode(c.verticalEdge) == kEdgeWrap) flags |= kFetchWrapRows;
  if (VerticalMode(c.verticalEdge) == kEdgePinch) flags |= kFetchPinchRows;
  return flags;
}

struct BufferView {
  int32_t width = 0;
  int32_t height = 0;
  PixelClass cls = kClassNone;
  uint8_t* base = nullptr;  // first pixel of the port rectangle
  int64_t rowBytes = 0;
};

BufferView ViewOf(GWorldPtr world) {
  BufferView v;
  const Rect& port = world->portRect;
  v.width = port.right - port.left;
  v.height = port.bottom - port.top;
  PixMapHandle pixMap = GetGWorldPixMap(world);
  v.cls = ClassifyPixelFormat(pixMap->pixelFormat);
  v.rowBytes = QTGetPixMapHandleRowBytes(pixMap);
  const int64_t left = int64_t(port.left - pixMap->bounds.left) * pixMap->pixelSize / 8;
  const int64_t top = int64_t(port.top - pixMap->bounds.top) * v.rowBytes;
  v.base = static_cast<uint8_t*>(GetPixBaseAddr(pixMap)) + left + top;
  return v;
}

struct FreeDeleter {
  void operator()(void* p) const { std::free(p); }
};

}  // namespace

PixelClass ClassifyPixelFormat(OSType pixelFormat) {
  switch (pixelFormat) {
    case k32ARGBPixelFormat:
      return kClassARGB32;
    case k8IndexedPixelFormat:
    case k8IndexedGrayPixelFormat:
      return kClassGray8;
    case k48RGBCodecType:
      return kClassRGB48;
    case k64ARGBPixelFormat:
      return kClassARGB64;
    default:
      return kClassNone;
  }
}

int32_t ChannelsOfClass(PixelClass cls) {
  constexpr int32_t kChannels[kPixelClassCount] = {4, 1, 3, 4};
  return cls < kPixelClassCount ? kChannels[cls] : 0;
}

int32_t BytesPerPixelOfClass(PixelClass cls) {
  constexpr int32_t kBytes[kPixelClassCount] = {4, 1, 6, 8};
  return cls < kPixelClassCount ? kBytes[cls] : 0;
}

int32_t IntermediateChannels(PixelClass source, PixelClass destination) {
  return std::min(ChannelsOfClass(source), ChannelsOfClass(destination));
}

double CornerAlignedScale(int32_t sourceLength, int32_t destinationLength) {
  if (destinationLength <= 1) return 1.0;
  if (sourceLength <= 1) return std::numeric_limits<double>::infinity();
  return double(destinationLength - 1) / double(sourceLength - 1);
}

OSErr Resample(ResampleContext* context, double horizontalScale, double horizontalOrigin,
               double verticalScale, double verticalOrigin, void* block) {
  BlockLayout layout;
  if (OSErr err = LayOutBlock(*context, horizontalScale, horizontalOrigin, verticalScale,
                              verticalOrigin, &layout)) {
    return err;
  }
  if (context->sourceRow == nullptr || context->destinationRow == nullptr) {
    *static_cast<int64_t*>(block) = layout.size;
    return noErr;
  }
  uint8_t* bytes = static_cast<uint8_t*>(block);
  BuildTables(context, layout, bytes, horizontalScale, horizontalOrigin, verticalScale,
              verticalOrigin);
  context->ring = bytes;
  context->ringRowSize = layout.ringRowSize;
  const SimdLevel level = ResampleSimdLevel();  // once per resize, never per row
  context->horizontal = HorizontalProcFor(layout.channels, context->sourceClass, level);
  context->vertical = VerticalProcFor(layout.channels, context->destinationClass, level);
  assert(context->horizontal != nullptr && context->vertical != nullptr);

  const int32_t flags = EdgeFlags(*context);
  if (flags == 0) {
    ResampleRows(context);
    return noErr;
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
  return noErr;
}

void ResampleRows(const ResampleContext* context) {
  const int32_t capacity = context->verticalTaps;
  const int64_t rowSize = context->ringRowSize;
  uint8_t* ring = context->ring;
  int64_t base = EntryStart(VerticalEntry(context, 0));  // source row in ring slot 0
  int64_t next = base;                                   // next source row to fetch
  for (int32_t i = 0; i < context->destinationHeight; ++i) {
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
  }
  context->destinationRow(context, kEndOfRowsMark);
}

struct PreparedResample {
  ResampleContext context;
  double horizontalScale = 0;
  double verticalScale = 0;
  std::unique_ptr<void, FreeDeleter> block;
};

void PreparedResampleDeleter::operator()(PreparedResample* prepared) const {
  delete prepared;
}

OSErr PrepareResampleGWorld(GWorldPtr source, GWorldPtr destination, int32_t horizontalEdge,
                            int32_t verticalEdge, int32_t kernel, PreparedResamplePtr* prepared) {
  if (prepared == nullptr) return paramErr;
  prepared->reset();
  if (source == nullptr || destination == nullptr) return paramErr;
  const BufferView from = ViewOf(source);
  if (from.cls == kClassNone) return cDepthErr;
  const BufferView to = ViewOf(destination);
  if (to.cls == kClassNone) return cDepthErr;
  if (from.width < 1 || from.height < 1 || to.width < 1 || to.height < 1) return paramErr;

  PreparedResamplePtr p(new (std::nothrow) PreparedResample);
  if (p == nullptr) return memFullErr;
  ResampleContext& context = p->context;
  context.sourceWidth = from.width;
  context.sourceHeight = from.height;
  context.destinationWidth = to.width;
  context.destinationHeight = to.height;
  context.sourceClass = from.cls;
  context.destinationClass = to.cls;
  context.horizontalEdge = uint8_t(horizontalEdge);
  context.verticalEdge = uint8_t(verticalEdge);
  context.kernel = kernel;
  p->horizontalScale = CornerAlignedScale(from.width, to.width);
  p->verticalScale = CornerAlignedScale(from.height, to.height);

  int64_t size = 0;
  if (OSErr err = Resample(&context, p->horizontalScale, 0.0, p->verticalScale, 0.0, &size)) {
    return err;
  }
  if (size <= 0 || uint64_t(size) > uint64_t(std::numeric_limits<ptrdiff_t>::max())) {
    return memFullErr;
  }
  p->block.reset(std::malloc(size_t(size)));
  if (p->block == nullptr) return memFullErr;

  context.sourceBase = from.base;
  context.sourceRowBytes = from.rowBytes;
  context.destinationBase = to.base;
  context.destinationRowBytes = to.rowBytes;
  context.sourceRow = BufferSourceRow;
  context.destinationRow = BufferDestinationRow;
  context.sourceGate = source->drawGate;
  *prepared = std::move(p);
  return noErr;
}

void RunPreparedResample(PreparedResample* prepared, void (*rowsDone)(void* cookie, int32_t rows),
                         void* cookie) {
  ResampleContext& context = prepared->context;
  context.rowsDone = rowsDone;
  context.rowsDoneCookie = cookie;
  // The sizes were laid out when the block was sized: this call cannot fail.
  const OSErr err = Resample(&context, prepared->horizontalScale, 0.0, prepared->verticalScale, 0.0,
                             prepared->block.get());
  assert(err == noErr);
  (void)err;
}

OSErr ResampleGWorld(GWorldPtr source, GWorldPtr destination, int32_t horizontalEdge,
                     int32_t verticalEdge, int32_t kernel) {
  PreparedResamplePtr prepared;
  if (OSErr err = PrepareResampleGWorld(source, destination, horizontalEdge, verticalEdge, kernel,
                                        &prepared)) {
    return err;
  }
  RunPreparedResample(prepared.get(), nullptr, nullptr);
  return noErr;
}
