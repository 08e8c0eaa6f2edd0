// Opening, reading and sniffing the file an importer is chosen for.
#pragma once

#include <cstdint>
#include <string>

#include "base/large_block.h"
#include "platform/codec.h"
#include "platform/components_internal.h"

// Enough of the file to tell the codecs apart.
constexpr uint64_t kSniffBytes = 4096;

// Opens a regular file for reading. Anything else answers noHandlerErr
// without being read: a folder, or a pipe or device that reached here
// (those are read once, whole, by piped_input.h).
OSErr OpenRegularFile(const std::string& path, FileDescriptor* file, uint64_t* size);

// Reads up to limit bytes from the start of the file. The file may shrink
// while it is read; what was there is what counts.
OSErr ReadFileStart(int fd, uint64_t limit, LargeByteVector* bytes);

// The first importer in the registry that recognises the bytes, or nullptr.
const ComponentRecord* SniffedComponent(ByteSpan bytes);
