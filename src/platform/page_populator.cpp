#include "platform/page_populator.h"

#include <sys/mman.h>

#include <cstdint>

#ifndef MADV_POPULATE_WRITE
#define MADV_POPULATE_WRITE 23  // Linux 5.14
#endif

namespace {

constexpr size_t kPage = 4096;
constexpr size_t kChunk = size_t(4) << 20;
constexpr size_t kWorthwhile = size_t(16) << 20;

void Populate(uintptr_t start, uintptr_t end, const std::atomic<bool>* stop) {
  for (uintptr_t at = start; at < end && !stop->load(std::memory_order_relaxed); at += kChunk) {
    const size_t length = end - at < kChunk ? end - at : kChunk;
    // Older kernels do not know the advice; the writer then faults alone.
    if (madvise(reinterpret_cast<void*>(at), length, MADV_POPULATE_WRITE) != 0) return;
  }
}

}  // namespace

PagePopulator::PagePopulator(void* block, size_t size) {
  if (block == nullptr || size < kWorthwhile) return;
  const uintptr_t start = (reinterpret_cast<uintptr_t>(block) + kPage - 1) & ~uintptr_t(kPage - 1);
  const uintptr_t end = (reinterpret_cast<uintptr_t>(block) + size) & ~uintptr_t(kPage - 1);
  if (end <= start) return;
  try {
    thread_ = std::thread(Populate, start, end, &stop_);
  } catch (...) {
    // No thread to spare: the writer faults the pages in itself.
  }
}

PagePopulator::~PagePopulator() {
  stop_.store(true, std::memory_order_relaxed);
  if (thread_.joinable()) thread_.join();
}
