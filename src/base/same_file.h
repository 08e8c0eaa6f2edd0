// Whether two names lead to one file, by device and inode after every link
// is followed, whatever the words say.
#pragma once

#include <string>

// True when both paths exist and lead to the same file.
bool SameFile(const std::string& a, const std::string& b);

// True when path exists and is the file the standard output (descriptor 1)
// is open on: "/dev/stdout", "/dev/fd/1", or the file or pipe a shell
// redirected the output into.
bool NamesStandardOutput(const std::string& path);

// True when path names an existing regular file.
bool IsRegularFile(const std::string& path);
