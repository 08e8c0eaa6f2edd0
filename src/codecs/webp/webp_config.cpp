#include "codecs/webp/webp_config.h"

#include "platform/quality.h"

namespace {

// The effort libwebp's own tools spend by default.
constexpr int kMethod = 4;
constexpr float kLosslessEffort = 75.0f;

}  // namespace

int WebpMethodForEffort(int32_t effort) {
  return effort < 0 ? kMethod : (2 * effort + 1) / 3;
}

bool WebpConfigForQuality(int32_t quality, int32_t effort, WebPConfig* config) {
  if (!WebPConfigInit(config)) return false;
  const bool lossless = quality >= codecLosslessQuality;
  config->lossless = lossless ? 1 : 0;
  config->quality = lossless ? kLosslessEffort : float(QualityPercent(quality));
  config->method = WebpMethodForEffort(effort);
  config->exact = lossless ? 1 : 0;
  return WebPValidateConfig(config) != 0;
}
