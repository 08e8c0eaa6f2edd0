// The result code for a failed system call, reading or writing alike.
#pragma once

#include "base/mac_types.h"

// fnfErr for a path that leads nowhere; accessDeniedErr for lack of
// permission, a read-only file system, a busy program file or a folder where
// a file is to be written (a folder opened for reading is refused by its
// type before anything reads it); dskFulErr when space or quota runs out;
// memFullErr; ioErr for the rest.
OSErr ErrorFromErrno(int error);
