// The checks that follow the word scan: input, output (and where it leads,
// refusals.h), size, rotation, options that go together (refusals.h).
// Each failed check leaves its line and adds 1 to the error count; all run.
#pragma once

#include <span>
#include <string>
#include <vector>

#include "driver/command_line/command_line.h"
#include "driver/command_line/size_list.h"
#include "driver/job/job_settings.h"
#include "platform/image_format.h"

// Probes the input for its natural bounds (or takes 2 x 2 without one), then
// runs every check in order; settings.outputs holds the one output, its
// geometry whole, once they pass.
void RunChecks(JobSettings& settings, std::vector<Note>& notes);

// What the probe of one input of many found: a failure is that input's
// alone, not a command-line error.
struct InputProbe {
  bool counted = false;                 // asked: the failure is a command-line error after all
  int32_t code = 0;                     // 0 once probed, else the probe's error code
  std::string line;                     // its error line, as a single run prints it
  const ImageFormat* format = nullptr;  // the source's, once probed
  bool unread = false;  // beyond the byte limit: not even its header read, its size unknown
};

// As RunChecks, except that a failed probe is told in *probe and neither
// noted nor counted; settings.outputs holds one output (with sizes, one per
// entry, each sized as the entry's single run is), each named for now as
// "/o" is written. The files are checked by the caller, once named.
void RunChecksForInput(JobSettings& settings, std::span<const SizeEntry> sizes,
                       std::vector<Note>& notes, InputProbe* probe);

// The size arithmetic alone, from the source's size in *geometry: a
// percent scale, a box, or the missing one of width and height from the
// source's aspect ratio. The resize, the window and the alignment go into
// *geometry.
void ComputeOutputSize(JobSettings& settings, OutputGeometry* geometry, std::vector<Note>& notes);
