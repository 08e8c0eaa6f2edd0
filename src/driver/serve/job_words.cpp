#include "driver/serve/job_words.h"

#include <cstdint>

namespace {

bool IsBlank(char c) {
  return c == ' ' || c == '\t';
}

// Characters sh gives a meaning of its own wherever they stand unquoted.
bool ShellSpecial(char c) {
  return std::string_view("|&;<>()$`*?[").find(c) != std::string_view::npos;
}

bool Refuse(std::string* why, std::string text) {
  *why = "Malformed job line: " + std::move(text) + "\n";
  return false;
}

// The double-quoted text from line[*at] (after its opening quote) to its
// closing quote, which *at is left after.
bool TakeDoubleQuoted(std::string_view line, size_t* at, std::string* word, std::string* why) {
  while (*at < line.size()) {
    const char c = line[(*at)++];
    if (c == '"') return true;
    if (c == '$' || c == '`') return Refuse(why, std::string("unescaped ") + c + " inside \"...\"");
    if (c == '\\' && *at < line.size() &&
        std::string_view("$`\"\\").find(line[*at]) != std::string_view::npos) {
      *word += line[(*at)++];
      continue;
    }
    *word += c;
  }
  return Refuse(why, "a \" is not closed");
}

}  // namespace

bool SplitJobLine(std::string_view line, std::vector<std::string>* words, std::string* why) {
  for (const char c : line) {
    // A carriage return or a zero byte would end up inside a file name.
    if ((uint8_t(c) < 0x20 && c != '\t') || c == 0x7F) return Refuse(why, "a control character");
  }
  size_t at = 0;
  while (true) {
    while (at < line.size() && IsBlank(line[at])) ++at;
    if (at == line.size()) return true;
    if (line[at] == '#' || line[at] == '~') {
      return Refuse(why, std::string("a word begins with an unquoted ") + line[at]);
    }
    std::string word;
    while (at < line.size() && !IsBlank(line[at])) {
      const char c = line[at++];
      if (c == '\'') {
        const size_t close = line.find('\'', at);
        if (close == std::string_view::npos) return Refuse(why, "a ' is not closed");
        word.append(line.substr(at, close - at));
        at = close + 1;
      } else if (c == '"') {
        if (!TakeDoubleQuoted(line, &at, &word, why)) return false;
      } else if (c == '\\') {
        if (at == line.size()) return Refuse(why, "it ends in a backslash");
        word += line[at++];
      } else if (ShellSpecial(c)) {
        return Refuse(why, std::string("an unquoted ") + c + " (quote it as sh would)");
      } else {
        word += c;
      }
    }
    words->push_back(std::move(word));
  }
}
