// Rows of an image handed from one stage to the next: a writer fills them
// from the top while a reader takes them from the top, each on its own
// thread. A band holds either every row of a pixel buffer (a whole image:
// the writer never waits for room) or a ring of a few rows that it owns, in
// which the writer waits until the reader has let go of the row it would
// overwrite, and the reader waits until the row it wants is final.
//
// The writer ends with Close; a reader that needs no more rows releases
// them all (Release(kAllRows)), so that no writer waits for room.
//
// Several readers may follow one writer (SetReaders), each on its own
// thread at its own pace: a ring row is overwritten only once every reader
// has let go of it, and any reader may prepare published rows. Either
// side that fails stops the band with its error: every wait on it ends at
// once, and both sides' loops look at Stopped() once per band of rows.
// Rows the writer was never given are never published: such a band is
// stopped instead.
//
// A band may have a prepare step, work done to rows between their drawing
// and their reading (colour matching, a byte-order pass), shared so that
// neither side idles while the other works: the reader prepares published
// rows as it comes to them, and the writer takes over those waiting when
// more than kPrepareBacklog rows wait. Rows are final, and seen by the
// reader, once every row above them is prepared.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <utility>
#include <vector>

#include "base/deadline.h"
#include "base/mac_types.h"
#include "base/pixel_view.h"

class RowBand {
 public:
  static constexpr int64_t kAllRows = INT64_MAX;

  RowBand() = default;
  ~RowBand();
  RowBand(const RowBand&) = delete;
  RowBand& operator=(const RowBand&) = delete;

  // Every row of an image in memory, which must outlive the band. With complete, the
  // rows are final already (a buffer drawn before): readers never wait.
  void AttachWhole(const PixelView& pixels, bool complete);
  // A ring of `rows` rows (at most the height) for an image of width x
  // height in a buffer format, counted against the pixel memory limit; each
  // row with room for at least roomPerPixel bytes a pixel (rows that a
  // prepare step widens). paramErr for sizes below 1 or an unknown format,
  // memFullErr.
  OSErr AllocateRing(int32_t width, int32_t height, OSType pixelFormat, int32_t rows,
                     int32_t roomPerPixel = 0);

  // Lets go of a ring's memory; the band holds nothing afterwards.
  void Clear();

  int32_t Width() const { return width_; }
  int32_t Height() const { return height_; }
  OSType PixelFormat() const { return pixelFormat_; }
  int16_t PixelSize() const { return pixelSize_; }
  // Rows held at once: the height for a whole image.
  int32_t Capacity() const { return capacity_; }
  bool IsWhole() const { return whole_; }

  // Row y's storage, without waiting: for work on rows the caller knows to
  // be its own (the writer's prepare step, a whole image's owner).
  uint8_t* RowAddress(int64_t y) const { return base_ + (whole_ ? y : y % capacity_) * rowBytes_; }

  // The writer's side. Waits until row y may be written. On a stopped band
  // it answers at once with a row of its own that nobody reads.
  uint8_t* RowToWrite(int64_t y) const;
  // Rows [0, rows) are drawn; final once prepared. A writer keeps at most
  // kRowsInFlight rows written but not yet published. Rows RowToWrite never
  // gave out stop the band with kUnwrittenRowsErr. Answers the stop's error
  // once stopped, else noErr.
  OSErr Publish(int64_t rows);
  // The job's deadline: once it has passed, Publish stops the band with
  // kTimedOutErr as the writer's failure, so that the drawing and every
  // reader end at their next rows. Never, unless set; kept across Clear.
  void SetDeadline(const Deadline& deadline) { deadline_ = deadline; }
  // No more rows will come: every wait for a row returns. Rows published
  // and not yet prepared are prepared first, so that the prepare step is
  // not used after Close returns.
  void Close();

  // Either side's failure: both sides stop waiting, and the first stop's
  // error and side are kept (err is noErr: paramErr). Waits for preparation
  // under way, so that the prepare step is not used after it returns.
  enum Side { kWriter, kReader };
  void Stop(int32_t err, Side by);
  bool Stopped() const { return stopError_.load(std::memory_order_acquire) != noErr; }
  int32_t StopError() const { return stopError_.load(std::memory_order_acquire); }
  // Whether the first stop was the writer's: its rows went wrong.
  bool WriterStopped() const { return Stopped() && stoppedBy_ == kWriter; }
  // The error of rows claimed that were never written: data that never came.
  static constexpr OSErr kUnwrittenRowsErr = codecErr;
  // The prepare step for rows [from, to), run on the writer's or the
  // reader's thread, on disjoint rows at the same time.
  using Prepare = std::function<void(const RowBand& band, int64_t from, int64_t to)>;
  void SetPrepare(Prepare prepare);
  const Prepare& GetPrepare() const { return prepare_; }

