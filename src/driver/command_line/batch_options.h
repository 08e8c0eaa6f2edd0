// What the command line asks of a run over many inputs or many sizes:
// "//sizes", "//each", "//inputs", "//jobs", "//shard", "//skip-existing",
// "//report", "//keep-going". A command line without any of them is one job as it always
// was.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "driver/command_line/size_list.h"

struct BatchOptions {
  std::vector<std::string> inputWords;    // every input word, in order
  bool each = false;                      // "//each": every input word is an input
  std::optional<std::string> inputsFile;  // "//inputs": one input a line, "-" for stdin
  int32_t jobs = 0;                       // "//jobs": inputs at a time; 0 for the default
  int32_t shardIndex = 0;                 // "//shard I/N": inputs at p mod N = I
  int32_t shardCount = 1;
  bool skipExisting = false;                // "//skip-existing"
  std::optional<std::string> reportTarget;  // "//report": a file name, "-" for stdout
  std::vector<SizeEntry> sizes;             // "//sizes", in the order given
  bool sizesGiven = false;
  bool formatsGiven = false;    // "//formats" (the list is the job's)
  bool qualitiesGiven = false;  // "//quality", refused without "//formats"
  // "//keep-going": inputs that fail are reported and said, but the exit
  // status tells only of the run itself (driver/batch/batch.h).
  bool keepGoing = false;
  bool serve = false;  // "//serve": jobs from the standard input (driver/serve/serve.h)
};

// "//each" or "//inputs": the inputs come from a list, each failing alone.
inline bool ManyInputs(const BatchOptions& b) {
  return b.each || b.inputsFile.has_value();
}

// "/o" is a name template ("{name}.jpg") rather than a name.
inline bool OutputIsTemplate(const BatchOptions& b) {
  return b.sizesGiven || b.formatsGiven || ManyInputs(b);
}

// Any of the options: the run goes through the batch (driver/batch.h).
inline bool BatchAsked(const BatchOptions& b) {
  return OutputIsTemplate(b) || b.jobs != 0 || b.shardCount != 1 || b.skipExisting ||
         b.reportTarget.has_value() || b.qualitiesGiven || b.keepGoing;
}
