// One job of the worker: its line, its words, its checks, its run, and the
// one result line that tells of it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "driver/job/job_settings.h"
#include "driver/serve/in_flight.h"

// Longer job lines are refused unread (a name is at most 4096 bytes here).
constexpr size_t kLongestJobLine = 65536;

// The settings every job of the worker starts from, before its own words:
// the worker's defaults for the jobs it takes from others go here.
JobSettings ServeJobDefaults();

struct JobLine {
  int64_t id = 0;     // the line's number in the input, from 1
  uint64_t turn = 0;  // its place among the lines handed on, from 0 (InFlight::TakeTurn)
  bool tooLong = false;
  std::string text;  // without its newline; empty when too long
};

// Runs the job the line asks for, as one job of a batch runs (in slot,
// which no other job holds meanwhile), and gives its result line: the
// report line of its output, with the job's id first. A line that is not a
// job, a job the worker does not take, and a job that fails all give a
// failed line; nothing is printed and nothing ends the process.
std::string RunJobLine(const JobLine& line, int32_t slot, InFlight* inFlight);
