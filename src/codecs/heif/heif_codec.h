// What the HEIF importers and exporters share (libheif). One importer serves
// two components: "HEIC" takes files whose brands name HEVC or a plain HEIF
// image, "AVIF" those whose brands name AV1; both decode whatever libheif
// can. The exporters exist only where libheif has an encoder for them.
#pragma once

#include <memory>
#include <string>

#include "codecs/heif/heif_release.h"
#include "platform/codec.h"

// "HEIC (libheif x.y.z)" and "AVIF (libheif x.y.z)", with the version linked
// at run time.
std::string HeicCodecName();
std::string AvifCodecName();

// Whether libheif on this machine can write HEVC (HEIC) or AV1 (AVIF); the
// registry lists an exporter only when it can. Asking loads libheif.
bool HeicEncoderAvailable();
bool AvifEncoderAvailable();

extern const ImporterCodec kHeicImporter;
extern const ImporterCodec kAvifImporter;
extern const ExporterCodec kHeicExporter;
extern const ExporterCodec kAvifExporter;
