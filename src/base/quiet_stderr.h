// Silencing a library that writes to the standard error and offers no way
// to stop it (libjxl 0.7 reports misuse and damage there; dav1d inside
// libheif reports damaged AV1 data).
#pragma once

#include <string_view>

// Points file descriptor 2 at /dev/null while any QuietStderr is alive, in
// any thread: the first one in keeps the real standard error aside, the last
// one out puts it back, in whatever order they end.
class QuietStderr {
 public:
  QuietStderr();
  ~QuietStderr();
  QuietStderr(const QuietStderr&) = delete;
  QuietStderr& operator=(const QuietStderr&) = delete;
};

// Writes the program's own text to the real standard error, also while a
// library is quieted in another thread. Under a status line the text goes
// above it: the status is erased, the text written, the status drawn again.
void WriteStandardError(std::string_view text);

// A line kept at the foot of a terminal, redrawn in place ("\r", then the
// rest of the old one erased) each time it is set; text without a newline.
// Empty text erases it and ends it.
void SetStatusLine(std::string_view text);
