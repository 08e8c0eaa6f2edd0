// Test seam of the pipeline: the threads its stages started, so that tests
// can tell how a job ran without timing it.
#pragma once

#include <cstdint>

// Threads started for drawing and resampling since the process started, by
// every pipeline.
int64_t PipelineThreadsStarted();
