// Inputs that can be read only once: a pipe or a character device
// (/dev/stdin, a FIFO). The driver probes the input and the job opens it
// again, so its bytes are read whole the first time and kept for the run,
// counted against the memory limit like pixel buffers.
#pragma once

#include <cstdint>
#include <string>

#include "platform/large_block.h"
#include "platform/mac_types.h"

// Whether path names a pipe or a character device.
bool IsPipedInput(const std::string& path);

// The input's bytes, read the first time and kept. When its first bytes
// are not an image file (sniff answers false), nothing more is read and
// noHandlerErr answers, so that an endless device is not read for ever; a
// FIFO that no writer has opened reads as empty instead of waiting for one.
// memFullErr when the bytes would not fit beside the pixel buffers.
OSErr ReadPipedInput(const std::string& path, bool (*sniff)(const LargeByteVector& start),
                     const LargeByteVector** bytes);
