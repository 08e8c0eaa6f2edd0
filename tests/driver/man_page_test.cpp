// The manual page: clean under man's warnings, and naming every flag that the
// usage text lists, as the usage text spells it.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <sstream>
#include <string>
#include <vector>

#include "driver/command_line/command_line.h"
#include "platform/codec.h"
#include "test_support.h"

namespace {

bool IsLetter(char c) {
  return std::isalpha(static_cast<unsigned char>(c)) != 0;
}

// The flags of the usage text's lines: each line's first word, and the long
// options it mentions ("also //out <file>").
std::vector<std::string> UsageFlags(const std::string& usage) {
  std::vector<std::string> flags;
  const std::string heading = "where flags are\n";
  const size_t start = usage.find(heading);
  if (start == std::string::npos) return flags;
  std::istringstream lines(usage.substr(start + heading.size()));
  for (std::string line; std::getline(lines, line) && !line.empty();) {
    flags.push_back(line.substr(0, line.find_first_of(" \t")));
    for (size_t at = line.find("//", 1); at != std::string::npos; at = line.find("//", at + 2)) {
      size_t end = at + 2;
      while (end < line.size() && IsLetter(line[end])) ++end;
      flags.push_back(line.substr(at, end - at));
    }
  }
  return flags;
}

// The page's source with the escapes that may sit inside a flag taken out.
std::string PlainSource() {
  std::string text;
  for (const uint8_t byte : test::ReadFileBytes(TAVREL_MAN_PAGE)) text += char(byte);
  for (const std::string escape : {"\\-", "\\fB", "\\fI", "\\fR", "\\fP", "\\&"}) {
    const std::string with = escape == "\\-" ? "-" : "";
    for (size_t at; (at = text.find(escape)) != std::string::npos;) {
      text.replace(at, escape.size(), with);
    }
  }
  return text;
}

// The flag as a word of its own: "/o" is not named by "/out" or "//o".
bool Names(const std::string& page, const std::string& flag) {
  for (size_t at = page.find(flag); at != std::string::npos; at = page.find(flag, at + 1)) {
    const size_t end = at + flag.size();
    const bool startsWord = at == 0 || (page[at - 1] != '/' && !IsLetter(page[at - 1]));
    if (startsWord && (end == page.size() || !IsLetter(page[end]))) return true;
  }
  return false;
}

TEST(ManPage, FormatsWithoutWarnings) {
  const test::RunResult run = test::RunProgram({"man", "--warnings", "-l", TAVREL_MAN_PAGE});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.err, "");
  EXPECT_NE(run.out.find("EXIT STATUS"), std::string::npos);
}

TEST(ManPage, NamesEveryFlagOfTheUsageText) {
  const std::vector<std::string> flags = UsageFlags(test::RunTavrel({"/?"}).err);
  ASSERT_GE(flags.size(), 15u);
  const std::string page = PlainSource();
  for (const std::string& flag : flags) EXPECT_TRUE(Names(page, flag)) << flag;
}

// Every option the scanner takes is documented, those beyond the usage text too.
TEST(ManPage, NamesEveryLongOptionTheScannerTakes) {
  const std::string page = PlainSource();
  for (const std::string_view name : LongOptionNames()) {
    EXPECT_TRUE(Names(page, "//" + std::string(name))) << name;
  }
}

// What the page says "/c auto" takes is what the format records list.
TEST(ManPage, ListsEveryExtensionThatCodecAutoTakes) {
  const std::string page = PlainSource();
  const size_t from = page.find("chooses the codec by the output name's extension");
  const size_t to = page.find("a name no codec claims", from);
  ASSERT_NE(to, std::string::npos);
  const std::string list = page.substr(from, to - from);
  for (const ImageFormat* format : ImageFormats()) {
    std::istringstream words(format->extensions);
    for (std::string extension; words >> extension;) {
      const bool exported =
          std::any_of(ExporterCodecs().begin(), ExporterCodecs().end(),
                      [&](const ExporterCodec* e) { return e->format == format; });
      EXPECT_EQ(Names(list, extension), exported) << extension;
    }
  }
}

}  // namespace
