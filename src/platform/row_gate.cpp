#include "platform/row_gate.h"

void RowGate::SetPrepare(Prepare prepare, void* cookie) {
  prepare_ = prepare;
  cookie_ = cookie;
}

void RowGate::Publish(int64_t rows) {
  // Only the writer publishes, so the rows before `rows` are its own.
  const int64_t from = ready_.load(std::memory_order_relaxed);
  if (prepare_ != nullptr && rows != kClosed && rows > from) prepare_(cookie_, from, rows);
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (rows <= ready_.load(std::memory_order_relaxed)) return;
    ready_.store(rows, std::memory_order_release);
  }
  changed_.notify_all();
}

void RowGate::Close() {
  Publish(kClosed);
}

void RowGate::WaitFor(int64_t rows) const {
  if (ready_.load(std::memory_order_acquire) >= rows) return;
  std::unique_lock<std::mutex> lock(mutex_);
  changed_.wait(lock, [&] { return ready_.load(std::memory_order_acquire) >= rows; });
}
