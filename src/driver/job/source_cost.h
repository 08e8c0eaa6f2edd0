// A job's input measured as its limits count it (driver/job/input_limits.h),
// from the file's size and headers alone: nothing is decoded and no pixel
// buffer is allocated.
#pragma once

#include <cstdint>

#include "driver/job/input_limits.h"
#include "driver/job/job_settings.h"

// The file's size first (a file beyond the byte limit is not opened; a pipe
// counts 0, its size unknown before it is read), then the canvas as the
// checks' probe of the header stored it in the outputs' geometry, under
// "//animated" the frame count (the header read again), and the outputs'
// written pixels.
// Answers the opening's error for a file that cannot be read.
int32_t MeasureSourceCost(const JobSettings& s, SourceCost* cost);

// The job's limits applied to its input: noErr when none is set or the
// input is within them, else the code of the first one it goes beyond (or
// the error that kept the header from being read).
int32_t RefuseOverLimits(const JobSettings& s);

// The size of the file at path; 0 for anything but a regular file.
uint64_t RegularFileBytes(const std::string& path);
