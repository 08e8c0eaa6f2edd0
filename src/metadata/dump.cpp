#include "metadata/dump.h"

#include <cstdio>
#include <memory>

#include "metadata/print_metadata.h"
#include "platform/components.h"
#include "platform/fsspec.h"
#include "platform/graphics_import.h"
#include "platform/handle.h"
#include "platform/user_data.h"

namespace {

struct ImporterCloser {
  void operator()(ComponentInstanceRecord* ci) const { CloseComponent(ci); }
};
struct UserDataDisposer {
  void operator()(UserDataRecord* ud) const { DisposeUserData(ud); }
};
struct HandleDisposer {
  void operator()(char** h) const { DisposeHandle(h); }
};
struct FileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};

}  // namespace

void DumpMetaData(const std::string& inputPath, const std::string& dumpPath) {
  // Any failure ends the dump quietly: the job reports the input's problems.
  FSSpec spec;
  if (FSMakeFSSpec(inputPath, &spec) != noErr) return;
  GraphicsImportComponent rawImporter = nullptr;
  if (GetGraphicsImporterForFile(&spec, &rawImporter) != noErr || rawImporter == nullptr) return;
  std::unique_ptr<ComponentInstanceRecord, ImporterCloser> importer(rawImporter);

  UserData rawList = nullptr;
  if (NewUserData(&rawList) != noErr || rawList == nullptr) return;
  std::unique_ptr<UserDataRecord, UserDataDisposer> list(rawList);
  if (GraphicsImportGetMetaData(importer.get(), list.get()) != noErr) return;

  std::unique_ptr<char*, HandleDisposer> scratch(NewHandle(0));
  if (!scratch) return;

  // A dump file that cannot be opened sends the dump to the standard output.
  std::unique_ptr<std::FILE, FileCloser> file;
  if (!dumpPath.empty() && dumpPath != "-") file.reset(std::fopen(dumpPath.c_str(), "w"));
  PrintMetaData(list.get(), scratch.get(), file ? file.get() : stdout);
}
