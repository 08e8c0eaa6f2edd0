#include "metadata/dump.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <memory>

#include "metadata/print_metadata.h"
#include "platform/components.h"
#include "platform/fsspec.h"
#include "platform/graphics_import.h"
#include "platform/handle.h"
#include "platform/owned.h"
#include "platform/user_data.h"

namespace {

struct FileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};

// Opens the dump file for writing, or answers null when it cannot be opened
// at once. Never blocks (a pipe without a reader counts as unopenable), and
// never truncates the input itself: a dump path that names the input file,
// through whatever link, counts as unopenable too.
std::FILE* OpenDumpFile(const std::string& dumpPath, const std::string& inputPath) {
  int fd = ::open(dumpPath.c_str(), O_WRONLY | O_CREAT | O_NONBLOCK | O_CLOEXEC | O_NOCTTY, 0666);
  if (fd < 0) return nullptr;
  struct stat dump, input;
  const bool isInput =
      fstat(fd, &dump) != 0 || (stat(inputPath.c_str(), &input) == 0 &&
                                dump.st_dev == input.st_dev && dump.st_ino == input.st_ino);
  const int flags = fcntl(fd, F_GETFL);
  if (isInput || flags < 0 || fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0 ||
      (S_ISREG(dump.st_mode) && ftruncate(fd, 0) != 0)) {
    ::close(fd);
    return nullptr;
  }
  std::FILE* file = fdopen(fd, "w");
  if (file == nullptr) ::close(fd);
  return file;
}

}  // namespace

void DumpMetaData(const std::string& inputPath, const std::string& dumpPath,
                  DumpFallback fallback) {
  // Any failure ends the dump quietly: the job reports the input's problems.
  FSSpec spec;
  if (FSMakeFSSpec(inputPath, &spec) != noErr) return;
  GraphicsImportComponent rawImporter = nullptr;
  if (GetGraphicsImporterForFile(&spec, &rawImporter) != noErr || rawImporter == nullptr) return;
  UniqueComponent importer(rawImporter);

  UserData rawList = nullptr;
  if (NewUserData(&rawList) != noErr || rawList == nullptr) return;
  UniqueUserData list(rawList);
  if (GraphicsImportGetMetaData(importer.get(), list.get()) != noErr) return;

  UniqueHandle scratch(NewHandle(0));
  if (!scratch) return;

  // A dump file that cannot be opened sends the dump to the standard output,
  // unless the image is written there: it never goes into an image stream.
  std::unique_ptr<std::FILE, FileCloser> file;
  if (!dumpPath.empty() && dumpPath != "-") {
    file.reset(OpenDumpFile(dumpPath, inputPath));
    if (!file && fallback == DumpFallback::kNowhere) return;
  }
  PrintMetaData(list.get(), scratch.get(), file ? file.get() : stdout);
}
