// The file "//report" names, opened for writing without waiting: a pipe
// with no reader is refused at once, as an output onto it is, rather than
// holding the run before any input is read; and the writing of whole
// lines, which the worker's results share.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

// noErr and *fd open for writing (an existing regular file emptied), or
// the open's code.
int32_t OpenReportFile(const std::string& path, int* fd);

// Writes all of text to fd, going on after a signal's interruption; the
// bytes written, and in *error errno when that is not all (ENOSPC when the
// file took no more).
size_t WriteAll(int fd, std::string_view text, int* error);
