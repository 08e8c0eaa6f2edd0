#include "driver/command_line/web_output.h"

#include <algorithm>

#include "driver/command_line/number_text.h"
#include "imageio/export.h"

namespace {

constexpr int32_t kWhite = 0xFFFFFF;

}  // namespace

void ApplyWebDefaults(JobSettings& s) {
  if (!s.web) return;
  s.upright = true;
  s.noEnlarge = true;
  s.filterSpace.premultiply = true;
  if (!s.codecGiven) s.exportSettings.codec = kCodecFromFileName;
  if (s.background < 0) s.background = kWhite;
}

const ImageFormat* OutputFormat(const JobSettings& s, const std::string& name) {
  OSType codec = s.exportSettings.codec;
  if (codec == kCodecFromFileName) codec = CodecForFileName(name);
  return ExportFormat(codec);
}

void ChooseAlphaHandling(JobSettings& s, bool sourceHasAlpha, bool sourceDeep) {
  const ImageFormat* format = OutputFormat(s, s.outputName.value_or(std::string()));
  const bool holdsAlpha = format != nullptr && format->holdsAlpha;
  if (s.web && !s.depthGiven && sourceHasAlpha && holdsAlpha) {
    s.exportSettings.depth = sourceDeep && format->keepsDeepSamples ? 64 : 32;
  }
  const int16_t depth = s.exportSettings.depth;
  const bool keepsAlpha = holdsAlpha && (depth == 32 || depth == 64);
  s.flattenOnto = s.background >= 0 && !keepsAlpha ? s.background : -1;
}

void ShrinkToSource(int32_t* width, int32_t* height, int32_t sourceWidth, int32_t sourceHeight) {
  const int32_t w = *width, h = *height;
  if (w <= 0 || h <= 0 || (w <= sourceWidth && h <= sourceHeight)) return;
  if (int64_t(w) * sourceHeight >= int64_t(h) * sourceWidth) {
    *width = sourceWidth;
    *height = std::max(1, TruncateKeeping32(double(h) * sourceWidth / w + 0.5));
  } else {
    *height = sourceHeight;
    *width = std::max(1, TruncateKeeping32(double(w) * sourceHeight / h + 0.5));
  }
}
