// Big zeroed blocks for pixel buffers. Pages stay untouched until written,
// as with calloc, but come in 2 MB pages where the system offers them: a
// 24-megapixel buffer is then faulted in 48 times instead of 24000, which on
// a virtual machine was half the time of a whole resize.
#pragma once

#include <cstddef>
#include <cstdint>
#include <new>
#include <utility>
#include <vector>

// Blocks from this size on are mappings of their own, whose pages the
// system gives fresh (and zeroes) at every allocation; smaller ones come
// from the heap, which hands a freed block out again.
inline constexpr size_t kMappedBlockBytes = size_t(4) << 20;

// A zeroed block of size bytes, or nullptr.
void* AllocateLargeBlock(size_t size);
// Releases a block from AllocateLargeBlock; size must be the size asked for.
void FreeLargeBlock(void* block, size_t size);
// Gives back the whole pages within bytes [from, to) of a block from
// AllocateLargeBlock, which read as zero afterwards: for a block written
// once from the top and read behind the writer, so that only the part in
// between is ever resident. Small blocks (from the heap) keep their pages.
void ReleaseLargeBlockPages(void* block, size_t size, size_t from, size_t to);

// A block for rows that are always written before they are read (a ring
// of rows), aligned to alignment (a power of two that divides size), not
// cleared; nullptr when it cannot be had. The last two blocks of up to
// kKeptRowsBlockBytes that a thread gave back are kept for that thread's
// next asks, each for a block at most its size and more than half of it:
// a batch's jobs on a thread then reuse their rings, where a block taken
// and given back for every image would come as fresh pages each time.
inline constexpr size_t kKeptRowsBlockBytes = 2 * kMappedBlockBytes;
void* AllocateRowsBlock(size_t size, size_t alignment);
// Gives back a block from AllocateRowsBlock; size must be the size asked for.
void FreeRowsBlock(void* block, size_t size, size_t alignment);

// Allocator for byte vectors that are filled right after they are sized
// (a file read whole): growing one leaves the new bytes as the block gives
// them, without a second pass to zero them.
template <class T>
struct LargeBlockAllocator {
  using value_type = T;
  LargeBlockAllocator() = default;
  template <class U>
  LargeBlockAllocator(const LargeBlockAllocator<U>&) noexcept {}
  T* allocate(size_t n) {
    if (n > SIZE_MAX / sizeof(T)) throw std::bad_alloc();
    void* block = AllocateLargeBlock(n * sizeof(T));
    if (block == nullptr) throw std::bad_alloc();
    return static_cast<T*>(block);
  }
  void deallocate(T* block, size_t n) noexcept { FreeLargeBlock(block, n * sizeof(T)); }
  template <class U>
  void construct(U* at) noexcept {
    ::new (static_cast<void*>(at)) U;
  }
  template <class U, class... Args>
  void construct(U* at, Args&&... args) {
    ::new (static_cast<void*>(at)) U(std::forward<Args>(args)...);
  }
  template <class U>
  bool operator==(const LargeBlockAllocator<U>&) const noexcept {
    return true;
  }
};

using LargeByteVector = std::vector<uint8_t, LargeBlockAllocator<uint8_t>>;
