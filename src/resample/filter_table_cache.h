// Filter tables kept from one resize to the next. A batch of photos of one
// size made into thumbnails of one size builds the same two tables for
// every job, about 1 % of a small JPEG's time. A table depends on its
// setup's arguments alone, so a copy of one built with the same arguments
// holds the same bytes.
#pragma once

#include <cstdint>

#include "resample/kernels.h"

// Fills table as setup(mode, maxTaps, ..., scratch, table) would: a copy
// of a table kept from an earlier call with the very same arguments, else
// built and kept (the last few, when small). Safe from any thread.
void SetupFilterTable(FilterSetup setup, int32_t mode, int32_t maxTaps, int32_t outputCount,
                      int32_t sourceLength, double x0, double scale, double dx, double width,
                      double* scratch, int16_t* table);
