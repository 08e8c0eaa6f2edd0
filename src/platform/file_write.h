// Writing a file whole or not at all.
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "platform/mac_types.h"

// Replaces the file at path with bytes: a regular file (or a missing one) is
// written to a temporary file created exclusively in the same folder, flushed
// and renamed over it, keeping an existing file's permission bits; any other
// target (a device, a pipe) is written directly. An existing target is
// replaced only when the caller may open it for writing (accessDeniedErr
// otherwise), and one that cannot be opened at once, such as a pipe with no
// reader, answers ioErr instead of waiting. On failure an existing file
// is untouched and no temporary file remains. Temporary files that killed
// writers left in the folder are removed first (stale_temporaries.h).
// Results: fnfErr (no such folder), accessDeniedErr, dskFulErr, ioErr.
OSErr WriteFileWhole(const std::string& path, std::span<const uint8_t> bytes);
