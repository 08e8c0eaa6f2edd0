#include "base/deadline.h"

#include <atomic>
#include <chrono>

#include "base/deadline_seam.h"

namespace {

int64_t MonotonicNanoseconds() {
  const auto now = std::chrono::steady_clock::now().time_since_epoch();
  // Shifted by one so that no reading is 0, which stands for never.
  return std::chrono::duration_cast<std::chrono::nanoseconds>(now).count() + 1;
}

std::atomic<DeadlineClock> clockInUse{MonotonicNanoseconds};

}  // namespace

void OverrideDeadlineClock(DeadlineClock clock) {
  clockInUse.store(clock != nullptr ? clock : MonotonicNanoseconds);
}

Deadline Deadline::After(double seconds) {
  Deadline deadline;
  if (!(seconds > 0)) return deadline;
  // Beyond about 292 years the sum would overflow: that is never.
  constexpr double kLongest = 9e9;
  if (seconds > kLongest) return deadline;
  deadline.at_ = clockInUse.load()() + int64_t(seconds * 1e9);
  return deadline;
}

bool Deadline::Passed() const {
  return at_ != 0 && clockInUse.load()() >= at_;
}
