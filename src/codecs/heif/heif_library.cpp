#include "codecs/heif/heif_library.h"

#include "codecs/common/shared_library.h"

namespace {

HeifLibrary& Table() {
  static HeifLibrary table;
  return table;
}

const HeifLibrary* Bind() {
  void* library = OpenSharedLibrary(TAVREL_LIBHEIF_SONAME);
  if (library == nullptr) return nullptr;
  HeifLibrary& table = Table();
  bool complete = true;
#define TAVREL_HEIF_BIND(fn) complete = BindSymbol(library, "heif_" #fn, &table.fn) && complete;
  TAVREL_HEIF_FUNCTIONS(TAVREL_HEIF_BIND)
#undef TAVREL_HEIF_BIND
  if (!complete) {
    dlclose(library);
    return nullptr;
  }
  // Registers the decoders and encoders libheif was built with; never undone.
  table.init(nullptr);
  return &table;
}

}  // namespace

const HeifLibrary* LoadHeif() {
  static const HeifLibrary* const loaded = Bind();
  return loaded;
}

const HeifLibrary& Heif() {
  return Table();
}
