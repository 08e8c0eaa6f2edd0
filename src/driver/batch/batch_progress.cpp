#include "driver/batch/batch_progress.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "base/quiet_stderr.h"

namespace {

// Whole seconds, rounded up; "2 min 05 s" from a minute on.
std::string Duration(double seconds) {
  const long whole = long(std::ceil(std::max(0.0, seconds)));
  char text[48];
  if (whole < 60) {
    std::snprintf(text, sizeof text, "%ld s", whole);
  } else {
    std::snprintf(text, sizeof text, "%ld min %02ld s", whole / 60, whole % 60);
  }
  return text;
}

std::string Counted(size_t done, size_t total) {
  return std::to_string(done) + "/" + std::to_string(total) + " inputs done";
}

}  // namespace

std::string ProgressText(size_t done, size_t total, double seconds) {
  if (done == 0 || done >= total) return Counted(done, total);
  return Counted(done, total) + ", about " +
         Duration(seconds / double(done) * double(total - done)) + " left";
}

std::string FinishedText(size_t done, size_t total, double seconds) {
  return Counted(done, total) + " in " + Duration(seconds);
}

BatchProgress::BatchProgress(size_t total, bool shown, bool terminal)
    : total_(total), shown_(shown), terminal_(terminal) {}

void BatchProgress::Start() {
  if (shown_ && terminal_) SetStatusLine(ProgressText(0, total_, 0));
}

double BatchProgress::Seconds() const {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
}

void BatchProgress::InputDone() {
  if (!shown_) return;
  const std::lock_guard<std::mutex> hold(lock_);
  ++done_;
  const std::string text = done_ == total_ ? FinishedText(done_, total_, Seconds())
                                           : ProgressText(done_, total_, Seconds());
  if (terminal_) {
    SetStatusLine(text);
  } else {
    WriteStandardError(text + "\n");
  }
}

void BatchProgress::Finish() {
  if (!shown_) return;
  const std::lock_guard<std::mutex> hold(lock_);
  if (!terminal_) return;  // each input has had its line
  SetStatusLine("");
  WriteStandardError(FinishedText(done_, total_, Seconds()) + "\n");
}
