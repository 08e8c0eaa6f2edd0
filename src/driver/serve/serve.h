// "//serve": a worker that stays running. It reads jobs from the standard
// input, one a line (the words of a command line as sh quotes them,
// driver/serve/job_words.h), runs each in this process with the imaging
// services already started, "//jobs N" at a time, and writes one result
// line a job to the standard output as it ends (driver/serve/serve_job.h),
// each written whole and at once. A job fails alone, whatever its line.
// The end of the input ends the worker once its jobs are done; so does
// SIGTERM, which lets the running jobs finish and write their lines but
// begins no other.
#pragma once

#include <cstdint>

// The worker's exit status: 0 once the input or SIGTERM ended it, else the
// code of the read of the input or of the result write that failed (no job
// is begun after it).
int32_t RunServe(int32_t jobs);
