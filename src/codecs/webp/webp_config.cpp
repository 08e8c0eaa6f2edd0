#include "codecs/webp/webp_config.h"

#include "platform/quality.h"

namespace {

constexpr int kMethod = 4;
constexpr float kLosslessEffort = 75.0f;

}  // namespace

bool WebpConfigForQuality(int32_t quality, WebPConfig* config) {
  if (!WebPConfigInit(config)) return false;
  const bool lossless = quality >= codecLosslessQuality;
  config->lossless = lossless ? 1 : 0;
  config->quality = lossless ? kLosslessEffort : float(QualityPercent(quality));
  config->method = kMethod;
  config->exact = lossless ? 1 : 0;
  return WebPValidateConfig(config) != 0;
}
