// Writing a file whole or not at all.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "base/mac_types.h"

// A file being replaced. Open checks the target and creates a temporary
// file exclusively in the folder of the file it names (after links); the
// bytes go there, and Commit flushes them to the disk and renames the
// temporary over the target, which gets the old file's permission bits and
// owner. Destroyed without a successful Commit, the temporary is removed
// and an existing file stays as it was. A device or pipe is written in
// place instead (Direct), where every byte is seen as it is written.
//
// An existing target is replaced only when the caller may open it for
// writing (accessDeniedErr otherwise), and one that cannot be opened at
// once, such as a pipe with no reader, answers ioErr instead of waiting.
// Temporary files that killed writers left in the folder are removed
// first (stale_temporaries.h). Results: fnfErr (no such folder),
// accessDeniedErr, dskFulErr, ioErr, memFullErr. The first failure sticks:
// later calls answer it too.
// The process's own standard output, written through its descriptor
// whatever it is (a terminal, a pipe, a file the shell opened). No path
// names it: every other path reaching here is absolute.
constexpr char kStandardOutputPath[] = "-";

class OutputFile {
 public:
  OutputFile() = default;
  ~OutputFile();
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  OSErr Open(const std::string& path);
  bool Direct() const { return direct_; }
  // Appends; small writes are gathered into one buffer.
  OSErr Write(std::span<const uint8_t> bytes);
  // Writes at offset in the file being made (not in a direct one, unless at
  // its end): a format that goes back to fill in offsets. Past the end,
  // the gap reads as zeros.
  OSErr WriteAt(uint64_t offset, std::span<const uint8_t> bytes);
  // Reads back what was written; *got is short at the end.
  OSErr ReadAt(uint64_t offset, std::span<uint8_t> bytes, size_t* got);
  uint64_t Size() const { return size_; }
  OSErr Commit();

 private:
  OSErr Fail(OSErr err);
  OSErr Flush();

  int fd_ = -1;
  bool direct_ = false;
  bool haveExisting_ = false;
  uint32_t existingUid_ = 0, existingGid_ = 0, existingMode_ = 0;
  std::string target_;     // after links
  std::string temporary_;  // empty once renamed or removed
  std::vector<uint8_t> buffer_;
  uint64_t flushed_ = 0;  // bytes in the file; the buffer follows them
  uint64_t size_ = 0;
  OSErr failed_ = noErr;
};

// Replaces the file at path with bytes through an OutputFile.
OSErr WriteFileWhole(const std::string& path, std::span<const uint8_t> bytes);
