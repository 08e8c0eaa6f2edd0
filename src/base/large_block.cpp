#include "base/large_block.h"

#include <sys/mman.h>

#include <atomic>
#include <cstdint>
#include <cstdlib>

#include "base/large_block_seam.h"

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

std::atomic<int64_t> freshRowsBlocks{0};

// A thread's rows blocks given back, for its next asks.
class KeptRowsBlocks {
 public:
  KeptRowsBlocks() = default;
  KeptRowsBlocks(const KeptRowsBlocks&) = delete;
  KeptRowsBlocks& operator=(const KeptRowsBlocks&) = delete;
  ~KeptRowsBlocks() {
    for (Kept& k : kept_) std::free(k.block);
  }
  // The smaller of the two that fit, or nullptr.
  void* Take(size_t size, size_t alignment) {
    Kept* best = nullptr;
    for (Kept& k : kept_) {
      if (k.block == nullptr || k.alignment != alignment || k.size < size || k.size / 2 >= size) {
        continue;
      }
      if (best == nullptr || k.size < best->size) best = &k;
    }
    if (best == nullptr) return nullptr;
    void* block = best->block;
    *best = Kept{};
    return block;
  }
  // Keeps block first; when both are kept, the older goes.
  void Keep(void* block, size_t size, size_t alignment) {
    if (kept_[0].block != nullptr) {
      std::free(kept_[1].block);
      kept_[1] = kept_[0];
    }
    kept_[0] = Kept{block, size, alignment};
  }

 private:
  struct Kept {
    void* block = nullptr;
    size_t size = 0;
    size_t alignment = 0;
  };
  Kept kept_[2];  // the newest first
};

thread_local KeptRowsBlocks keptRowsBlocks;

}  // namespace

int64_t FreshRowsBlocks() {
  return freshRowsBlocks.load(std::memory_order_relaxed);
}

void* AllocateRowsBlock(size_t size, size_t alignment) {
  if (size <= kKeptRowsBlockBytes) {
    if (void* kept = keptRowsBlocks.Take(size, alignment)) return kept;
  }
  void* block = std::aligned_alloc(alignment, size);
  if (block != nullptr) freshRowsBlocks.fetch_add(1, std::memory_order_relaxed);
  return block;
}

void FreeRowsBlock(void* block, size_t size, size_t alignment) {
  if (block == nullptr) return;
  if (size > kKeptRowsBlockBytes) {
    std::free(block);
    return;
  }
  keptRowsBlocks.Keep(block, size, alignment);
}

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
