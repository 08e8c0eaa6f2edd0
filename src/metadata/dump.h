// Printing the input's metadata items in readable form.
#pragma once

#include <string>

// Prints to the file named by dumpPath, or to the standard output when it is
// empty or "-". Reports nothing.
void DumpMetaData(const std::string& inputPath, const std::string& dumpPath);
