#include "codecs/common/shared_library.h"

void* OpenSharedLibrary(const char* soname) {
  void* library = dlopen(soname, RTLD_NOW | RTLD_LOCAL);
  // dlerror keeps the failure until it is asked: clear it, as nobody reads it.
  if (library == nullptr) dlerror();
  return library;
}
