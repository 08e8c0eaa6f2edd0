// Offscreen pixel buffers. Rows are aligned to 16 bytes; the row stride may
// exceed the pixels. Sizes are computed in 64 bits.
#pragma once

#include <cstddef>
#include <cstdint>

#include "base/mac_types.h"
#include "base/pixel_view.h"

struct PixMap {
  void* baseAddr = nullptr;
  int32_t rowBytes = 0;
  Rect bounds;
  int16_t pixelSize = 0;  // bits per pixel: 8, 32, 48 or 64
  OSType pixelFormat = 0;
};
using PixMapHandle = PixMap*;

struct GWorld {
  Rect portRect;
  PixMap pixMap;
  size_t capacity = 0;  // bytes owned at pixMap.baseAddr
};
using GWorldPtr = GWorld*;
using CTabHandle = void*;
using GDHandle = void*;
using GWorldFlags = uint32_t;

constexpr GWorldFlags kNativeEndianPixMap = 0x1000;
constexpr GWorldFlags gwFlagErr = 0x80000000u;

// The port rectangle's pixels.
PixelView PixelViewOf(GWorld* gw);

// -50 for a width or height below 1 or an unknown format, -108 when the
// buffer cannot be had. The pixels are zero.
OSErr QTNewGWorld(GWorldPtr* gw, OSType pixelFormat, const Rect* bounds, CTabHandle cTable,
                  GDHandle device, GWorldFlags flags);
// Reshapes a buffer to new bounds and format; its pixels are then undefined.
// Answers gwFlagErr on failure, leaving the buffer as it was.
GWorldFlags QTUpdateGWorld(GWorldPtr* gw, OSType pixelFormat, const Rect* bounds, CTabHandle cTable,
                           GDHandle device, GWorldFlags flags);
void DisposeGWorld(GWorldPtr gw);
PixMapHandle GetGWorldPixMap(GWorldPtr gw);
void* GetPixBaseAddr(PixMapHandle pm);
int32_t QTGetPixMapHandleRowBytes(PixMapHandle pm);
