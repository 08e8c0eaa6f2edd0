// Where an encoder's bytes go: into memory, when the whole file is needed
// before it is written (metadata is put into it afterwards), or straight
// into the output file as they are made, so that the encoded file is never
// held whole.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "base/mac_types.h"
#include "stream/file_write.h"

class ByteSink {
 public:
  explicit ByteSink(std::vector<uint8_t>* memory) : memory_(memory) {}
  explicit ByteSink(OutputFile* file) : file_(file) {}

  // memFullErr in memory; the file's results otherwise (dskFulErr ...).
  OSErr Append(const void* data, size_t size);
  // For formats that go back to fill in offsets; past the end, the gap
  // reads as zeros.
  OSErr WriteAt(uint64_t offset, const void* data, size_t size);
  // *got is short at the end.
  OSErr ReadAt(uint64_t offset, void* data, size_t size, size_t* got);
  uint64_t Size() const;
  // The vector of a sink in memory, else nullptr.
  std::vector<uint8_t>* Memory() const { return memory_; }

 private:
  std::vector<uint8_t>* memory_ = nullptr;
  OutputFile* file_ = nullptr;
};
