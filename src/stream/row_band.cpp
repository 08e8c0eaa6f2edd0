#include "stream/row_band.h"

#include <algorithm>
#include <cstdlib>
#include <utility>

#include "base/large_block.h"
#include "base/memory_limit.h"

namespace {

constexpr int64_t kRowAlignment = 64;

}  // namespace

RowBand::~RowBand() {
  FreeRing();
}

void RowBand::FreeRing() {
  if (!whole_ && base_ != nullptr) {
    FreeRowsBlock(base_, ringBytes_, size_t(kRowAlignment));
    ReleasePixelBytes(ringBytes_);
  }
  base_ = nullptr;
  ringBytes_ = 0;
  std::free(spare_);
  spare_ = nullptr;
}

void RowBand::AllocateSpareRows() {
  std::free(spare_);
  spare_ = static_cast<uint8_t*>(std::calloc(2, size_t(rowBytes_)));
}

// Without spare rows (two rows that could not be had where a whole image
// could) a stopped side gets the row itself, as before there was a stop.
uint8_t* RowBand::SpareRow(Side side) const {
  return spare_ != nullptr ? spare_ + (side == kReader ? rowBytes_ : 0) : nullptr;
}

void RowBand::Clear() {
  FreeRing();
  whole_ = false;
  width_ = height_ = capacity_ = 0;
  rowBytes_ = 0;
  prepare_ = nullptr;
}

void RowBand::AttachWhole(const PixelView& pixels, bool complete) {
  FreeRing();
  whole_ = true;
  width_ = pixels.width;
  height_ = pixels.height;
  pixelFormat_ = pixels.pixelFormat;
  pixelSize_ = pixels.pixelSize;
  capacity_ = height_;
  rowBytes_ = pixels.rowBytes;
  base_ = pixels.base;
  AllocateSpareRows();
  ResetMarks(complete ? kAllRows : 0);
}

void RowBand::ResetMarks(int64_t published) {
  published_.value.store(published);
  released_.value.store(0);
  readerReleased_.assign(1, 0);
  stopError_.store(noErr);
  stoppedBy_ = kWriter;
  drawn_ = claimed_ = rowsGranted_ = 0;
  claimsUnderWay_ = 0;
  done_.clear();
  closing_ = false;
}

OSErr RowBand::AllocateRing(int32_t width, int32_t height, OSType pixelFormat, int32_t rows,
                            int32_t roomPerPixel) {
  FreeRing();
  whole_ = false;
  const int16_t bits = PixelSizeOfFormat(pixelFormat);
  if (bits == 0 || width < 1 || height < 1 || rows < 1) return paramErr;
  if (rows > height) rows = height;
  const int64_t pixelBytes = std::max<int64_t>(bits / 8, roomPerPixel);
  const int64_t rowBytes = (int64_t(width) * pixelBytes + kRowAlignment - 1) & ~(kRowAlignment - 1);
  const uint64_t bytes = uint64_t(rowBytes) * uint64_t(rows);
  if (!ReservePixelBytes(bytes)) return memFullErr;
  void* block = AllocateRowsBlock(size_t(bytes), size_t(kRowAlignment));
  if (block == nullptr) {
    ReleasePixelBytes(bytes);
    return memFullErr;
  }
  width_ = width;
  height_ = height;
  pixelFormat_ = pixelFormat;
  pixelSize_ = bits;
  capacity_ = rows;
  rowBytes_ = rowBytes;
  base_ = static_cast<uint8_t*>(block);
  ringBytes_ = size_t(bytes);
  AllocateSpareRows();
  ResetMarks(0);
  return noErr;
}

void RowBand::SetPrepare(Prepare prepare) {
  prepare_ = std::move(prepare);
}

// The waiter says what it wants before it looks at the value once more,
// and the raiser looks at what is wanted after it has raised the value, so
// one of the two always sees the other: no wake-up is lost, and a raise
// that nobody waits for takes no lock.
void RowBand::WaitUntil(const Mark& mark, int64_t atLeast) const {
  if (mark.value.load(std::memory_order_acquire) >= atLeast) return;
  std::unique_lock<std::mutex> lock(mutex_);
  mark.wanted.store(atLeast);
  while (mark.value.load() < atLeast && !Stopped()) changed_.wait(lock);
  mark.wanted.store(INT64_MAX);
}

void RowBand::Raise(Mark& mark, int64_t to) {
  int64_t value = mark.value.load();
  while (value < to && !mark.value.compare_exchange_weak(value, to)) {
  }
  if (to >= mark.wanted.load() || (&mark == &published_ && readerReleased_.size() > 1)) {
    std::lock_guard<std::mutex> lock(mutex_);
    changed_.notify_all();
  }
}

uint8_t* RowBand::RowToWrite(int64_t y) const {
  // Row y overwrites row y - capacity, which the reader must have let go,
  // and whose preparation must be over: a row let go before its turn came
  // would otherwise be prepared later, in the new row's place.
  WaitUntil(released_, y - capacity_ + 1);
  if (y >= capacity_) PrepareThrough(y - capacity_ + 1);
  if (Stopped() && spare_ != nullptr) return SpareRow(kWriter);
  if (y >= rowsGranted_) rowsGranted_ = y + 1;
  return RowAddress(y);
}

