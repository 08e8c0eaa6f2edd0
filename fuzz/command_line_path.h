// The command line's word scan and the size arithmetic that follows it,
// from raw bytes, touching no file. Shared by the command-line fuzz target
// and the regression tests.
//
// The first 8 bytes are the source's width and height (big-endian, signed
// 32-bit), as a probe would have found them; the rest are the words,
// separated by blanks, tabs, line breaks or zero bytes.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "driver/command_line/checks.h"
#include "driver/command_line/command_line.h"
#include "driver/job/job_settings.h"

namespace fuzz {

inline std::vector<std::string> SplitWords(std::span<const uint8_t> bytes) {
  std::vector<std::string> words;
  std::string word;
  for (uint8_t b : bytes) {
    if (b == ' ' || b == '\t' || b == '\n' || b == '\r' || b == 0) {
      if (!word.empty()) words.push_back(std::move(word));
      word.clear();
    } else {
      word.push_back(char(b));
    }
  }
  if (!word.empty()) words.push_back(std::move(word));
  return words;
}

inline int32_t ReadInt32(std::span<const uint8_t> bytes, size_t at) {
  uint32_t value = 0;
  for (size_t i = at; i < at + 4; ++i) value = (value << 8) | (i < bytes.size() ? bytes[i] : 0);
  return int32_t(value);
}

// Every error leaves exactly one line, and every line ends with its newline.
inline bool NotesAreWellFormed(const std::vector<Note>& notes, int32_t errorCount) {
  int32_t messages = 0;
  for (const Note& note : notes) {
    if (note.kind != NoteKind::kMessage) continue;
    ++messages;
    if (note.text.empty() || note.text.back() != '\n') return false;
  }
  return errorCount >= 0 && errorCount <= messages;
}

// Scans the words and works out the output size; answers whether the notes
// stayed well formed through both.
inline bool ExerciseCommandLine(std::span<const uint8_t> bytes) {
  JobSettings settings;
  const std::vector<std::string> words =
      SplitWords(bytes.size() > 8 ? bytes.subspan(8) : std::span<const uint8_t>());
  ScanOutcome outcome = ScanWords(words, settings);
  if (!NotesAreWellFormed(outcome.notes, settings.errorCount)) return false;
  OutputGeometry geometry = StoredGeometry(ReadInt32(bytes, 0), ReadInt32(bytes, 4), 1);
  ComputeOutputSize(settings, &geometry, outcome.notes);
  return NotesAreWellFormed(outcome.notes, settings.errorCount);
}

}  // namespace fuzz
