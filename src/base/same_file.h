// Whether a name leads to the standard output, by device and inode after
// every link is followed, whatever the words say.
#pragma once

#include <string>

// True when path exists and is the file the standard output (descriptor 1)
// is open on: "/dev/stdout", "/dev/fd/1", or the file or pipe a shell
// redirected the output into.
bool NamesStandardOutput(const std::string& path);
