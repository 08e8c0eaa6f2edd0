// The GIF importer and exporter (giflib; the exporter's palettes from
// libimagequant).
#pragma once

#include <string>

#include <gif_lib.h>

#include "platform/codec.h"

// "GIF (giflib x.y.z)". giflib has no run-time version query; its header
// comes with the library's own package.
inline std::string GifCodecName() {
  return "GIF (giflib " + std::to_string(GIFLIB_MAJOR) + "." + std::to_string(GIFLIB_MINOR) + "." +
         std::to_string(GIFLIB_RELEASE) + ")";
}

extern const ImporterCodec kGifImporter;

// Animations frame by frame (gif_animation_import.cpp).
OSErr OpenGifAnimation(ByteSpan file, std::unique_ptr<AnimationReader>* reader);
OSErr CountGifFrames(ByteSpan file, int32_t* frames);

// The GIF exporter (gif_export.cpp) and its animation writer
// (gif_animation_export.cpp); both quantise with libimagequant.
OSErr StartGifAnimation(const AnimationRequest& request, std::unique_ptr<AnimationWriter>* writer);
extern const ExporterCodec kGifExporter;
