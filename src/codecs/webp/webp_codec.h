// What the WebP importer and exporter share: the component name.
#pragma once

#include <memory>
#include <string>

#include <webp/decode.h>

#include "platform/codec.h"

// "WebP (libwebp x.y.z)" with the version of the decoder linked at run time.
inline std::string WebpCodecName() {
  const int version = WebPGetDecoderVersion();  // 0x010204 for 1.2.4
  return "WebP (libwebp " + std::to_string(version >> 16) + "." +
         std::to_string((version >> 8) & 0xFF) + "." + std::to_string(version & 0xFF) + ")";
}

// Whether an animation's first frame covers enough of a canvas beyond
// kLargeCanvasPixels to have it drawn at all (canvas_rule.h); only the
// chunk headers are read.
bool AnimationCanvasIsPainted(ByteSpan file, int64_t width, int64_t height);

// Animations frame by frame (webp_animation_import.cpp, webp_animation_export.cpp).
OSErr OpenWebpAnimation(ByteSpan file, std::unique_ptr<AnimationReader>* reader);
OSErr CountWebpFrames(ByteSpan file, int32_t* frames);
OSErr StartWebpAnimation(const AnimationRequest& request, std::unique_ptr<AnimationWriter>* writer);

extern const ImporterCodec kWebpImporter;
extern const ExporterCodec kWebpExporter;
