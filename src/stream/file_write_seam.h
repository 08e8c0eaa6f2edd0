// Test seam of OutputFile: the system calls that create and write files,
// replaceable so that tests can make them fail (a full disk, a refused
// folder) without needing such a disk or an unprivileged user.
#pragma once

#include <sys/types.h>

struct FileWriteCalls {
  int (*open)(const char* path, int flags, mode_t mode);
  ssize_t (*write)(int fd, const void* data, size_t size);
};

// The calls in use; tests may replace either and must restore them.
FileWriteCalls& CurrentFileWriteCalls();
// The system's own calls.
FileWriteCalls SystemFileWriteCalls();
