// The work of "//animated": every frame is composited onto the whole canvas
// and the whole canvas resized, so the work grows with frames × canvas
// pixels, whatever the file's size. A few hundred kilobytes can claim
// twenty thousand frames of a 4096 x 4096 canvas (minutes of a core), so
// an animation beyond a bound is refused before any frame is decoded.
#pragma once

#include <cstdint>

#include "codecs/common/animation.h"

// Frames × canvas pixels allowed: 2^33. Measured on the shared 2-core
// machine (bench/RESULTS.md): where each frame paints one pixel (the
// cheapest work per frame pixel a file can ask for) a frame pixel costs
// 2.4 to 5 ns, 20 to 45 s at the bound; a real animation resized into
// WebP costs about 27 ns a frame pixel (150 frames of 1200 x 900: 4.3 s,
// 2% of the bound). 512 frames of 4096 x 4096 fit, 4,142 of 1920 x 1080.
inline constexpr uint64_t kMostAnimationWork = uint64_t(1) << 33;

// Frames × canvas pixels, UINT64_MAX when that does not fit 64 bits.
uint64_t AnimationWork(const AnimationInfo& info);
// Whether the animation's work is within kMostAnimationWork.
bool AnimationWorkFits(const AnimationInfo& info);
