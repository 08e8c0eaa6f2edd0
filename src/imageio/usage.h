// The usage text and the codec tables, on the standard error.
#pragma once

#include <cstdint>
#include <string>

int32_t PrintUsage(const std::string& programName);
int32_t ListCodecs();
