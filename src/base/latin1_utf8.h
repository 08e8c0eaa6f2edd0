// Text between ISO 8859-1 (Latin-1) and UTF-8.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

std::vector<uint8_t> Latin1ToUtf8(std::span<const uint8_t> latin1);
// Nothing when the text is not valid UTF-8 or holds a character beyond
// U+00FF.
std::optional<std::vector<uint8_t>> Utf8ToLatin1(std::span<const uint8_t> utf8);
bool IsValidUtf8(std::span<const uint8_t> text);
