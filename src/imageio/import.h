// Reading image files into pixel buffers.
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "base/deadline.h"
#include "platform/components.h"
#include "platform/gworld.h"
#include "platform/image_format.h"
#include "platform/user_data.h"

// The image's natural bounds (top-left at 0, 0).
int32_t ProbeNaturalBounds(const std::string& path, Rect* bounds);
// The same, and the file's format (nullptr when no importer claims it).
int32_t ProbeSource(const std::string& path, Rect* bounds, const ImageFormat** format);
// An importer chosen for a file, with its bounds and the buffer format the
// image prefers known; closed when the record goes.
struct OpenedImport {
  GraphicsImportComponent importer = nullptr;
  Rect bounds;
  OSType format = k32ARGBPixelFormat;
  bool hasAlpha = false;  // the picture may hold transparency
  Deadline deadline;      // the job's: a drawing past it stops (RowBand::SetDeadline)
  OpenedImport() = default;
  OpenedImport(const OpenedImport&) = delete;
  OpenedImport& operator=(const OpenedImport&) = delete;
  ~OpenedImport();
};
int32_t OpenImport(const std::string& path, OpenedImport* opened);
// The picture drawn at 1/scale of its natural size from now on (see
// GraphicsImportSetDrawScale); bounds become the drawn size.
int32_t SetDrawScale(OpenedImport* opened, int32_t scale);

// Draws the whole image into a new buffer of its bounds, in the
// format it prefers or, when a 16-bit buffer cannot be had or drawn,
// silently in 32-bit ARGB; with nativeOrder its 16-bit samples are in the
// machine's order. On failure *drawn is nullptr.
int32_t DrawWholeImage(const OpenedImport& opened, bool nativeOrder, GWorldPtr* drawn);

// A file encoded into memory, drawn whole into a new buffer of format (of
// the file's bounds) as its samples are stored: no colour matching, 16-bit
// samples most significant byte first. On failure *drawn is nullptr.
int32_t DrawEncodedImage(std::span<const uint8_t> bytes, OSType format, GWorldPtr* drawn);
