// Printing the input's metadata items in readable form.
#pragma once

#include <string>

// Where the dump goes when its file cannot be opened: the standard output,
// or nowhere when the image is written there.
enum class DumpFallback { kStandardOutput, kNowhere };

// Prints to the file named by dumpPath, or to the standard output when it is
// empty or "-". Reports nothing.
void DumpMetaData(const std::string& inputPath, const std::string& dumpPath,
                  DumpFallback fallback = DumpFallback::kStandardOutput);
