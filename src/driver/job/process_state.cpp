#include "driver/job/process_state.h"

ProcessState& Process() {
  static ProcessState state;
  return state;
}

std::string ProgramNameFromPath(const std::string& firstWord) {
  size_t cut = firstWord.rfind('\\');
  if (cut == std::string::npos) cut = firstWord.rfind('/');
  return cut == std::string::npos ? firstWord : firstWord.substr(cut + 1);
}
