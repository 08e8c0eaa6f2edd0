// A last line for a file that a signal cuts short: the report of a run ended
// by a signal that the temporary guard handles says so as its final line,
// written by the guard's handler before the process ends.
#pragma once

#include <string>

// Arms the note: line goes to fd when a guarded signal ends the process.
// Installs the guard's handlers now, so that a signal that comes before the
// first temporary file still writes it. One note at a time.
void ArmSignalNote(int fd, const std::string& line);
// The writer of fd is inside a line (true) or between lines (false): a note
// that comes inside one starts on a line of its own.
void MarkSignalNoteMidLine(bool inside);
// Before fd is closed.
void DisarmSignalNote();

// From the signal handler: async-signal-safe, writes the note if armed.
void WriteSignalNote();
