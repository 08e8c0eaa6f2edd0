#include "codecs/webp/webp_metadata.h"

#include <webp/mux.h>

#include <cstring>
#include <memory>

namespace {

struct MuxDeleter {
  void operator()(WebPMux* mux) const { WebPMuxDelete(mux); }
};

bool SetChunk(WebPMux* mux, const char* name, const std::vector<uint8_t>& bytes) {
  if (bytes.empty()) return true;
  const WebPData data{bytes.data(), bytes.size()};
  return WebPMuxSetChunk(mux, name, &data, 1) == WEBP_MUX_OK;
}

}  // namespace

bool IsWebpFile(ByteSpan file) {
  return file.size() >= 12 && std::memcmp(file.data(), "RIFF", 4) == 0 &&
         std::memcmp(file.data() + 8, "WEBP", 4) == 0;
}

bool PutWebpChunks(const WebpChunks& chunks, std::vector<uint8_t>* webp) {
  const WebPData file{webp->data(), webp->size()};
  std::unique_ptr<WebPMux, MuxDeleter> mux(WebPMuxCreate(&file, 1));
  if (!mux) return false;
  // A chunk the library refuses costs that chunk only.
  SetChunk(mux.get(), "EXIF", chunks.exif);
  SetChunk(mux.get(), "XMP ", chunks.xmp);
  SetChunk(mux.get(), "ICCP", chunks.icc);
  WebPData assembled{nullptr, 0};
  if (WebPMuxAssemble(mux.get(), &assembled) != WEBP_MUX_OK) return false;
  webp->assign(assembled.bytes, assembled.bytes + assembled.size);
  WebPDataClear(&assembled);
  return true;
}
