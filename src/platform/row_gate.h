// Rows of a buffer that one thread fills from the top while another reads
// them: the reader waits until the rows it needs are final. The writer must
// end with Close, also when it fails, so that no reader waits forever (rows
// that Close releases are not prepared: publish them first).
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>

class RowGate {
 public:
  // Work done on the writer's thread to rows [from, to) as they are
  // published, before any reader sees them (a byte-order pass, say). Set
  // before the writer starts.
  using Prepare = void (*)(void* cookie, int64_t from, int64_t to);
  void SetPrepare(Prepare prepare, void* cookie);
  // Rows [0, rows) are final.
  void Publish(int64_t rows);
  // No more rows will come: every wait returns.
  void Close();
  // Blocks until rows [0, rows) are final or the gate is closed.
  void WaitFor(int64_t rows) const;

 private:
  static constexpr int64_t kClosed = INT64_MAX;
  Prepare prepare_ = nullptr;
  void* cookie_ = nullptr;
  std::atomic<int64_t> ready_{0};
  mutable std::mutex mutex_;
  mutable std::condition_variable changed_;
};
