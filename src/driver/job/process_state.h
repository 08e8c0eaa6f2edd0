// Values the whole process shares: the program's name for the usage text and
// the progress flags; and the steps of an image job, which tell the driver
// which file a failure concerns.
#pragma once

#include <cstdint>
#include <string>

enum JobStage : uint8_t {
  kStageReading = 0,
  kStageAllocating = 1,
  kStageResampling = 2,
  kStageReallocating = 3,  // reshaping a buffer for an odd number of quarter turns
  kStageRotating = 4,
  kStageWriting = 5,
};

struct ProcessState {
  std::string programName;
  bool verbose = false;  // progress lines
  bool trace = false;    // progress lines and two detail lines
};

ProcessState& Process();

// True when the progress lines are to be printed.
inline bool ShowProgress() {
  return Process().verbose || Process().trace;
}

// The first command-line word after its last backslash, else after its last
// slash, else the whole word.
std::string ProgramNameFromPath(const std::string& firstWord);
