#include "driver/serve/line_reader.h"

#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "base/errno_error.h"

LineReader::LineReader(int fd, size_t longest, int stop)
    : fd_(fd), longest_(longest), stop_(stop), buffer_(longest + 1) {}

bool LineReader::Fill(LineEnd* end, int32_t* code) {
  if (start_ > 0) {
    std::memmove(buffer_.data(), buffer_.data() + start_, end_ - start_);
    end_ -= start_;
    start_ = 0;
  }
  sigset_t waiting;
  pthread_sigmask(SIG_SETMASK, nullptr, &waiting);
  sigdelset(&waiting, stop_);
  pollfd input{fd_, POLLIN, 0};
  for (;;) {
    if (ppoll(&input, 1, nullptr, &waiting) < 0) {
      if (errno != EINTR) break;
      *end = LineEnd::kStopped;  // only the stop is let through while waiting
      return false;
    }
    const ssize_t n = read(fd_, buffer_.data() + end_, buffer_.size() - end_);
    if (n > 0) {
      end_ += size_t(n);
      return true;
    }
    if (n == 0) {
      eof_ = true;
      return true;
    }
    if (errno != EINTR && errno != EAGAIN) break;
  }
  *end = LineEnd::kFailed;
  *code = ErrorFromErrno(errno);
  return false;
}

LineEnd LineReader::Next(std::string* line, int32_t* code) {
  // A stop that came while jobs ran is taken before another line, even
  // one read already.
  sigset_t pending;
  if (sigpending(&pending) == 0 && sigismember(&pending, stop_)) return LineEnd::kStopped;
  bool tooLong = false;
  for (;;) {
    const char* from = buffer_.data() + start_;
    const void* newline = std::memchr(from, '\n', end_ - start_);
    if (newline != nullptr || (eof_ && end_ > start_)) {
      const size_t length =
          newline != nullptr ? size_t(static_cast<const char*>(newline) - from) : end_ - start_;
      start_ += length + (newline != nullptr ? 1 : 0);
      if (tooLong || length > longest_) return LineEnd::kTooLong;
      line->assign(from, length);
      return LineEnd::kLine;
    }
    if (eof_) return tooLong ? LineEnd::kTooLong : LineEnd::kEnd;
    if (end_ - start_ == buffer_.size()) {  // longer than the bound: dropped
      tooLong = true;
      start_ = end_ = 0;
    }
    LineEnd end = LineEnd::kEnd;
    if (!Fill(&end, code)) return end;
  }
}
