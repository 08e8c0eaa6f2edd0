#include "base/quiet_stderr.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <latch>
#include <thread>

TEST(QuietStderr, SilencesDescriptorTwoOnlyWhileAlive) {
  testing::internal::CaptureStderr();
  {
    const QuietStderr quiet;
    ASSERT_EQ(write(2, "library\n", 8), 8);
  }
  ASSERT_EQ(write(2, "after\n", 6), 6);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "after\n");
}

// Two stages quieted at once on their own threads, the first to begin ending
// first (a drawer's libjxl call and the job thread's export): the libraries
// stay silent throughout, the program's own lines arrive meanwhile, and the
// real standard error is back once both are done.
TEST(QuietStderr, TwoStagesAtOnceKeepTheProgramsLines) {
  testing::internal::CaptureStderr();
  std::latch firstIn(1), secondIn(1), firstOut(1);
  std::thread first([&] {
    {
      const QuietStderr quiet;
      firstIn.count_down();
      secondIn.wait();
      ASSERT_EQ(write(2, "first library\n", 14), 14);
    }
    firstOut.count_down();
  });
  std::thread second([&] {
    firstIn.wait();
    const QuietStderr quiet;
    secondIn.count_down();
    firstOut.wait();
    ASSERT_EQ(write(2, "second library\n", 15), 15);
    WriteStandardError("Writing \"out.jxl\"\n");
  });
  first.join();
  second.join();
  WriteStandardError("Error: \"out.jxl\": file not found (-43)\n");
  ASSERT_EQ(write(2, "after\n", 6), 6);
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "Writing \"out.jxl\"\nError: \"out.jxl\": file not found (-43)\nafter\n");
}

// A status line stays at the foot: a line written meanwhile goes above it,
// and setting it again redraws it in place; an empty one erases it for good.
TEST(QuietStderr, StatusLineStaysBelowTheProgramsLines) {
  testing::internal::CaptureStderr();
  SetStatusLine("1/3 inputs done");
  WriteStandardError("Reading \"a.jpg\"\n");
  SetStatusLine("2/3 inputs done");
  SetStatusLine("");
  WriteStandardError("after\n");
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "\r\033[K1/3 inputs done"
            "\r\033[KReading \"a.jpg\"\n1/3 inputs done"
            "\r\033[K2/3 inputs done"
            "\r\033[K"
            "after\n");
}
