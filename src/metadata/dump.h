// Printing the input's metadata items in readable form.
#pragma once

#include <cstdint>
#include <string>

// Where the dump goes when its file cannot be opened: the standard output,
// or nowhere when the image is written there.
enum class DumpFallback { kStandardOutput, kNowhere };

// Readable lines, or one JSON object (metadata/print_metadata_json.h).
enum class DumpStyle { kText, kJson };

// Prints to the file named by dumpPath, or to the standard output when it is
// empty or "-". Prints no message: answers noErr, or with kNowhere the code
// of a dump file that could not be opened, so that the caller can say the
// dump went nowhere. An input that cannot be read ends the dump with noErr:
// the job reports it.
int32_t DumpMetaData(const std::string& inputPath, const std::string& dumpPath,
                     DumpFallback fallback = DumpFallback::kStandardOutput,
                     DumpStyle style = DumpStyle::kText);
