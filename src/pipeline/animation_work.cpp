#include "pipeline/animation_work.h"

uint64_t AnimationWork(const AnimationInfo& info) {
  if (info.width <= 0 || info.height <= 0 || info.frameCount <= 0) return 0;
  const uint64_t pixels = uint64_t(info.width) * uint64_t(info.height);
  const uint64_t frames = uint64_t(info.frameCount);
  return frames > UINT64_MAX / pixels ? UINT64_MAX : frames * pixels;
}

bool AnimationWorkFits(const AnimationInfo& info) {
  return AnimationWork(info) <= kMostAnimationWork;
}
