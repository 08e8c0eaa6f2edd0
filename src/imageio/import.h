// Reading image files into pixel buffers.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/fsspec.h"
#include "platform/gworld.h"
#include "platform/row_gate.h"
#include "platform/user_data.h"

OSErr PathToFSSpec(const std::string& path, FSSpec* spec);
// The image's natural bounds (top-left at 0, 0).
int32_t ProbeNaturalBounds(const std::string& path, Rect* bounds);
// Draws the whole image into a new buffer in the format the image prefers
// (32-bit ARGB, "b48r" or "b64a"), falling back silently to 32-bit ARGB; adds
// the file's metadata to ud when given. On failure *source is nullptr.
int32_t ImportImage(const std::string& path, GWorldPtr* source, UserData ud);

// An import whose pixels are still being drawn on another thread. Rows are
// published through the buffer's drawGate as they are finished; Finish (or
// the destructor) waits for the drawing to end.
class ImportAhead;
struct ImportAheadDeleter {
  void operator()(ImportAhead* ahead) const;
};
using ImportAheadPtr = std::unique_ptr<ImportAhead, ImportAheadDeleter>;

// Does what ImportImage does, except that for an image drawn by an importer
// that draws in bands, it returns once the buffer exists and leaves the
// drawing to another thread, publishing rows through gate (which must
// outlive every reader): *ahead is then set, the metadata is in ud, and the
// image's success comes from FinishImport. Results of the reading are the
// same either way; only when they are known differs.
int32_t StartImport(const std::string& path, GWorldPtr* source, UserData ud, RowGate* gate,
                    ImportAheadPtr* ahead);
// Waits for the drawing and answers its result. The buffer is no longer
// gated afterwards.
int32_t FinishImport(ImportAhead* ahead);

// Swaps the two bytes of every 16-bit sample within the buffer's bounds.
void SwapSampleBytes(GWorldPtr gw);
// The same over rows [firstRow, endRow) of the bounds only, so that the
// pass can follow rows as they are finished.
void SwapSampleBytesRows(GWorldPtr gw, int64_t firstRow, int64_t endRow);
