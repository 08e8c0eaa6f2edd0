// A run over many inputs ("//each", "//inputs") or many sizes ("//sizes"),
// with a report line per output ("//report"). Everything is worked out
// before any pixel is read: the inputs and their shard, each input's checks
// (its header probed), every output's name from the template, and the run's
// files checked together (driver/command_line/write_plan.h). An unknown
// placeholder, a check that fails, or files that meet other than between
// two inputs is a command-line error and nothing is written; two inputs
// whose files meet (one's output is the other's input or output) fail alone.
// Then the jobs run "//jobs N" at a time in this process, each failing alone.
#pragma once

#include <cstdint>
#include <utility>
#include <vector>

#include "driver/batch/report_line.h"
#include "driver/command_line/batch_options.h"
#include "driver/command_line/checks.h"
#include "driver/command_line/command_line.h"
#include "driver/job/job_settings.h"

// One input's job: its settings with outputs holding the files to write.
struct PlannedJob {
  JobSettings settings;
  int32_t place = 0;  // the input's place in the listing, from 0
  const ImageFormat* sourceFormat = nullptr;
  bool sourceRead = true;  // false beyond the byte limit: its sizes are stand-ins, never reported
  std::vector<JobOutput> skipped;  // outputs that exist, under "//skip-existing"
  // Entries that come out as an output before them, size and name alike:
  // the file is written once and reported for each (the output's index).
  std::vector<std::pair<size_t, JobOutput>> sameAs;
};

// An input that fails before its job runs: its header cannot be read, or
// its outputs clash with another input's files.
struct FailedInput {
  std::string input;
  int32_t place = 0;
  int32_t code = 0;
  std::string line;  // its error line
};

struct BatchPlan {
  bool manyInputs = false;  // failures are counted per input, not as the job's code
  std::vector<PlannedJob> jobs;
  std::vector<FailedInput> failed;  // in listing order
};

// The plan for the command line's settings; each refusal is a note and 1
// more in settings.errorCount (then nothing is to run).
BatchPlan PlanBatch(JobSettings& settings, const BatchOptions& batch, std::vector<Note>& notes);

// Runs the plan: error lines to the standard error as a single run prints
// them, report lines as outputs finish. Returns with many inputs the number
// of inputs that failed, else the job's code (0 on success); under
// "//keep-going" 0 for those, so that only a failure of the run itself (the
// report) is the exit status.
int32_t RunBatch(const BatchPlan& plan, const BatchOptions& batch);

// Runs one planned job (its output folders made first) and gives a
// record per output, in the settings' order, each failed one with its
// error line as its message; nothing is printed.
JobResult RunPlannedJob(const PlannedJob& job, std::vector<ReportRecord>* records);

// Inputs at a time without "//jobs".
int32_t DefaultJobs();
