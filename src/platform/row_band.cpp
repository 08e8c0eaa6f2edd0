#include "platform/row_band.h"

#include <algorithm>
#include <cassert>
#include <cstdlib>
#include <utility>

#include "platform/memory_limit.h"

namespace {

constexpr int64_t kRowAlignment = 64;

}  // namespace

RowBand::~RowBand() {
  FreeRing();
}

void RowBand::FreeRing() {
  if (whole_ == nullptr && base_ != nullptr) {
    std::free(base_);
    ReleasePixelBytes(ringBytes_);
  }
  base_ = nullptr;
  ringBytes_ = 0;
}

void RowBand::Clear() {
  FreeRing();
  whole_ = nullptr;
  width_ = height_ = capacity_ = 0;
  rowBytes_ = 0;
  prepare_ = nullptr;
}

void RowBand::AttachWhole(GWorld* gw, bool complete) {
  FreeRing();
  whole_ = gw;
  // The port rectangle within the pixel map.
  const PixMap& map = gw->pixMap;
  const Rect& port = gw->portRect;
  width_ = port.right - port.left;
  height_ = port.bottom - port.top;
  pixelFormat_ = map.pixelFormat;
  pixelSize_ = map.pixelSize;
  capacity_ = height_;
  rowBytes_ = map.rowBytes;
  base_ = static_cast<uint8_t*>(map.baseAddr) + int64_t(port.top - map.bounds.top) * rowBytes_ +
          int64_t(port.left - map.bounds.left) * (map.pixelSize / 8);
  ResetMarks(complete ? kAllRows : 0);
}

void RowBand::ResetMarks(int64_t published) {
  published_.value.store(published);
  released_.value.store(0);
  abandoned_.store(false);
  drawn_ = claimed_ = rowsGranted_ = 0;
  claimsUnderWay_ = 0;
  done_.clear();
  closing_ = false;
}

OSErr RowBand::AllocateRing(int32_t width, int32_t height, OSType pixelFormat, int32_t rows,
                            int32_t roomPerPixel) {
  FreeRing();
  whole_ = nullptr;
  const int16_t bits = PixelSizeOfFormat(pixelFormat);
  if (bits == 0 || width < 1 || height < 1 || rows < 1) return paramErr;
  if (rows > height) rows = height;
  const int64_t pixelBytes = std::max<int64_t>(bits / 8, roomPerPixel);
  const int64_t rowBytes = (int64_t(width) * pixelBytes + kRowAlignment - 1) & ~(kRowAlignment - 1);
  const uint64_t bytes = uint64_t(rowBytes) * uint64_t(rows);
  if (!ReservePixelBytes(bytes)) return memFullErr;
  void* block = std::aligned_alloc(size_t(kRowAlignment), size_t(bytes));
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
  while (mark.value.load() < atLeast) changed_.wait(lock);
  mark.wanted.store(INT64_MAX);
}

void RowBand::Raise(Mark& mark, int64_t to) {
  int64_t value = mark.value.load();
  while (value < to && !mark.value.compare_exchange_weak(value, to)) {
  }
  if (to >= mark.wanted.load()) {
    std::lock_guard<std::mutex> lock(mutex_);
    changed_.notify_all();
  }
}

uint8_t* RowBand::RowToWrite(int64_t y) const {
  // Row y overwrites row y - capacity, which the reader must have let go.
  WaitUntil(released_, y - capacity_ + 1);
  if (y >= rowsGranted_) rowsGranted_ = y + 1;
  return RowAddress(y);
}

void RowBand::Publish(int64_t rows) {
  // A ring's rows are final only once written: the slot of a row never
  // asked for may still hold one the reader has not let go of.
  assert(whole_ != nullptr || rows == kAllRows || rows <= rowsGranted_);
  if (prepare_ == nullptr || rows == kAllRows) {
    Raise(published_, rows);
    return;
  }
  std::unique_lock<std::mutex> lock(mutex_);
  if (rows <= drawn_ || published_.value.load() == kAllRows) return;
  drawn_ = std::min<int64_t>(rows, height_);
  // The rows are the reader's to prepare, unless it falls behind.
  if (published_.wanted.load() != INT64_MAX) changed_.notify_all();
  while (drawn_ - claimed_ > kPrepareBacklog && PrepareNextRows(lock, kRowsInFlight)) {
  }
}

// Claims the next published rows not yet claimed (at most maxRows of them)
// and prepares them, without the lock; false when there are none.
bool RowBand::PrepareNextRows(std::unique_lock<std::mutex>& lock, int64_t maxRows) const {
  if (closing_ || claimed_ >= drawn_) return false;
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
  Raise(published_, kAllRows);
}

void RowBand::Abandon() {
  abandoned_.store(true, std::memory_order_release);
  if (prepare_ != nullptr) {
    std::unique_lock<std::mutex> lock(mutex_);
    closing_ = true;
    changed_.wait(lock, [this] { return claimsUnderWay_ == 0; });
  }
  Raise(published_, kAllRows);
}

const uint8_t* RowBand::RowToRead(int64_t y) const {
  if (published_.value.load(std::memory_order_acquire) > y) return RowAddress(y);
  // Rows are left to the reader only by a writer with a prepare step, under
  // the lock: prepare_ is not looked at here, as the writer may set it.
  std::unique_lock<std::mutex> lock(mutex_);
  while (published_.value.load() <= y) {
    if (PrepareNextRows(lock, kRowsInFlight)) continue;
    // As in WaitUntil: a raise without the lock sees the wish or is seen.
    published_.wanted.store(y + 1);
    if (published_.value.load() <= y) changed_.wait(lock);
    published_.wanted.store(INT64_MAX);
  }
  return RowAddress(y);
}

void RowBand::Release(int64_t rows) {
  Raise(released_, rows);
}
