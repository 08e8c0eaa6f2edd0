// Inputs that can be read only once: a pipe or a character device
// (/dev/stdin, a FIFO). The driver probes the input and the job opens it
// again, so it is read the first time and kept for the run: a format whose
// codec decodes from a file descriptor (JPEG, PNG) is copied into an
// unnamed temporary file, never held whole; the others are held in memory,
// counted against the memory limit like pixel buffers.
#pragma once

#include <cstdint>
#include <string>

#include "base/large_block.h"
#include "base/mac_types.h"

// What the input's first bytes say about how to keep it.
enum class PipedKind { kNoImage, kInMemory, kInFile };

struct PipedInput {
  const LargeByteVector* bytes = nullptr;  // kInMemory: the whole input
  int file = -1;                           // kInFile: the copy, for pread
  uint64_t fileSize = 0;
};

// Whether path names a pipe or a character device.
bool IsPipedInput(const std::string& path);

// How many bytes of the piped input have been read and kept; 0 before it
// is read.
uint64_t PipedInputBytes(const std::string& path);

// The input, read the first time and kept; classify looks at its start.
// kNoImage stops the reading there and answers noHandlerErr, so that an
// endless device is not read for ever; a FIFO that no writer has opened
// reads as empty instead of waiting for one. memFullErr when the bytes
// held in memory would not fit beside the pixel buffers.
OSErr ReadPipedInput(const std::string& path, PipedKind (*classify)(const LargeByteVector& start),
                     PipedInput* input);
