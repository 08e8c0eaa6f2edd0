// The files of the worker's jobs that are running, checked as one run's
// files are (driver/command_line/write_plan.h): a job whose output is
// another running job's input or output, or whose input another running
// job writes, fails alone rather than wait or race it.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>

#include "driver/command_line/write_plan.h"
#include "driver/job/job_settings.h"

class InFlight {
 public:
  InFlight() { plan_.inPlace = true; }  // a job's own "//in-place" is its checks' to judge
  // Records the job's files under slot (one job a slot at a time), or,
  // when they meet a running job's, records nothing and gives the line that
  // names the two.
  std::optional<std::string> Admit(int32_t slot, const JobSettings& settings);
  // The slot's job has ended.
  void Release(int32_t slot);

  // Jobs are checked and admitted one at a time in the order of their
  // lines, so which of two meeting jobs fails never depends on which
  // worker thread got there first: a job waits for the turn its line was
  // given, and passes it on once admitted or refused.
  void TakeTurn(uint64_t turn);
  void PassTurn();

 private:
  std::mutex lock_;
  WritePlan plan_;
  std::condition_variable turnPassed_;
  uint64_t turn_ = 0;
};
