#include "driver/batch/batch_progress.h"

#include <gtest/gtest.h>

// The estimate is the mean time an input took so far, times those left,
// rounded up to a second; minutes from a minute on.
TEST(BatchProgress, TextCountsAndEstimates) {
  EXPECT_EQ(ProgressText(0, 5, 0.0), "0/5 inputs done");
  EXPECT_EQ(ProgressText(1, 5, 2.0), "1/5 inputs done, about 8 s left");
  EXPECT_EQ(ProgressText(3, 4, 100.0), "3/4 inputs done, about 34 s left");
  EXPECT_EQ(ProgressText(10, 100, 70.0), "10/100 inputs done, about 10 min 30 s left");
  EXPECT_EQ(FinishedText(5, 5, 61.2), "5/5 inputs done in 1 min 02 s");
}
