// A run over many inputs ("//each", "//inputs") or many sizes ("//sizes"),
// with a report line per output ("//report"). Everything is worked out
// before any pixel is read: the inputs and their shard, each input's checks
// (its header probed), every output's name from the template; a collision,
// an unknown placeholder or a check that fails is a command-line error and
// nothing is written. Then the jobs run "//jobs N" at a time in this
// process, each failing alone.
#pragma once

#include <cstdint>
#include <vector>

#include "driver/command_line/batch_options.h"
#include "driver/command_line/checks.h"
#include "driver/command_line/command_line.h"
#include "driver/job/job_settings.h"
#include "driver/batch/report_line.h"

// One input's job: its settings with outputs holding the files to write.
struct PlannedJob {
  JobSettings settings;
  const ImageFormat* sourceFormat = nullptr;
  std::vector<JobOutput> skipped;  // outputs that exist, under "//skip-existing"
};

struct BatchPlan {
  bool manyInputs = false;  // failures are counted per input, not as the job's code
  std::vector<PlannedJob> jobs;
  std::vector<InputProbe> failedProbes;   // inputs whose header could not be read
  std::vector<std::string> failedInputs;  // the same inputs' names, in order
};

// The plan for the command line's settings; each refusal is a note and 1
// more in settings.errorCount (then nothing is to run).
BatchPlan PlanBatch(JobSettings& settings, const BatchOptions& batch, std::vector<Note>& notes);

// Runs the plan: error lines to the standard error as a single run prints
// them, report lines as outputs finish. Returns with many inputs the number
// of inputs that failed, else the job's code (0 on success).
int32_t RunBatch(const BatchPlan& plan, const BatchOptions& batch);

// Inputs at a time without "//jobs".
int32_t DefaultJobs();

