#include "codecs/jxl/jxl_library.h"

#include "codecs/common/shared_library.h"

namespace {

JxlLibrary& Table() {
  static JxlLibrary table;
  return table;
}

const JxlLibrary* Bind() {
  void* codec = OpenSharedLibrary(TAVREL_LIBJXL_SONAME);
  if (codec == nullptr) return nullptr;
  void* threads = OpenSharedLibrary(TAVREL_LIBJXL_THREADS_SONAME);
  if (threads == nullptr) {
    dlclose(codec);
    return nullptr;
  }
  JxlLibrary& table = Table();
  bool complete = true;
#define TAVREL_JXL_BIND(fn) complete = BindSymbol(codec, "Jxl" #fn, &table.fn) && complete;
  TAVREL_JXL_FUNCTIONS(TAVREL_JXL_BIND)
#undef TAVREL_JXL_BIND
#define TAVREL_JXL_BIND(fn) complete = BindSymbol(threads, "Jxl" #fn, &table.fn) && complete;
  TAVREL_JXL_THREAD_FUNCTIONS(TAVREL_JXL_BIND)
#undef TAVREL_JXL_BIND
  if (!complete) {
    dlclose(threads);
    dlclose(codec);
    return nullptr;
  }
  return &table;
}

}  // namespace

const JxlLibrary* LoadJxl() {
  static const JxlLibrary* const loaded = Bind();
  return loaded;
}

const JxlLibrary& Jxl() {
  return Table();
}
