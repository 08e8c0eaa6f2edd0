// "/v" over many inputs: how many are done of how many, and a guess at the
// time the rest take, on one line that a terminal redraws in place, or a
// plain line for each input done when the standard error is a file or pipe.
#pragma once

#include <chrono>
#include <cstddef>
#include <mutex>
#include <string>

// "12/87 inputs done, about 34 s left": the estimate is the mean time an
// input has taken so far; none before the first is done.
std::string ProgressText(size_t done, size_t total, double seconds);
// "87/87 inputs done in 41 s".
std::string FinishedText(size_t done, size_t total, double seconds);

class BatchProgress {
 public:
  // Shows nothing unless shown; terminal: a status line redrawn in place.
  BatchProgress(size_t total, bool shown, bool terminal);
  BatchProgress(const BatchProgress&) = delete;
  BatchProgress& operator=(const BatchProgress&) = delete;
  // As the first job begins: the terminal's line, at 0 done.
  void Start();
  // From any thread, once an input's lines are written; the last one's
  // line says the time the batch took.
  void InputDone();
  // Once every job has ended: the terminal's line is left as a plain one.
  void Finish();

 private:
  double Seconds() const;

  const size_t total_;
  const bool shown_;
  const bool terminal_;
  const std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
  std::mutex lock_;
  size_t done_ = 0;
};
