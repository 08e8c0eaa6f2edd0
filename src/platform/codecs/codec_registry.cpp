// The codecs in registry order: the commonest formats first.
#include "platform/codec.h"
#include "platform/codecs/jpeg_codec.h"
#include "platform/codecs/png_codec.h"

const std::vector<const ImporterCodec*>& ImporterCodecs() {
  static const std::vector<const ImporterCodec*> codecs = {&kJpegImporter, &kPngImporter};
  return codecs;
}

const std::vector<const ExporterCodec*>& ExporterCodecs() {
  static const std::vector<const ExporterCodec*> codecs = {&kJpegExporter, &kPngExporter};
  return codecs;
}
