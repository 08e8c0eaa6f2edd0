#include "platform/decode_warnings.h"

#include <algorithm>

namespace {

// The collection of the drawing under way on this thread: each importer's
// list is its own, and a drawing runs on one thread from start to end.
thread_local std::vector<std::string>* collecting = nullptr;

}  // namespace

DecodeWarningCollection::DecodeWarningCollection(std::vector<std::string>* into)
    : previous_(collecting) {
  collecting = into;
}

DecodeWarningCollection::~DecodeWarningCollection() {
  collecting = previous_;
}

void NoteDecodeWarning(std::string_view text) {
  std::vector<std::string>* into = collecting;
  if (into == nullptr || into->size() >= kMaxDecodeWarnings) return;
  while (!text.empty() && (text.back() == '.' || text.back() == '\n' || text.back() == ' ')) {
    text.remove_suffix(1);
  }
  if (text.empty() || std::find(into->begin(), into->end(), text) != into->end()) return;
  // Called from the libraries' C callbacks: nothing may be thrown through them.
  try {
    into->emplace_back(text);
  } catch (...) {
  }
}
