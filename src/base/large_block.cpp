#include "base/large_block.h"

#include <sys/mman.h>

#include <cstdint>
#include <cstdlib>

namespace {

constexpr size_t kHugePage = size_t(2) << 20;
constexpr size_t kPage = 4096;

#if defined(__SANITIZE_ADDRESS__)
// The address sanitizer guards heap blocks only: keep every block there.
constexpr bool kMayMap = false;
#else
constexpr bool kMayMap = true;
#endif

// Smaller blocks gain too little to be worth a mapping of their own.
bool IsMapped(size_t size) {
  return kMayMap && size >= kMappedBlockBytes;
}

size_t RoundUp(size_t size, size_t unit) {
  return (size + unit - 1) & ~(unit - 1);
}

}  // namespace

void* AllocateLargeBlock(size_t size) {
  if (!IsMapped(size)) return std::calloc(size, 1);
  if (size > SIZE_MAX - 2 * kHugePage) return nullptr;
  // Over-map by one huge page so that the block can start on a huge-page
  // boundary, then give back the slack on both sides.
  const size_t kept = RoundUp(size, kPage);
  const size_t mapped = kept + kHugePage;
  void* raw = mmap(nullptr, mapped, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (raw == MAP_FAILED) return nullptr;
  const uintptr_t start = reinterpret_cast<uintptr_t>(raw);
  const uintptr_t aligned = RoundUp(start, kHugePage);
  if (aligned > start) munmap(raw, aligned - start);
  const uintptr_t end = start + mapped;
  if (end > aligned + kept) munmap(reinterpret_cast<void*>(aligned + kept), end - aligned - kept);
  void* block = reinterpret_cast<void*>(aligned);
  // Only advice: without transparent huge pages the block works the same.
  madvise(block, kept, MADV_HUGEPAGE);
  return block;
}

void FreeLargeBlock(void* block, size_t size) {
  if (block == nullptr) return;
  if (!IsMapped(size)) {
    std::free(block);
    return;
  }
  munmap(block, RoundUp(size, kPage));
}

void ReleaseLargeBlockPages(void* block, size_t size, size_t from, size_t to) {
  if (block == nullptr || !IsMapped(size) || to > size) return;
  const size_t first = RoundUp(from, kPage);
  const size_t end = to & ~(kPage - 1);
  if (end <= first) return;
  madvise(static_cast<uint8_t*>(block) + first, end - first, MADV_DONTNEED);
}
