#include "driver/serve/job_words.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// Each line as sh would take it: the words it gives, or refused.
TEST(JobWords, SplitsAsShQuotesAndRefusesWhatShWouldExpand) {
  const struct {
    const char* line;
    bool taken;
    std::vector<std::string> words;
  } kCases[] = {
      {"/w 16  /o out.jpg\tin.jpg", true, {"/w", "16", "/o", "out.jpg", "in.jpg"}},
      {"'two words.jpg' \"it's\" a\\ b", true, {"two words.jpg", "it's", "a b"}},
      {R"("a\"b\\c\$d\q")", true, {R"(a"b\c$d\q)"}},
      {"'' x''y 'a'\"b\"c", true, {"", "xy", "abc"}},
      {"'$HOME|*' a#b c~", true, {"$HOME|*", "a#b", "c~"}},
      {"   ", true, {}},
      {"a 'open", false, {}},
      {"a \"open", false, {}},
      {"ends\\", false, {}},
      {"a|b", false, {}},
      {"a;b", false, {}},
      {"$HOME", false, {}},
      {"*.jpg", false, {}},
      {"\"$x\"", false, {}},
      {"#comment", false, {}},
      {"~/a.jpg", false, {}},
      {"a\rb", false, {}},
  };
  for (const auto& c : kCases) {
    std::vector<std::string> words;
    std::string why;
    const bool taken = SplitJobLine(c.line, &words, &why);
    EXPECT_EQ(taken, c.taken) << c.line << ": " << why;
    if (taken) {
      EXPECT_EQ(words, c.words) << c.line;
    } else {
      EXPECT_EQ(why.rfind("Malformed job line: ", 0), 0u) << why;
    }
  }
  std::vector<std::string> words;
  std::string why;
  EXPECT_FALSE(SplitJobLine(std::string("a\0b", 3), &words, &why)) << "a zero byte is taken";
}

}  // namespace
