// The file "//report" names, opened for writing without waiting: a pipe
// with no reader is refused at once, as an output onto it is, rather than
// holding the run before any input is read.
#pragma once

#include <cstdint>
#include <string>

// noErr and *fd open for writing (an existing regular file emptied), or
// the open's code.
int32_t OpenReportFile(const std::string& path, int* fd);
