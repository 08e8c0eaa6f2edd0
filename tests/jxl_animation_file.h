// Multi-frame JPEG XL files made with libjxl's encoder, for the reader's
// tests and the runs of //animated; with the canvases a viewer shows.
#pragma once

#include <jxl/encode.h>

#include <cstdint>
#include <cstring>
#include <vector>

namespace test {

struct JxlFrame {
  int x0 = 0, y0 = 0, width = 0, height = 0;  // a crop of the canvas
  uint32_t ticks = 0;
  std::vector<uint8_t> rgba;  // width x height
};

struct JxlAnimation {
  int width = 0, height = 0;
  uint32_t tpsNumerator = 1000, tpsDenominator = 1;
  uint32_t loops = 0;
  bool animated = true;
  bool lossless = true;
  uint32_t orientation = 1;
  std::vector<uint8_t> icc;  // none: sRGB
  std::vector<JxlFrame> frames;
};

// Each frame replaces its crop of the canvas before it, which it is
// blended on (reference slot 1 holds the canvas from frame to frame).
// *shown, when given, receives every canvas shown: a frame of no duration
// is merged into the next one, as a decoder that coalesces shows it.
inline std::vector<uint8_t> EncodeJxlAnimation(const JxlAnimation& a,
                                               std::vector<std::vector<uint8_t>>* shown = nullptr) {
  JxlEncoder* encoder = JxlEncoderCreate(nullptr);
  JxlBasicInfo info;
  JxlEncoderInitBasicInfo(&info);
  info.xsize = uint32_t(a.width);
  info.ysize = uint32_t(a.height);
  info.bits_per_sample = 8;
  info.alpha_bits = 8;
  info.num_extra_channels = 1;
  info.uses_original_profile = a.lossless;
  info.orientation = JxlOrientation(a.orientation);
  info.have_animation = a.animated;
  info.animation.tps_numerator = a.tpsNumerator;
  info.animation.tps_denominator = a.tpsDenominator;
  info.animation.num_loops = a.loops;
  bool good = JxlEncoderSetBasicInfo(encoder, &info) == JXL_ENC_SUCCESS;
  if (a.icc.empty()) {
    JxlColorEncoding srgb;
    JxlColorEncodingSetToSRGB(&srgb, JXL_FALSE);
    good = good && JxlEncoderSetColorEncoding(encoder, &srgb) == JXL_ENC_SUCCESS;
  } else {
    good = good && JxlEncoderSetICCProfile(encoder, a.icc.data(), a.icc.size()) == JXL_ENC_SUCCESS;
  }
  JxlEncoderFrameSettings* settings = JxlEncoderFrameSettingsCreate(encoder, nullptr);
  JxlEncoderFrameSettingsSetOption(settings, JXL_ENC_FRAME_SETTING_EFFORT, 1);
  if (a.lossless) {
    JxlEncoderSetFrameLossless(settings, JXL_TRUE);
    JxlEncoderSetFrameDistance(settings, 0);
  }
  std::vector<uint8_t> canvas(size_t(a.width) * a.height * 4, 0);
  const JxlPixelFormat format = {4, JXL_TYPE_UINT8, JXL_NATIVE_ENDIAN, 0};
  for (size_t i = 0; i < a.frames.size(); ++i) {
    const JxlFrame& f = a.frames[i];
    JxlFrameHeader header;
    JxlEncoderInitFrameHeader(&header);
    header.duration = f.ticks;
    header.layer_info.have_crop = f.width != a.width || f.height != a.height;
    header.layer_info.crop_x0 = f.x0;
    header.layer_info.crop_y0 = f.y0;
    header.layer_info.xsize = uint32_t(f.width);
    header.layer_info.ysize = uint32_t(f.height);
    header.layer_info.blend_info.source = 1;
    header.layer_info.save_as_reference = 1;
    good =
        good && JxlEncoderSetFrameHeader(settings, &header) == JXL_ENC_SUCCESS &&
        JxlEncoderAddImageFrame(settings, &format, f.rgba.data(), f.rgba.size()) == JXL_ENC_SUCCESS;
    for (int y = 0; y < f.height; ++y) {
      std::memcpy(&canvas[(size_t(f.y0 + y) * a.width + f.x0) * 4],
                  &f.rgba[size_t(y) * f.width * 4], size_t(f.width) * 4);
    }
    if (shown != nullptr && (f.ticks > 0 || i + 1 == a.frames.size())) shown->push_back(canvas);
  }
  JxlEncoderCloseInput(encoder);
  std::vector<uint8_t> file(4096);
  uint8_t* next = file.data();
  size_t avail = file.size();
  JxlEncoderStatus status;
  while ((status = JxlEncoderProcessOutput(encoder, &next, &avail)) == JXL_ENC_NEED_MORE_OUTPUT) {
    const size_t used = size_t(next - file.data());
    file.resize(file.size() * 2);
    next = file.data() + used;
    avail = file.size() - used;
  }
  file.resize(size_t(next - file.data()));
  JxlEncoderDestroy(encoder);
  if (!good || status != JXL_ENC_SUCCESS) file.clear();
  return file;
}

}  // namespace test
