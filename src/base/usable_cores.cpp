#include "base/usable_cores.h"

#include <sched.h>

#include <algorithm>
#include <thread>

int32_t UsableCores() {
  cpu_set_t set;
  CPU_ZERO(&set);
  if (sched_getaffinity(0, sizeof set, &set) == 0) return std::max(CPU_COUNT(&set), 1);
  return int32_t(std::max(std::thread::hardware_concurrency(), 1u));
}
