// The whole run: start the imaging services, scan the command line, check
// it, run the metadata dump and the job, report, stop. The only place that
// decides what the program prints and its exit status.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// words[0] is the program as started. Returns the exit status: the start's
// code when the services cannot be started, else the number of
// command-line errors, else the job's code (0 on success).
int32_t RunDriver(const std::vector<std::string>& words);

// The process's exit status for a code: its low byte, except that a
// non-zero code whose low byte is 0 gives 255, so that no failure reads as
// success.
int ExitStatus(int32_t code);
