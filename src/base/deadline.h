// When a job must stop: a moment on the monotonic clock, or never. Each job
// holds its own, so that jobs sharing a process keep their own times (no
// process-wide alarm). The loops that may run long ask Passed() as they go,
// once per few rows published or per frame, and end with kTimedOutErr;
// nothing is killed, and every stage cleans up as on any other failure.
#pragma once

#include <cstdint>

class Deadline {
 public:
  Deadline() = default;  // never passes
  // seconds from now; 0 or less: never.
  static Deadline After(double seconds);
  bool Set() const { return at_ != 0; }
  bool Passed() const;

 private:
  int64_t at_ = 0;  // nanoseconds on the clock; 0 for never
};
