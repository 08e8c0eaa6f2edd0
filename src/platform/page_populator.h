// Faults in a fresh buffer's pages on another core while this one fills it.
// The system zeroes every page it hands out, and on a virtual machine that
// costs as much as decoding into it; done ahead of the writer it overlaps.
// Contents are never changed, so the two may meet on any page.
#pragma once

#include <atomic>
#include <cstddef>
#include <thread>

class PagePopulator {
 public:
  // Starts only for blocks big enough to gain from it.
  PagePopulator(void* block, size_t size);
  // Stops at the next chunk and waits: the block may be freed afterwards.
  ~PagePopulator();
  PagePopulator(const PagePopulator&) = delete;
  PagePopulator& operator=(const PagePopulator&) = delete;

 private:
  std::atomic<bool> stop_{false};
  std::thread thread_;
};