  // The reader's side. Waits until row y is final or the band is closed; on
  // a stopped band a row not final is answered at once with one of the
  // reader's own.
  const uint8_t* RowToRead(int64_t y) const;
  // Whether RowToRead(y) would answer at once.
  bool IsFinal(int64_t y) const { return published_.value.load(std::memory_order_acquire) > y; }
  // The reader is done with rows [0, rows); kAllRows when it needs no more.
  void Release(int64_t rows, int32_t reader = 0);
  // Every reader is done with every row: no writer waits for room again.
  void ReleaseEveryReader();
  // The readers that follow the writer, numbered from 0 (one unless set);
  // set once the band holds its rows, before either side starts.
  void SetReaders(int32_t count);
  int32_t Readers() const { return int32_t(readerReleased_.size()); }

  // Rows a writer may hold written but unpublished, and so the room a ring
  // needs beyond what its reader holds.
  static constexpr int32_t kRowsInFlight = 16;
  // Rows published and not yet prepared beyond which the writer prepares.
  static constexpr int32_t kPrepareBacklog = 2 * kRowsInFlight;

 private:
  // A count that only grows, and the level its one waiter (the reader or
  // the writer) needs: it is woken only when that level is reached, not at
  // every row.
  struct Mark {
    std::atomic<int64_t> value{0};
    mutable std::atomic<int64_t> wanted{INT64_MAX};
  };
  void WaitUntil(const Mark& mark, int64_t atLeast) const;
  // Whether a reader may be waiting for published rows: with several
  // readers the single-waiter level does not tell, so every raise wakes.
  bool ReaderMayWait() const {
    return readerReleased_.size() > 1 || published_.wanted.load() != INT64_MAX;
  }
  void Raise(Mark& mark, int64_t to);
  void FreeRing();
  void ResetMarks(int64_t published);
  // Preparing published rows, from either side, with mutex_ held (and let
  // go of while a claim is worked on).
  bool PrepareNextRows(std::unique_lock<std::mutex>& lock, int64_t maxRows) const;
  void FinishPrepared(int64_t from, int64_t to) const;
  void PrepareThrough(int64_t rows) const;
  // Rows of each side's own for a stopped band, so that neither touches a
  // row the other may be using; nullptr when they could not be had.
  void AllocateSpareRows();
  uint8_t* SpareRow(Side side) const;

  int32_t width_ = 0;
  int32_t height_ = 0;
  OSType pixelFormat_ = 0;
  int16_t pixelSize_ = 0;
  int32_t capacity_ = 0;
  int64_t rowBytes_ = 0;
  uint8_t* base_ = nullptr;
  bool whole_ = false;
  size_t ringBytes_ = 0;  // owned at base_ when a ring
  Prepare prepare_;
  Deadline deadline_;
  // With a prepare step, under mutex_: rows [0, drawn_) are published by
  // the writer, [0, claimed_) are prepared or being prepared, and prepared
  // claims that finished before one above them wait in done_.
  mutable int64_t drawn_ = 0;
  mutable int64_t rowsGranted_ = 0;  // the writer's own: rows RowToWrite let it have
  mutable int64_t claimed_ = 0;
  mutable int32_t claimsUnderWay_ = 0;
  mutable std::vector<std::pair<int64_t, int64_t>> done_;
  bool closing_ = false;
  mutable Mark published_;
  Mark released_;  // the least of the readers' marks
  // With several readers, under mutex_: the rows each has let go of.
  std::vector<int64_t> readerReleased_ = {0};
  std::atomic<int32_t> stopError_{noErr};
  Side stoppedBy_ = kWriter;  // written before stopError_
  uint8_t* spare_ = nullptr;  // two rows: the writer's, the reader's
  mutable std::mutex mutex_;
  mutable std::condition_variable changed_;
};
