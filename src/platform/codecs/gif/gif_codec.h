// The GIF importer (giflib). There is no GIF exporter: writing GIF well needs
// a real colour quantiser, which none of our libraries offers.
#pragma once

#include <string>

#include <gif_lib.h>

#include "platform/codecs/common/codec.h"

// "GIF (giflib x.y.z)". giflib has no run-time version query; its header
// comes with the library's own package.
inline std::string GifCodecName() {
  return "GIF (giflib " + std::to_string(GIFLIB_MAJOR) + "." + std::to_string(GIFLIB_MINOR) + "." +
         std::to_string(GIFLIB_RELEASE) + ")";
}

extern const ImporterCodec kGifImporter;

// Animations frame by frame (gif_animation_import.cpp).
OSErr OpenGifAnimation(ByteSpan file, std::unique_ptr<AnimationReader>* reader);
