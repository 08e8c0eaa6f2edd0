// The codecs in registry order: the commonest formats first. A codec whose
// library or encoder the machine lacks is passed over when the registry is
// searched (its available entry), so that it is never listed.
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
  static const std::vector<const ExporterCodec*> codecs = {
      &kJpegExporter, &kPngExporter,  &kTiffExporter, &kWebpExporter,
      &kGifExporter,  &kHeicExporter, &kAvifExporter, &kJxlExporter};
  return codecs;
}
