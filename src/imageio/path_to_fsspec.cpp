#include "imageio/path_to_fsspec.h"

// The platform takes paths of any length and makes relative ones absolute
// against the current directory; a path it cannot make absolute answers
// paramErr, and a missing file fnfErr with the FSSpec filled.
OSErr PathToFSSpec(const std::string& path, FSSpec* spec) {
  if (spec == nullptr) return paramErr;
  return FSMakeFSSpec(path, spec);
}
