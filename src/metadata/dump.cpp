#include "metadata/dump.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <memory>

#include "base/errno_error.h"
#include "metadata/print_metadata.h"
#include "metadata/print_metadata_json.h"
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

// Opens the dump file for writing, or answers null and the reason when it
// cannot be opened at once. Never blocks (a pipe without a reader counts as
// unopenable), and never truncates the input itself: a dump path that names
// the input file, through whatever link, counts as unopenable too.
std::FILE* OpenDumpFile(const std::string& dumpPath, const std::string& inputPath, int32_t& err) {
  int fd = ::open(dumpPath.c_str(), O_WRONLY | O_CREAT | O_NONBLOCK | O_CLOEXEC | O_NOCTTY, 0666);
  if (fd < 0) {
    err = ErrorFromErrno(errno);
    return nullptr;
  }
  struct stat dump, input;
  const bool isInput =
      fstat(fd, &dump) != 0 || (stat(inputPath.c_str(), &input) == 0 &&
                                dump.st_dev == input.st_dev && dump.st_ino == input.st_ino);
  const int flags = fcntl(fd, F_GETFL);
  if (isInput || flags < 0 || fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0 ||
      (S_ISREG(dump.st_mode) && ftruncate(fd, 0) != 0)) {
    err = isInput ? paramErr : ErrorFromErrno(errno);
    ::close(fd);
    return nullptr;
  }
  std::FILE* file = fdopen(fd, "w");
  if (file == nullptr) {
    err = ErrorFromErrno(errno);
    ::close(fd);
  }
  return file;
}

}  // namespace

int32_t DumpMetaData(const std::string& inputPath, const std::string& dumpPath,
                     DumpFallback fallback, DumpStyle style) {
  // Any failure ends the dump quietly: the job reports the input's problems.
  FSSpec spec;
  if (FSMakeFSSpec(inputPath, &spec) != noErr) return noErr;
  GraphicsImportComponent rawImporter = nullptr;
  if (GetGraphicsImporterForFile(&spec, &rawImporter) != noErr || rawImporter == nullptr) {
    return noErr;
  }
  UniqueComponent importer(rawImporter);

  UserData rawList = nullptr;
  if (NewUserData(&rawList) != noErr || rawList == nullptr) return noErr;
  UniqueUserData list(rawList);
  if (GraphicsImportGetMetaData(importer.get(), list.get()) != noErr) return noErr;

  UniqueHandle scratch(NewHandle(0));
  if (!scratch) return noErr;

  // A dump file that cannot be opened sends the dump to the standard output,
  // unless the image is written there: it never goes into an image stream.
  int32_t openErr = noErr;
  std::unique_ptr<std::FILE, FileCloser> file;
  if (!dumpPath.empty() && dumpPath != "-") {
    file.reset(OpenDumpFile(dumpPath, inputPath, openErr));
    if (!file && fallback == DumpFallback::kNowhere) return openErr;
  }
  std::FILE* out = file ? file.get() : stdout;
  if (style == DumpStyle::kJson) {
    PrintMetaDataJson(list.get(), scratch.get(), out);
  } else {
    PrintMetaData(list.get(), scratch.get(), out);
  }
  return noErr;
}
