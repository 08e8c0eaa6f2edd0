// Command lines refused before anything runs because the run would destroy
// or mix what the user keeps: an output that is the input, the image and the
// dump in one stream, options that contradict each other or do nothing.
// Each refusal is a check error: its line, 1 more in the error count.
#pragma once

#include <vector>

#include "driver/command_line/command_line.h"
#include "driver/command_line/write_plan.h"
#include "driver/job/job_settings.h"

// True when an output is written to the standard output: "-", or a name
// that leads to the file descriptor 1 is open on.
bool ImageGoesToStandardOutput(const JobSettings& settings);

// A single run's files checked together (write_plan.h): the output must not
// be the input file (unless "//in-place" asks for it), nor the dump; the
// image and the dump cannot both reach the standard output.
void CheckOutputTargets(JobSettings& settings, std::vector<Note>& notes);

// Records a job's input and outputs in plan, as the input at place input.
void AddJobFiles(const JobSettings& settings, int32_t input, bool own, WritePlan* plan);

// "//drop" needs "/m", "//json" needs "/M"; "//fit" and "//fill" exclude each other.
void CheckOptionPairs(JobSettings& settings, std::vector<Note>& notes);

// "//animated" needs an output codec that writes animations.
void CheckAnimationOutput(JobSettings& settings, std::vector<Note>& notes);

// "//max-bytes" and "//target-quality": one of them, each output's codec
// with a lossy quality, and a still picture.
void CheckQualityGoal(JobSettings& settings, std::vector<Note>& notes);
