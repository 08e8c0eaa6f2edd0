// The inputs of a run over many: the input words ("//each"), the lines of
// an "//inputs" listing, and the share of them one shard takes.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "driver/command_line/batch_options.h"

// The listing's lines in order, blank ones (empty, or blanks alone) left
// out; "-" reads the standard input to its end. A line keeps its text as it
// stands but for a carriage return before its newline. Returns noErr or the
// read's code (fnfErr for a missing file, accessDeniedErr for a folder or a
// file that may not be read).
int32_t ReadInputList(const std::string& file, std::vector<std::string>* lines);

// The inputs in list order: with "//each" every input word, else the last
// one if any; then the listing's lines.
std::vector<std::string> ListInputs(const BatchOptions& batch,
                                    const std::vector<std::string>& listed);

// Whether the input at position p (from 0, in list order) is the shard's:
// p mod count = index.
bool InShard(size_t position, int32_t index, int32_t count);
