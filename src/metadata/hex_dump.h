// Printing a metadata item as hexadecimal bytes beside their printable form.
#pragma once

#include <cstdint>
#include <cstdio>
#include <span>
#include <string>
#include <string_view>

#include "base/mac_types.h"

// The label of a type the table does not know: its four bytes as printable
// characters and its low 16 bits, e.g. "ti.. [  282]".
std::string MadeUpMetaDataLabel(OSType type);

// Prints the item under label, 32 bytes to a line, continuation lines
// indented to the first byte's column, each line closed by the printable
// characters of its bytes.
void PrintMetaDataHexDump(std::FILE* out, std::string_view label, std::span<const uint8_t> item);
