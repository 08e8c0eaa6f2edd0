// A worker's job line as words: quoted as sh quotes them, so that a line
// which sh would split into the words of a command line gives those words
// here, and a line whose meaning in sh would be anything else is refused.
#pragma once

#include <string>
#include <string_view>
#include <vector>

// Blanks (spaces and tabs) separate words; '...' keeps every byte it
// holds; "..." keeps every byte but for a backslash before $ ` " or \,
// which stands for that character; outside quotes a backslash keeps the
// byte after it. What sh would expand, redirect or join (an unquoted
// | & ; < > ( ) $ ` * ? [, a # or ~ that begins a word) and an open quote
// are refused. Returns false with *why (a line ending in a newline) when
// the line is refused; words then holds what came before.
bool SplitJobLine(std::string_view line, std::vector<std::string>* words, std::string* why);
