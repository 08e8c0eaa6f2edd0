// Silencing a library that writes to the standard error and offers no way
// to stop it (dav1d inside libheif reports damaged AV1 data there).
#pragma once

// Points file descriptor 2 at /dev/null while alive and restores it after.
// The program itself prints nothing while a codec runs.
class QuietStderr {
 public:
  QuietStderr();
  ~QuietStderr();
  QuietStderr(const QuietStderr&) = delete;
  QuietStderr& operator=(const QuietStderr&) = delete;

 private:
  int saved_ = -1;
};
