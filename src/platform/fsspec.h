// FSSpec records: an absolute path.
#pragma once

#include <string>

#include "base/mac_types.h"

struct FSSpec {
  std::string path;
};

// Fills the FSSpec with the absolute form of path (a path that does
// not begin with "/" is taken against the current directory). Answers fnfErr
// for a path that names nothing, still filling the FSSpec; paramErr
// when the path is empty or the current directory cannot be had.
OSErr FSMakeFSSpec(const std::string& path, FSSpec* spec);
