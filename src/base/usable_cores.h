// The cores this process may run on: those of its affinity mask (taskset,
// a container's cpuset), which std::thread::hardware_concurrency ignores.
#pragma once

#include <cstdint>

// At least 1.
int32_t UsableCores();
