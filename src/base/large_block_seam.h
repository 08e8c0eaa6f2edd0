// Test seam of the blocks for rows: how many were taken fresh rather than
// reused, so that tests can tell the reuse without timing it.
#pragma once

#include <cstdint>

// Blocks AllocateRowsBlock took from the heap, not from those kept, since
// the process started, on every thread.
int64_t FreshRowsBlocks();
