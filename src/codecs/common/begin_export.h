// What every exporter checks before it encodes.
#pragma once

#include <cstdint>

#include "platform/codec.h"

struct ExportImage {
  RowBand* rows = nullptr;
  int64_t width = 0;
  int64_t height = 0;
};

// paramErr without an image or a sink, or for an image under 1 or over
// maxSide pixels on a side (the format's own limit).
OSErr BeginExport(const ExportRequest& request, const ByteSink* out, int64_t maxSide,
                  ExportImage* image);
