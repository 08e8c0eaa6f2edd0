// The word scan: turns the command line's words into job settings and a
// list of what is to be shown, in the order the words asked for it. Nothing
// here prints; the driver replays the notes.
#pragma once

#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "driver/command_line/batch_options.h"
#include "driver/job/job_settings.h"

enum class NoteKind {
  kMessage,  // a line for the standard error, complete with its newline
  kUsage,    // the usage text, asked for by "/?" or "--help"
  kVersion,  // the version banner, asked for by "/V"
};

struct Note {
  NoteKind kind = NoteKind::kMessage;
  std::string text;  // for kMessage
};

// True when a word beginning with "/" is an absolute input path rather than
// a flag word: it names an existing file that is no folder, or the part
// before its second slash names an existing folder.
bool WordIsAbsoluteInputPath(const std::string& word);

struct ScanOutcome {
  std::vector<Note> notes;
  bool verbose = false;       // "/v" was given
  bool trace = false;         // "/!" was given
  bool versionAsked = false;  // "//version" was given
  BatchOptions batch;         // many inputs, many sizes, the report
};

// Scans the words after the program's own, left to right, into settings
// (which hold their initial values on entry). Every command-line error adds
// 1 to settings.errorCount and leaves a message note; the scan never stops
// early.
ScanOutcome ScanWords(std::span<const std::string> words, JobSettings& settings);

// "//placeholder" tells its colours in the report alone: a command line
// without "//report" is refused, a note and an error like the scan's. A
// worker's job needs none, its result line being its report line.
void RefusePlaceholderWithoutReport(JobSettings& settings, ScanOutcome& scan);

// Every long option's name, as "//name" takes it, in the table's order.
std::vector<std::string_view> LongOptionNames();