OSErr RowBand::Publish(int64_t rows) {
  if (Stopped()) return StopError();
  if (deadline_.Passed()) {
    Stop(kTimedOutErr, kWriter);
    return StopError();
  }
  if (published_.value.load() == kAllRows) return noErr;  // complete already
  rows = std::min<int64_t>(rows, height_);
  // Rows never asked for hold nothing of this image: in a ring, a row the
  // reader may not have let go of; in a whole buffer, whatever was there.
  if (rows > rowsGranted_) {
    Stop(kUnwrittenRowsErr, kWriter);
    return StopError();
  }
  // Rows nobody will read need no preparation.
  if (prepare_ == nullptr || released_.value.load() == kAllRows) {
    Raise(published_, rows);
    return noErr;
  }
  std::unique_lock<std::mutex> lock(mutex_);
  if (rows <= drawn_ || published_.value.load() == kAllRows) return noErr;
  drawn_ = rows;
  // The rows are the reader's to prepare, unless it falls behind.
  if (ReaderMayWait()) changed_.notify_all();
  while (drawn_ - claimed_ > kPrepareBacklog && PrepareNextRows(lock, kRowsInFlight)) {
  }
  return noErr;
}

// Claims the next published rows not yet claimed (at most maxRows of them)
// and prepares them, without the lock; false when there are none.
bool RowBand::PrepareNextRows(std::unique_lock<std::mutex>& lock, int64_t maxRows) const {
  if (closing_ || Stopped() || claimed_ >= drawn_) return false;
  const int64_t from = claimed_;
  const int64_t to = drawn_ - from > maxRows ? from + maxRows : drawn_;
  claimed_ = to;
  ++claimsUnderWay_;
  lock.unlock();
  prepare_(*this, from, to);
  lock.lock();
  --claimsUnderWay_;
  FinishPrepared(from, to);
  return true;
}

// Prepares, or waits for the claims under way to prepare, the drawn rows
// below rows; rows not drawn yet are the writer's own and wait for it.
void RowBand::PrepareThrough(int64_t rows) const {
  if (published_.value.load(std::memory_order_acquire) >= rows) return;
  std::unique_lock<std::mutex> lock(mutex_);
  while (published_.value.load() < rows && released_.value.load() != kAllRows && !Stopped()) {
    if (PrepareNextRows(lock, kRowsInFlight)) continue;
    if (claimsUnderWay_ == 0) return;
    changed_.wait(lock);
  }
}

// Rows become final in order: a claim that finishes before the one above
// it waits for it.
void RowBand::FinishPrepared(int64_t from, int64_t to) const {
  done_.emplace_back(from, to);
  int64_t final = published_.value.load();
  for (bool moved = true; moved;) {
    moved = false;
    for (size_t i = 0; i < done_.size(); ++i) {
      if (done_[i].first == final) {
        final = done_[i].second;
        done_.erase(done_.begin() + std::ptrdiff_t(i));
        moved = true;
        break;
      }
    }
  }
  published_.value.store(final);
  changed_.notify_all();
}

void RowBand::Close() {
  if (prepare_ != nullptr) {
    std::unique_lock<std::mutex> lock(mutex_);
    while (PrepareNextRows(lock, kRowsInFlight)) {
    }
    closing_ = true;
    changed_.wait(lock, [this] { return claimsUnderWay_ == 0; });
  }
  // A stopped band's rows below the stop are not final.
  if (!Stopped()) Raise(published_, kAllRows);
}

void RowBand::Stop(int32_t err, Side by) {
  std::unique_lock<std::mutex> lock(mutex_);
  if (!Stopped()) {
    stoppedBy_ = by;
    stopError_.store(err != noErr ? err : paramErr, std::memory_order_release);
  }
  changed_.notify_all();
  changed_.wait(lock, [this] { return claimsUnderWay_ == 0; });
}

const uint8_t* RowBand::RowToRead(int64_t y) const {
  if (published_.value.load(std::memory_order_acquire) > y) return RowAddress(y);
  // Rows are left to the reader only by a writer with a prepare step, under
  // the lock: prepare_ is not looked at here, as the writer may set it.
  std::unique_lock<std::mutex> lock(mutex_);
  while (published_.value.load() <= y) {
    if (Stopped()) return spare_ != nullptr ? SpareRow(kReader) : RowAddress(y);
    if (PrepareNextRows(lock, kRowsInFlight)) continue;
    // As in WaitUntil: a raise without the lock sees the wish or is seen.
    published_.wanted.store(y + 1);
    if (published_.value.load() <= y && !Stopped()) changed_.wait(lock);
    published_.wanted.store(INT64_MAX);
  }
  return RowAddress(y);
}

void RowBand::Release(int64_t rows, int32_t reader) {
  if (readerReleased_.size() == 1) {
    Raise(released_, rows);
    return;
  }
  int64_t least = INT64_MAX;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    int64_t& mine = readerReleased_[size_t(reader)];
    mine = std::max(mine, rows);
    for (int64_t released : readerReleased_) least = std::min(least, released);
  }
  Raise(released_, least);
}

void RowBand::ReleaseEveryReader() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    std::fill(readerReleased_.begin(), readerReleased_.end(), kAllRows);
  }
  Raise(released_, kAllRows);
}

void RowBand::SetReaders(int32_t count) {
  readerReleased_.assign(size_t(std::max(count, 1)), 0);
}
