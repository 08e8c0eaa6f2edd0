// Bytes as base64 text (the standard alphabet, padded with "="), as a data
// URL carries them.
#pragma once

#include <cstdint>
#include <span>
#include <string>

std::string Base64(std::span<const uint8_t> bytes);
