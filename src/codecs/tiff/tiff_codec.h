// What the TIFF importer and exporter share: the component name, an owning
// libtiff handle and the open options that keep libtiff silent.
#pragma once

#include <memory>
#include <string>

#include <tiffio.h>

#include "platform/codec.h"

// "TIFF (libtiff x.y.z)" with the version of the library linked at run time.
std::string TiffCodecName();

struct TiffCloser {
  void operator()(TIFF* tif) const {
    if (tif != nullptr) TIFFClose(tif);
  }
};
using TiffHandle = std::unique_ptr<TIFF, TiffCloser>;

// Open options whose error and warning handlers swallow every message; the
// library's process-wide handlers are turned off the first time too, for the
// few messages that are issued before a handle exists.
struct TiffOptionsFree {
  void operator()(TIFFOpenOptions* options) const { TIFFOpenOptionsFree(options); }
};
using TiffOptions = std::unique_ptr<TIFFOpenOptions, TiffOptionsFree>;
TiffOptions SilentTiffOptions();

extern const ImporterCodec kTiffImporter;
extern const ExporterCodec kTiffExporter;
