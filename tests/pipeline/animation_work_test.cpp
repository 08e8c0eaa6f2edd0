// The bound on "//animated"'s work: frames × canvas pixels, exact up to the
// bound and never wrapped around beyond 64 bits.
#include "pipeline/animation_work.h"

#include <gtest/gtest.h>

#include <cstdint>

namespace {

TEST(AnimationWork, FramesTimesCanvasPixelsUpToTheBound) {
  struct Case {
    AnimationInfo info;  // width, height, frames, loops
    bool fits;
  } cases[] = {
      {{1200, 900, 150, 0}, true},
      {{65536, 65536, 2, 0}, true},  // 2^33 exactly
      {{65536, 65536, 3, 0}, false},
      {{4096, 4096, 512, 0}, true},
      {{4096, 4096, 513, 0}, false},
      {{4096, 4096, 20000, 0}, false},
      // 2^31 × 2^31 × 2^31 - 1 frames: past 2^64, not wrapped to a small number
      {{INT32_MAX, INT32_MAX, INT32_MAX, 0}, false},
      {{INT32_MAX, 8, 1 << 30, 0}, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message()
                 << c.info.width << "x" << c.info.height << " x " << c.info.frameCount);
    EXPECT_EQ(AnimationWorkFits(c.info), c.fits);
  }
  EXPECT_EQ(AnimationWork({INT32_MAX, INT32_MAX, INT32_MAX, 0}), UINT64_MAX);
}

}  // namespace
