// The standard error quieted around a call into a format's codec when the
// format's record says its library prints there (the program's own lines
// still arrive: base/quiet_stderr.h); nothing otherwise.
#pragma once

#include <optional>

#include "base/quiet_stderr.h"
#include "platform/image_format.h"

class LibraryQuiet {
 public:
  explicit LibraryQuiet(const ImageFormat& format) {
    if (format.libraryPrints) quiet_.emplace();
  }

 private:
  std::optional<QuietStderr> quiet_;
};
