#include "platform/gworld.h"

#include <cstdlib>
#include <new>

#include "base/large_block.h"
#include "base/memory_limit.h"

void MacSetRect(Rect* r, int32_t left, int32_t top, int32_t right, int32_t bottom) {
  r->top = top;
  r->left = left;
  r->bottom = bottom;
  r->right = right;
}

PixelView PixelViewOf(GWorld* gw) {
  // The port rectangle within the pixel map.
  const PixMap& map = gw->pixMap;
  const Rect& port = gw->portRect;
  PixelView view;
  view.width = port.right - port.left;
  view.height = port.bottom - port.top;
  view.pixelFormat = map.pixelFormat;
  view.pixelSize = map.pixelSize;
  view.rowBytes = map.rowBytes;
  view.base = static_cast<uint8_t*>(map.baseAddr) +
              int64_t(port.top - map.bounds.top) * view.rowBytes +
              int64_t(port.left - map.bounds.left) * (map.pixelSize / 8);
  return view;
}

namespace {

constexpr uint64_t kRowAlignment = 16;
// Keeps every row stride and offset within the 32-bit fields that hold them.
constexpr uint64_t kMaxRowBytes = 0x7FFFFFF0;

struct Layout {
  int32_t rowBytes = 0;
  size_t size = 0;
};

// paramErr for sizes below 1 or unknown formats, memFullErr for sizes that
// cannot be addressed.
OSErr ComputeLayout(OSType pixelFormat, const Rect* bounds, Layout* layout) {
  int16_t bits = PixelSizeOfFormat(pixelFormat);
  if (bits == 0 || bounds == nullptr) return paramErr;
  int64_t width = int64_t(bounds->right) - bounds->left;
  int64_t height = int64_t(bounds->bottom) - bounds->top;
  if (width < 1 || height < 1) return paramErr;
  uint64_t row = (uint64_t(width) * uint64_t(bits / 8) + kRowAlignment - 1) & ~(kRowAlignment - 1);
  if (row > kMaxRowBytes) return memFullErr;
  if (uint64_t(height) > SIZE_MAX / row) return memFullErr;
  layout->rowBytes = int32_t(row);
  layout->size = size_t(row * uint64_t(height));
  return noErr;
}

void FillPixMap(GWorld* gw, OSType pixelFormat, const Rect& bounds, int32_t rowBytes) {
  gw->portRect = bounds;
  gw->pixMap.bounds = bounds;
  gw->pixMap.rowBytes = rowBytes;
  gw->pixMap.pixelFormat = pixelFormat;
  gw->pixMap.pixelSize = PixelSizeOfFormat(pixelFormat);
}

}  // namespace

OSErr QTNewGWorld(GWorldPtr* gw, OSType pixelFormat, const Rect* bounds, CTabHandle, GDHandle,
                  GWorldFlags) {
  if (gw == nullptr) return paramErr;
  *gw = nullptr;
  Layout layout;
  if (OSErr err = ComputeLayout(pixelFormat, bounds, &layout)) return err;
  // Refused before anything is allocated when the buffers held would then
  // outgrow the machine: the system would otherwise grant the block and fail
  // only when its pages are touched.
  if (!ReservePixelBytes(layout.size)) return memFullErr;
  // No page is touched until it is drawn.
  void* pixels = AllocateLargeBlock(layout.size);
  GWorld* world = pixels != nullptr ? new (std::nothrow) GWorld : nullptr;
  if (world == nullptr) {
    FreeLargeBlock(pixels, layout.size);
    ReleasePixelBytes(layout.size);
    return memFullErr;
  }
  FillPixMap(world, pixelFormat, *bounds, layout.rowBytes);
  world->pixMap.baseAddr = pixels;
  world->capacity = layout.size;
  *gw = world;
  return noErr;
}

GWorldFlags QTUpdateGWorld(GWorldPtr* gw, OSType pixelFormat, const Rect* bounds, CTabHandle,
                           GDHandle, GWorldFlags) {
  if (gw == nullptr || *gw == nullptr) return gwFlagErr;
  Layout layout;
  if (ComputeLayout(pixelFormat, bounds, &layout) != noErr) return gwFlagErr;
  GWorld* world = *gw;
  if (layout.size > world->capacity) {
    // The old block goes as the new one comes; only the growth is counted.
    const uint64_t growth = layout.size - world->capacity;
    if (!ReservePixelBytes(growth)) return gwFlagErr;
    void* pixels = AllocateLargeBlock(layout.size);
    if (pixels == nullptr) {
      ReleasePixelBytes(growth);
      return gwFlagErr;
    }
    FreeLargeBlock(world->pixMap.baseAddr, world->capacity);
    world->pixMap.baseAddr = pixels;
    world->capacity = layout.size;
  }
  FillPixMap(world, pixelFormat, *bounds, layout.rowBytes);
  return 0;
}

void DisposeGWorld(GWorldPtr gw) {
  if (gw == nullptr) return;
  FreeLargeBlock(gw->pixMap.baseAddr, gw->capacity);
  ReleasePixelBytes(gw->capacity);
  delete gw;
}

PixMapHandle GetGWorldPixMap(GWorldPtr gw) {
  return gw ? &gw->pixMap : nullptr;
}

void* GetPixBaseAddr(PixMapHandle pm) {
  return pm ? pm->baseAddr : nullptr;
}

int32_t QTGetPixMapHandleRowBytes(PixMapHandle pm) {
  return pm ? pm->rowBytes : 0;
}
