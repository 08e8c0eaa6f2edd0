// The formats the program reads and writes, and what their files hold.
#include "platform/image_format.h"

namespace {

constexpr uint32_t kExifXmpIcc = kHoldsExif | kHoldsXmp | kHoldsIcc;

}  // namespace

const ImageFormat kJpegFormat = {
    .name = "JPEG",
    .subtype = FourCC("JPEG"),
    .extensions = "jpg jpeg jpe jfif",
    .holdsAlpha = false,
    .keepsDeepSamples = false,
    .lossyQuality = true,
    .metadata = kExifXmpIcc | kHoldsIptc | kHoldsComment | kHoldsGainMap,
    .metadataWriting = MetadataWriting::kJpeg,
    .containerOrientation = false,
    .libraryPrints = false,  // its messages go to our error manager
};
const ImageFormat kPngFormat = {
    .name = "PNG",
    .subtype = FourCC("PNG "),
    .extensions = "png",
    .holdsAlpha = true,
    .keepsDeepSamples = true,
    .lossyQuality = false,
    .metadata = kExifXmpIcc | kHoldsIptc | kHoldsComment,
    .metadataWriting = MetadataWriting::kPng,
    .containerOrientation = false,
    .libraryPrints = false,  // warnings and errors go to our handlers
};
const ImageFormat kTiffFormat = {
    .name = "TIFF",
    .subtype = FourCC("TIFF"),
    .extensions = "tif tiff",
    .holdsAlpha = true,
    .keepsDeepSamples = true,
    .lossyQuality = false,
    .metadata = kExifXmpIcc | kHoldsIptc,
    .metadataWriting = MetadataWriting::kTiff,
    .containerOrientation = false,
    .libraryPrints = false,  // its handlers are replaced by ours
};
const ImageFormat kWebpFormat = {
    .name = "WebP",
    .subtype = FourCC("WEBP"),
    .extensions = "webp",
    .holdsAlpha = true,
    .keepsDeepSamples = false,
    .lossyQuality = true,
    .metadata = kExifXmpIcc,
    .metadataWriting = MetadataWriting::kWebp,
    .containerOrientation = false,
    .libraryPrints = false,
};
const ImageFormat kGifFormat = {
    .name = "GIF",
    .subtype = FourCC("GIF "),
    .extensions = "gif",
    .holdsAlpha = true,  // as one transparent index: alpha below half
    .keepsDeepSamples = false,
    .lossyQuality = false,
    .metadata = 0,
    .metadataWriting = MetadataWriting::kByEncoder,
    .containerOrientation = false,
    .libraryPrints = false,
};
const ImageFormat kHeicFormat = {
    .name = "HEIC",
    .subtype = FourCC("HEIC"),
    .extensions = "heic heif",
    .holdsAlpha = true,
    .keepsDeepSamples = true,
    .lossyQuality = true,
    .metadata = kExifXmpIcc,
    .metadataWriting = MetadataWriting::kByEncoder,
    .containerOrientation = true,
    .libraryPrints = true,  // its decoders' (dav1d's, libde265's) messages
};
const ImageFormat kAvifFormat = {
    .name = "AVIF",
    .subtype = FourCC("AVIF"),
    .extensions = "avif",
    .holdsAlpha = true,
    .keepsDeepSamples = true,
    .lossyQuality = true,
    .metadata = kExifXmpIcc,
    .metadataWriting = MetadataWriting::kByEncoder,
    .containerOrientation = true,
    .libraryPrints = true,
};
const ImageFormat kJxlFormat = {
    .name = "JPEG XL",
    .subtype = FourCC("JXL "),
    .extensions = "jxl",
    .holdsAlpha = true,
    .keepsDeepSamples = true,
    .lossyQuality = true,
    .metadata = kExifXmpIcc,
    .metadataWriting = MetadataWriting::kByEncoder,
    .containerOrientation = false,
    .libraryPrints = true,  // libjxl 0.7 reports misuse and damage there
};

std::span<const ImageFormat* const> ImageFormats() {
  static const ImageFormat* const formats[] = {&kJpegFormat, &kPngFormat, &kTiffFormat,
                                               &kWebpFormat, &kGifFormat, &kHeicFormat,
                                               &kAvifFormat, &kJxlFormat};
  return {formats, std::size(formats)};
}

bool FormatHasExtension(const ImageFormat& format, std::string_view extension) {
  std::string_view list = format.extensions;
  while (!list.empty()) {
    const size_t blank = list.find(' ');
    if (list.substr(0, blank) == extension) return true;
    if (blank == std::string_view::npos) break;
    list.remove_prefix(blank + 1);
  }
  return false;
}

OSType DefaultExtension(const ImageFormat& format) {
  char padded[5] = "    ";
  for (size_t i = 0; i < 4 && format.extensions[i] != '\0' && format.extensions[i] != ' '; ++i) {
    padded[i] = format.extensions[i];
  }
  return FourCC(padded);
}
