// Test seam of the resampler: the work it has done, so that tests can tell
// that a stop ended it without timing it.
#pragma once

#include <cstdint>

// Destination rows made into row bands (the pipeline's way) since the
// process started, by every resampler.
int64_t BandRowsMade();
// Resizes prepared (their tables built) since the process started.
int64_t ResizesPrepared();
// Filter tables built, not copied from one kept (filter_table_cache.h),
// since the process started.
int64_t FilterTablesBuilt();
