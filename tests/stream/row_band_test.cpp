// A band's prepare step, shared between the writer and the reader: every row
// is prepared once and before it is read, by whichever side is idle, and
// never after the writer's Close or Stop has returned.
#include "stream/row_band.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

namespace {

constexpr int32_t kWidth = 16;
constexpr int32_t kHeight = 1200;
constexpr int32_t kRingRows = 48;

struct Tally {
  std::vector<std::atomic<int>> timesPrepared = std::vector<std::atomic<int>>(kHeight);
  std::atomic<int> byWriter{0}, byReader{0}, afterClose{0}, wrongRows{0};
  std::atomic<bool> closed{false};
};

void Pause(bool slow) {
  if (slow) std::this_thread::sleep_for(std::chrono::microseconds(200));
}

// Rows hold their index; the prepare step adds one to every byte.
// The reader lets the first skipped rows go unread, as a resize whose
// window starts lower does.
void Stream(Tally* run, bool slowWriter, bool slowReader, bool fail, int32_t skipped = 0) {
  RowBand band;
  ASSERT_EQ(band.AllocateRing(kWidth, kHeight, k32ARGBPixelFormat, kRingRows), noErr);
  const std::thread::id writer = std::this_thread::get_id();
  band.SetPrepare([&](const RowBand& b, int64_t from, int64_t to) {
    // The writer's preparation is slow when the reader is: the reader, done
    // with the rows before, prepares those after the writer's and finishes
    // first.
    if (std::this_thread::get_id() == writer) {
      ++run->byWriter;
      if (slowReader) std::this_thread::sleep_for(std::chrono::milliseconds(4));
    } else {
      ++run->byReader;
      // A reader preparing rows it let go, slowly, while the writer wraps
      // the ring round over them.
      if (skipped > 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    for (int64_t y = from; y < to; ++y) {
      uint8_t* row = b.RowAddress(y);
      for (int32_t i = 0; i < kWidth * 4; ++i) ++row[i];
      ++run->timesPrepared[size_t(y)];
    }
    if (run->closed) ++run->afterClose;
  });
  const int32_t rowsRead = fail ? kHeight / 2 : kHeight;
  std::thread reader([&] {
    band.Release(skipped);
    for (int32_t y = skipped; y < rowsRead; ++y) {
      const uint8_t* row = band.RowToRead(y);
      if (band.Stopped()) break;
      if (row[0] != uint8_t(y + 1) || row[kWidth * 4 - 1] != uint8_t(y + 1)) ++run->wrongRows;
      Pause(slowReader);
      band.Release(y + 1);
    }
    band.Release(RowBand::kAllRows);
  });
  for (int32_t y = 0; y < kHeight; ++y) {
    if (fail && y == kHeight / 2) break;
    std::fill_n(band.RowToWrite(y), kWidth * 4, uint8_t(y));
    Pause(slowWriter);
    if (y % 4 == 3) band.Publish(y + 1);
  }
  if (fail) {
    band.Stop(codecErr, RowBand::kWriter);
  } else {
    band.Publish(kHeight);
    band.Close();
  }
  run->closed = true;
  reader.join();
}

TEST(RowBandPrepare, EveryRowIsPreparedOnceBeforeItIsReadByTheIdleSide) {
  struct Case {
    const char* name;
    bool slowWriter, slowReader;
    int32_t skipped;
  };
  for (const Case& c :
       {Case{"reader waits", true, false, 0}, Case{"writer waits", false, true, 0},
        Case{"both busy", false, false, 0}, Case{"rows let go unread", false, false, 600},
        Case{"rows let go unread, reader waits", true, false, 600}}) {
    SCOPED_TRACE(c.name);
    Tally run;
    Stream(&run, c.slowWriter, c.slowReader, false, c.skipped);
    for (int32_t y = 0; y < kHeight; ++y) ASSERT_EQ(run.timesPrepared[size_t(y)], 1) << "row " << y;
    EXPECT_EQ(run.wrongRows, 0);
    EXPECT_EQ(run.afterClose, 0);
    // The side kept waiting takes on the work.
    if (c.slowWriter) {
      EXPECT_GT(run.byReader, 0);
    }
    if (c.slowReader) {
      EXPECT_GT(run.byWriter, 0);
    }
  }
}

TEST(RowBandPrepare, StopLeavesNoPreparationRunning) {
  for (bool slowReader : {false, true}) {
    Tally run;
    Stream(&run, true, slowReader, true);
    EXPECT_EQ(run.afterClose, 0);
    for (int32_t y = 0; y < kHeight; ++y) ASSERT_LE(run.timesPrepared[size_t(y)], 1);
  }
}

TEST(RowBandPrepare, CloseWaitsForTheReadersPreparation) {
  RowBand band;
  ASSERT_EQ(band.AllocateRing(kWidth, kHeight, k32ARGBPixelFormat, kRingRows), noErr);
  std::atomic<bool> preparing{false}, letGo{false}, closed{false};
  band.SetPrepare([&](const RowBand&, int64_t, int64_t) {
    preparing = true;
    while (!letGo) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  });
  // Rows published with few waiting are the reader's.
  std::thread reader([&] { band.RowToRead(0); });
  for (int32_t y = 0; y < 4; ++y) band.RowToWrite(y);
  band.Publish(4);
  while (!preparing) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  std::thread writer([&] {
    band.Close();
    closed = true;
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_FALSE(closed);
  letGo = true;
  writer.join();
  reader.join();
  EXPECT_TRUE(closed);
}

// A stop raised by either side ends the other's wait at once, with the
// first stop's error; the stopped side's rows are its own from then on.
TEST(RowBandStop, EitherSideEndsTheOthersWait) {
  for (RowBand::Side stopper : {RowBand::kWriter, RowBand::kReader}) {
    RowBand band;
    ASSERT_EQ(band.AllocateRing(kWidth, kHeight, k32ARGBPixelFormat, kRingRows), noErr);
    for (int32_t y = 0; y < kRingRows; ++y) band.RowToWrite(y);
    ASSERT_EQ(band.Publish(kRingRows), noErr);
    // The writer waits for room, the reader for a row not yet written.
    std::atomic<bool> writerDone{false}, readerDone{false};
    const uint8_t* waitedFor = nullptr;
    std::thread writer([&] {
      band.RowToWrite(kRingRows);
      writerDone = true;
    });
    std::thread reader([&] {
      waitedFor = band.RowToRead(kRingRows);
      readerDone = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_FALSE(writerDone || readerDone);
    band.Stop(memFullErr, stopper);
    band.Stop(codecErr, RowBand::kWriter);  // later: not kept
    writer.join();
    reader.join();
    EXPECT_EQ(band.StopError(), memFullErr);
    EXPECT_EQ(band.WriterStopped(), stopper == RowBand::kWriter);
    EXPECT_EQ(band.Publish(kRingRows + 1), memFullErr);
    // The rows the reader holds are left alone.
    for (int32_t y = 0; y < kRingRows; ++y)
      EXPECT_NE(band.RowToWrite(kRingRows + y), band.RowAddress(y));
    EXPECT_NE(waitedFor, band.RowAddress(kRingRows));
  }
}

// Rows the writer was never given are not published, in any build: the
// band stops with the error of data that never came.
TEST(RowBandStop, PublishingUnwrittenRowsStopsTheBand) {
  RowBand band;
  ASSERT_EQ(band.AllocateRing(kWidth, kHeight, k32ARGBPixelFormat, kRingRows), noErr);
  for (int32_t y = 0; y < 8; ++y) band.RowToWrite(y);
  EXPECT_EQ(band.Publish(8), noErr);
  EXPECT_EQ(band.Publish(9), RowBand::kUnwrittenRowsErr);
  EXPECT_TRUE(band.WriterStopped());
  EXPECT_TRUE(band.IsFinal(7));
  EXPECT_FALSE(band.IsFinal(8));
}

}  // namespace
