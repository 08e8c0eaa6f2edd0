// The codecs in registry order: the commonest formats first. An exporter
// whose encoder the machine lacks is left out, so that it is never listed.
#include "codecs/gif/gif_codec.h"
#include "codecs/heif/heif_codec.h"
#include "codecs/jpeg/jpeg_codec.h"
#include "codecs/jxl/jxl_codec.h"
#include "codecs/png/png_codec.h"
#include "codecs/tiff/tiff_codec.h"
#include "codecs/webp/webp_codec.h"
#include "platform/codec.h"

const std::vector<const ImporterCodec*>& ImporterCodecs() {
  static const std::vector<const ImporterCodec*> codecs = {
      &kJpegImporter, &kPngImporter,  &kTiffImporter, &kWebpImporter,
      &kGifImporter,  &kHeicImporter, &kAvifImporter, &kJxlImporter};
  return codecs;
}

const std::vector<const ExporterCodec*>& ExporterCodecs() {
  static const std::vector<const ExporterCodec*> codecs = [] {
    std::vector<const ExporterCodec*> list = {&kJpegExporter, &kPngExporter, &kTiffExporter,
                                              &kWebpExporter, &kGifExporter};
    if (HeicEncoderAvailable()) list.push_back(&kHeicExporter);
    if (AvifEncoderAvailable()) list.push_back(&kAvifExporter);
    list.push_back(&kJxlExporter);
    return list;
  }();
  return codecs;
}
