#include "driver/serve/serve.h"

#include <signal.h>
#include <unistd.h>

#include <condition_variable>
#include <deque>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

#include "base/errno_error.h"
#include "base/mac_types.h"
#include "base/quiet_stderr.h"
#include "driver/batch/report_file.h"
#include "driver/job/error_line.h"
#include "driver/job/image_job.h"
#include "driver/serve/line_reader.h"
#include "driver/serve/serve_job.h"
#include "stream/temporary_guard.h"

namespace {

// SIGTERM held back in every thread, taken only by the reader's wait for
// input (line_reader.h). Its handler does nothing: the reader sees it.
class TermHeld {
 public:
  TermHeld() {
    struct sigaction action {};
    action.sa_handler = [](int) {};
    sigemptyset(&action.sa_mask);
    sigaction(SIGTERM, &action, &oldAction_);
    sigset_t term;
    sigemptyset(&term);
    sigaddset(&term, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &term, &oldMask_);
  }
  ~TermHeld() {
    pthread_sigmask(SIG_SETMASK, &oldMask_, nullptr);
    sigaction(SIGTERM, &oldAction_, nullptr);
  }
  TermHeld(const TermHeld&) = delete;
  TermHeld& operator=(const TermHeld&) = delete;

 private:
  struct sigaction oldAction_ {};
  sigset_t oldMask_;
};

// The reader hands a line to a free worker; no line waits for one.
class Workers {
 public:
  explicit Workers(int32_t count) : free_(count) {
    for (int32_t slot = 0; slot < count; ++slot) {
      try {
        threads_.emplace_back([this, slot] { Work(slot); });
      } catch (const std::system_error&) {
        free_ -= count - slot;  // fewer workers
        break;
      }
    }
  }
  ~Workers() { Close(); }
  Workers(const Workers&) = delete;
  Workers& operator=(const Workers&) = delete;

  // Waits until a worker is free; false once a result could not be written.
  bool WaitForFree() {
    std::unique_lock<std::mutex> hold(lock_);
    changed_.wait(hold, [this] { return free_ > 0 || failure_ != noErr; });
    return failure_ == noErr;
  }
  void Hand(JobLine line) {
    const std::lock_guard<std::mutex> hold(lock_);
    lines_.push_back(std::move(line));
    --free_;
    changed_.notify_all();
  }
  // The jobs handed over have ended; the result write's code, or noErr.
  int32_t Close() {
    {
      const std::lock_guard<std::mutex> hold(lock_);
      closed_ = true;
      changed_.notify_all();
    }
    for (std::thread& thread : threads_) thread.join();
    threads_.clear();
    return failure_;
  }
  bool Any() const { return !threads_.empty(); }

 private:
  void Work(int32_t slot) {
    for (;;) {
      JobLine line;
      {
        std::unique_lock<std::mutex> hold(lock_);
        changed_.wait(hold, [this] { return !lines_.empty() || closed_; });
        if (lines_.empty()) return;
        line = std::move(lines_.front());
        lines_.pop_front();
        line.turn = turns_++;  // in the order of the lines
      }
      const std::string result = RunJobLine(line, slot, &inFlight_);
      std::lock_guard<std::mutex> hold(lock_);
      // One whole line at a time; after a failed one, none.
      int error = 0;
      if (failure_ == noErr && WriteAll(STDOUT_FILENO, result, &error) != result.size()) {
        failure_ = ErrorFromErrno(error);
      }
      ++free_;
      changed_.notify_all();
    }
  }

  std::mutex lock_;
  std::condition_variable changed_;
  std::deque<JobLine> lines_;
  uint64_t turns_ = 0;
  int32_t free_ = 0;
  bool closed_ = false;
  int32_t failure_ = noErr;
  InFlight inFlight_;
  std::vector<std::thread> threads_;
};

}  // namespace

int32_t RunServe(int32_t jobs) {
  // Every worker may be writing its output's temporary at once.
  if (const OSErr err = ReserveTemporarySlots(size_t(jobs))) return err;
  const TermHeld term;  // before the workers start, so that they hold it too
  Workers workers(jobs);
  if (!workers.Any()) return memFullErr;
  SetImageJobsAtOnce(jobs);  // each job's decode then takes its share of the cores
  LineReader reader(STDIN_FILENO, kLongestJobLine, SIGTERM);
  int32_t readCode = noErr;
  for (int64_t id = 1; workers.WaitForFree(); ++id) {
    JobLine line;
    line.id = id;
    const LineEnd end = reader.Next(&line.text, &readCode);
    if (end != LineEnd::kLine && end != LineEnd::kTooLong) break;
    line.tooLong = end == LineEnd::kTooLong;
    if (!line.tooLong && line.text.find_first_not_of(" \t") == std::string::npos) continue;
    workers.Hand(std::move(line));
  }
  const int32_t writeCode = workers.Close();
  SetImageJobsAtOnce(1);
  // The caller learns of it from the status; a person at the console from
  // this line, as a batch tells of a report it could not write.
  const int32_t code = writeCode != noErr ? writeCode : readCode;
  if (code != noErr) WriteStandardError(JobErrorLine(code, "-"));
  return code;
}
