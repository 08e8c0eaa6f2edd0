// What the JPEG importer and exporter share: the component name and an
// owning TurboJPEG handle.
#pragma once

#include <cstdio>  // jconfig.h expects it
#include <memory>
#include <string>

#include <jconfig.h>
#include <turbojpeg.h>

#include "platform/codec.h"

// "JPEG (libjpeg-turbo x.y.z)". TurboJPEG has no run-time version query; the
// headers come with the library's own package, so theirs is the linked one.
inline std::string JpegCodecName() {
  constexpr int kVersion = LIBJPEG_TURBO_VERSION_NUMBER;  // 2001005 for 2.1.5
  return "JPEG (libjpeg-turbo " + std::to_string(kVersion / 1000000) + "." +
         std::to_string(kVersion / 1000 % 1000) + "." + std::to_string(kVersion % 1000) + ")";
}

struct TurboJpegCloser {
  void operator()(void* handle) const {
    if (handle != nullptr) tjDestroy(handle);
  }
};
using TurboJpegHandle = std::unique_ptr<void, TurboJpegCloser>;

extern const ImporterCodec kJpegImporter;
extern const ExporterCodec kJpegExporter;
