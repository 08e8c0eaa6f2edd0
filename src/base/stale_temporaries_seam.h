// Test seam of the stale temporaries' removal: how often folders were
// listed, so that tests can tell the work done without timing it.
#pragma once

#include <cstdint>

// Folders listed by RemoveStaleTemporaries since the process started.
int64_t StaleTemporarySweeps();
