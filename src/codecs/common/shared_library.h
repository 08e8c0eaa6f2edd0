// Libraries a codec loads on its first use rather than at program start, so
// that a run that never meets the format never pays for mapping them.
#pragma once

#include <dlfcn.h>

// The library by its SONAME, its symbols bound now and kept to itself;
// nullptr when the loader cannot find or load it (dlopen prints nothing).
// A library opened here stays loaded until the process ends.
void* OpenSharedLibrary(const char* soname);

// Binds *fn to the symbol name in library; false when it has none.
template <typename Fn>
bool BindSymbol(void* library, const char* name, Fn* fn) {
  *fn = reinterpret_cast<Fn>(dlsym(library, name));
  return *fn != nullptr;
}
