// One image format as the program knows it. The codec records point here,
// and everything else that depends on the format reads it from here: the
// exporters' file name extensions ("/c auto" and the usage text), what a
// copy of the source's metadata can keep in it, and whose library must be
// kept from printing.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

#include "base/mac_types.h"

// The kinds of metadata a format's files hold.
enum FormatHolds : uint32_t {
  kHoldsExif = 1u << 0,
  kHoldsXmp = 1u << 1,
  kHoldsIcc = 1u << 2,
  kHoldsIptc = 1u << 3,
  kHoldsComment = 1u << 4,
  kHoldsGainMap = 1u << 5,  // an HDR gain map after the picture (MPF)
};

// How a copy's metadata goes into an encoded file of the format.
enum class MetadataWriting {
  kByEncoder,  // the encoder stores it as it encodes (HEIF, JPEG XL), or none
  kJpeg,       // segments: the source's Exif block patched, the rest through exiv2
  kPng,        // chunks: eXIf, iCCP, text and the pixel-describing ones
  kTiff,       // IFD fields laid out anew by exiv2
  kWebp,       // RIFF chunks: EXIF, XMP, ICCP
};

struct ImageFormat {
  const char* name;  // as the manual names it
  OSType subtype;    // its importer's and exporter's component subtype
  // Every file name extension it goes by, lower case, blank-separated; the
  // first is the one its exporter names files with.
  const char* extensions;
  bool holdsAlpha;        // files keep a transparency channel
  bool keepsDeepSamples;  // the exporter writes 16 bits a channel
  // Its exporter's quality (1 ... 100 percent below lossless) trades the
  // file's size for fidelity: a quality can be searched for.
  bool lossyQuality;
  uint32_t metadata;  // FormatHolds bits: what a copy can keep
  MetadataWriting metadataWriting;
  // Viewers turn the picture by the container's own transformation (HEIF's
  // irot and imir), whatever its EXIF orientation says.
  bool containerOrientation;
  bool libraryPrints;  // its library writes to the standard error unless quieted
};

extern const ImageFormat kJpegFormat;
extern const ImageFormat kPngFormat;
extern const ImageFormat kTiffFormat;
extern const ImageFormat kWebpFormat;
extern const ImageFormat kGifFormat;
extern const ImageFormat kHeicFormat;
extern const ImageFormat kAvifFormat;
extern const ImageFormat kJxlFormat;

// Every format, commonest first.
std::span<const ImageFormat* const> ImageFormats();

// Whether the format goes by the extension (lower case, without its dot).
bool FormatHasExtension(const ImageFormat& format, std::string_view extension);
// The first extension, blank-padded to four characters: "jpg ".
OSType DefaultExtension(const ImageFormat& format);
