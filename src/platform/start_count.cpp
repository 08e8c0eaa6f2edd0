#include "platform/start_count.h"

#include <atomic>

namespace {

std::atomic<int32_t> startCount{0};

}  // namespace

bool QuickTimeIsBound() {
  return startCount.load() > 0;
}

int32_t QuickTimeStartCount() {
  return startCount.load();
}

void SetQuickTimeStartCount(int32_t count) {
  startCount.store(count);
}
