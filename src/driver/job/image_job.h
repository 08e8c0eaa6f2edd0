// One image from the input file to the output file: import, resample, turn,
// fit the metadata, export. Tells which step a failure happened in, prints
// the progress lines and releases everything it made.
// How the steps overlap is the pipeline's (pipeline/pipeline.h).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "driver/job/job_settings.h"
#include "driver/job/process_state.h"
#include "pipeline/placeholder.h"

struct OutputResult {
  int32_t code = 0;                // 0 once written, else the failing step's code
  JobStage stage = kStageReading;  // the step that failed (or the last one)
  // With "//placeholder", once written (not for an animation's frames).
  std::optional<Placeholder> placeholder;
  // With a quality goal: the quality chosen and the file's size, once written.
  std::optional<QualityChoice> chosen;
  // Where a window the job placed on the output's full resize went, once
  // placed (the output's geometry held it centred until then).
  std::optional<WindowPlace> window;
};

// What a job found and did beyond its result, for the report line.
enum class GainMapFate { kNone, kFitted, kLeftOut };
struct JobFacts {
  std::vector<std::string> warnings;  // decoder warnings that did not fail the run
  // The description of the profile the pixels were converted from to sRGB;
  // empty when none was converted.
  std::string profileConvertedFrom;
  bool profileKept = false;  // the source's profile travels with the copy
  GainMapFate gainMap = GainMapFate::kNone;
};

struct JobResult {
  int32_t code = 0;                // 0 on success, else the failing step's code, unchanged
  JobStage stage = kStageReading;  // the step that failed (or the last one)
  // One per output, in the order of the settings' outputs (one without
  // "//sizes"); the first failure is also code and stage above.
  std::vector<OutputResult> outputs;
  JobFacts facts;
};

// The settings have passed the command line's checks (the input is set, and
// at least one output).
JobResult RunImageJob(const JobSettings& settings);

// Whether jobs may overlap their steps on other threads and hold only bands
// of rows (the source drawn while it is resampled, the rows encoded while
// they are filtered); on by default. Results are the same either way; tests
// and benchmarks compare.
void SetImageJobOverlap(bool allowed);

// How many jobs this process runs at the same time (1 unless a batch says
// otherwise): they share the cores, each image's drawing its part of them
// (pipeline/pipeline.h, DrawThreads).
void SetImageJobsAtOnce(int32_t jobs);

// Destination pixel format for an export depth: 48 "b48r", 64 "b64a", else
// 32-bit ARGB.
OSType DestinationFormatForDepth(int16_t depth);
