#include "base/quiet_stderr.h"

#include <gtest/gtest.h>
#include <unistd.h>

TEST(QuietStderr, SilencesDescriptorTwoOnlyWhileAlive) {
  testing::internal::CaptureStderr();
  {
    const QuietStderr quiet;
    ASSERT_EQ(write(2, "library\n", 8), 8);
  }
  ASSERT_EQ(write(2, "after\n", 6), 6);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "after\n");
}
