#include "codecs/jxl/jxl_decoder.h"

#include <jxl/encode.h>  // JxlColorEncodingSetToSRGB

OSErr StartJxlDecoder(ByteSpan file, int events, OwnedJxlDecoder* decoder) {
  OwnedJxlDecoder created(JxlDecoderCreate(nullptr));
  if (!created) return memFullErr;
  if (JxlDecoderSubscribeEvents(created.get(), events) != JXL_DEC_SUCCESS ||
      JxlDecoderSetInput(created.get(), file.data(), file.size()) != JXL_DEC_SUCCESS) {
    return codecErr;
  }
  JxlDecoderCloseInput(created.get());
  *decoder = std::move(created);
  return noErr;
}

void DrawnJxlSize(const JxlBasicInfo& info, int64_t* width, int64_t* height) {
  const bool turned = info.orientation >= JXL_ORIENT_TRANSPOSE;
  *width = turned ? info.ysize : info.xsize;
  *height = turned ? info.xsize : info.ysize;
}

void PreferSrgbSamples(JxlDecoder* decoder) {
  JxlBasicInfo info;
  if (JxlDecoderGetBasicInfo(decoder, &info) != JXL_DEC_SUCCESS || info.uses_original_profile) {
    return;
  }
  JxlColorEncoding srgb;
  JxlColorEncodingSetToSRGB(&srgb, info.num_color_channels == 1 ? JXL_TRUE : JXL_FALSE);
  JxlDecoderSetPreferredColorProfile(decoder, &srgb);
}
