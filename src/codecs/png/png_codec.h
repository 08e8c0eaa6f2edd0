// What the PNG importer and exporter share: the component name and libpng's
// silent error handling. libpng reports errors by longjmp to a setjmp in the
// function that called it; every such function here creates no C++ object
// with a destructor, so the jump skips none.
#pragma once

#include <string>

#include <png.h>

#include "platform/codec.h"

// "PNG (libpng x.y.z)" with the version of the library linked at run time.
inline std::string PngCodecName() {
  return std::string("PNG (libpng ") + png_get_libpng_ver(nullptr) + ")";
}

// Error handler: never prints, never returns; the caller's setjmp answers.
[[noreturn]] inline void PngSilentError(png_structp png, png_const_charp) {
  png_longjmp(png, 1);
}
inline void PngSilentWarning(png_structp, png_const_charp) {}

extern const ImporterCodec kPngImporter;
extern const ExporterCodec kPngExporter;
