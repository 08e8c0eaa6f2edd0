#include "codecs/common/begin_export.h"

OSErr BeginExport(const ExportRequest& request, const ByteSink* out, int64_t maxSide,
                  ExportImage* image) {
  if (request.image == nullptr || out == nullptr) return paramErr;
  const int64_t width = request.image->Width();
  const int64_t height = request.image->Height();
  if (width < 1 || height < 1 || width > maxSide || height > maxSide) return paramErr;
  *image = {request.image, width, height};
  return noErr;
}
