// The worker's standard input, a line at a time, with a bound on a line's
// length (what is beyond it is read and dropped, never held) and a stop
// signal that ends the wait for the next line.
#pragma once

#include <signal.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

enum class LineEnd {
  kLine,     // a line, without its newline (the last one may lack it)
  kTooLong,  // a line longer than the bound, read through to its newline
  kEnd,      // the end of the input
  kStopped,  // the stop signal came
  kFailed,   // the read failed: errno's code in *code
};

class LineReader {
 public:
  // fd is read; stop is a signal this thread holds blocked and takes only
  // while it waits for input, which it then ends.
  LineReader(int fd, size_t longest, int stop);
  LineEnd Next(std::string* line, int32_t* code);

 private:
  // Waits for input or the stop signal and reads what is there; false
  // with *end when there is nothing more to read.
  bool Fill(LineEnd* end, int32_t* code);

  int fd_;
  size_t longest_;
  int stop_;
  std::vector<char> buffer_;
  size_t start_ = 0;  // the unread bytes are buffer_[start_, end_)
  size_t end_ = 0;
  bool eof_ = false;
};
