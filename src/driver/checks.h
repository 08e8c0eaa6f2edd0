// The checks that follow the word scan: input, output (and where it leads,
// refusals.h), size, rotation, options that go together (refusals.h).
// Each failed check leaves its line and adds 1 to the error count; all run.
#pragma once

#include <vector>

#include "driver/command_line.h"
#include "driver/job_settings.h"

// Probes the input for its natural bounds (or takes 2 x 2 without one), then
// runs every check in order; settings.geometry is whole once they pass.
void RunChecks(JobSettings& settings, std::vector<Note>& notes);

// The size arithmetic alone, from the source's size in settings.geometry: a
// percent scale, a box, or the missing one of width and height from the
// source's aspect ratio. The resize, the window and the alignment go into
// the geometry.
void ComputeOutputSize(JobSettings& settings, std::vector<Note>& notes);
