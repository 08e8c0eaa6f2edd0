#include "driver/command_line/web_output.h"

#include <algorithm>
#include <string_view>
#include <utility>

#include "driver/command_line/number_text.h"
#include "imageio/export.h"

namespace {

constexpr int32_t kWhite = 0xFFFFFF;

// Percents, as "/q" reads them, at which AVIF <= WebP <= JPEG in bytes
// for a like look (bench/RESULTS.md, "Codec defaults for the web").
constexpr std::pair<OSType, std::string_view> kWebQualities[] = {
    {FourCC("AVIF"), "60"},
    {FourCC("WEBP"), "80"},
    {FourCC("JPEG"), "80"},
};

}  // namespace

void ApplyWebDefaults(JobSettings& s) {
  if (!s.web) return;
  s.upright = true;
  s.noEnlarge = true;
  s.filterSpace.premultiply = true;
  if (!s.codecGiven) s.exportSettings.codec = kCodecFromFileName;
  if (s.background < 0) s.background = kWhite;
  s.exportSettings.progressive = true;
}

void ChooseWebQuality(JobOutput* output) {
  if (output->format == nullptr) return;
  for (const auto& [codec, percent] : kWebQualities) {
    if (codec == output->format->subtype) {
      output->exportSettings.quality = QualityFromPercent(percent);
    }
  }
}

const ImageFormat* CodecFormat(OSType codec, const std::string& name) {
  return ExportFormat(codec == kCodecFromFileName ? CodecForFileName(name) : codec);
}

const ImageFormat* OutputFormat(const JobSettings& s, const std::string& name) {
  return CodecFormat(s.exportSettings.codec, name);
}

void ChooseAlphaHandling(const JobSettings& s, bool sourceHasAlpha, bool sourceDeep,
                         JobOutput* output) {
  ExportSettings& e = output->exportSettings;
  const ImageFormat* format = CodecFormat(e.codec, output->path);
  const bool holdsAlpha = format != nullptr && format->holdsAlpha;
  if (s.web && !s.depthGiven && sourceHasAlpha && holdsAlpha) {
    e.depth = sourceDeep && format->keepsDeepSamples ? 64 : 32;
  }
  const bool keepsAlpha = holdsAlpha && (e.depth == 32 || e.depth == 64);
  output->flattenOnto = s.background >= 0 && !keepsAlpha ? s.background : -1;
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
