// Writing JSON text: strings escaped and kept valid UTF-8, objects built
// member by member. Shared by the run's report and the metadata dump.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// A JSON string with its quotes: quotes, backslashes and control characters
// escaped, each byte that is no part of valid UTF-8 written as U+FFFD.
std::string JsonString(std::string_view text);

// One object, its members in the order added; Raw takes a value already
// written as JSON.
class JsonObject {
 public:
  JsonObject& Raw(const char* key, const std::string& value);
  JsonObject& Number(const char* key, int64_t value) { return Raw(key, std::to_string(value)); }
  JsonObject& String(const char* key, const std::string& value) {
    return Raw(key, JsonString(value));
  }
  JsonObject& Null(const char* key) { return Raw(key, "null"); }
  std::string Done() { return text_ + "}"; }

 private:
  std::string text_ = std::string(1, '{');  // not = "{": GCC 12 warns wrongly on that
};
