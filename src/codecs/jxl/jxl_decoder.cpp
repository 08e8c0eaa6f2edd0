#include "codecs/jxl/jxl_decoder.h"

OSErr StartJxlDecoder(ByteSpan file, int events, OwnedJxlDecoder* decoder) {
  if (LoadJxl() == nullptr) return noHandlerErr;
  OwnedJxlDecoder created(Jxl().DecoderCreate(nullptr));
  if (!created) return memFullErr;
  if (Jxl().DecoderSubscribeEvents(created.get(), events) != JXL_DEC_SUCCESS ||
      Jxl().DecoderSetInput(created.get(), file.data(), file.size()) != JXL_DEC_SUCCESS) {
    return codecErr;
  }
  Jxl().DecoderCloseInput(created.get());
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
  if (Jxl().DecoderGetBasicInfo(decoder, &info) != JXL_DEC_SUCCESS || info.uses_original_profile) {
    return;
  }
  JxlColorEncoding srgb;
  Jxl().ColorEncodingSetToSRGB(&srgb, info.num_color_channels == 1 ? JXL_TRUE : JXL_FALSE);
  Jxl().DecoderSetPreferredColorProfile(decoder, &srgb);
}
