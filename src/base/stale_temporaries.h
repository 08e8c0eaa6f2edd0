// Temporary files that a killed writer left behind. OutputFile writes to
// "<folder>/.tavrel-<pid>-<counter>-<nanoseconds>" and renames that over the
// target; a process killed in between cannot remove its temporary file, so
// the next write into the same folder removes the ones that are surely stale.
#pragma once

#include <cstdint>
#include <string>

// The first part of every temporary file's name.
inline constexpr char kTemporaryPrefix[] = ".tavrel-";

// Files at least this old (by their last change) may be removed: no live
// writer leaves its temporary file untouched this long, also on a shared
// folder where the pid of a writer on another machine means nothing here.
inline constexpr int64_t kStaleTemporarySeconds = 10 * 60;

// Whether name is exactly a temporary file's name; gives the writer's pid.
bool ParseTemporaryName(const std::string& name, int64_t* pid);

// Removes from folder the temporary files that are regular files of this
// user, whose writer is no longer running, and that are old enough. Never
// fails: what cannot be examined or removed is left alone.
void RemoveStaleTemporaries(const std::string& folder);

// RemoveStaleTemporaries, unless this process did so in folder less than
// kStaleTemporarySeconds ago: no file can have become stale since that it
// could not wait for, and a batch writing thousands of files into one
// folder would otherwise list the folder once for each. Safe from any
// thread.
void RemoveStaleTemporariesNowAndThen(const std::string& folder);
