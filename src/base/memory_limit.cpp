#include "base/memory_limit.h"

#include <unistd.h>

#include <algorithm>
#include <atomic>

#include "base/cgroup_memory.h"
#include "base/memory_limit_seam.h"

namespace {

std::atomic<uint64_t> overrideBytes{0};
std::atomic<uint64_t> heldBytes{0};
std::atomic<uint64_t> asks{0};

uint64_t MachinePhysicalMemory() {
  const long pages = sysconf(_SC_PHYS_PAGES);
  const long pageSize = sysconf(_SC_PAGE_SIZE);
  // A system that cannot say sets no limit beyond the address space.
  if (pages <= 0 || pageSize <= 0) return UINT64_MAX;
  if (uint64_t(pages) > UINT64_MAX / uint64_t(pageSize)) return UINT64_MAX;
  return uint64_t(pages) * uint64_t(pageSize);
}

// In a group the kernel kills at its limit, whatever of ours it is: beside
// the pixel buffers the process keeps its code, the codecs' working memory
// and the bands of rows in flight. Measured at up to 15.4 MB (a 12000 x
// 8000 PNG written from a JPEG, streamed, under a 60 MB group).
constexpr uint64_t kBesideThePixels = uint64_t(16) << 20;

uint64_t GroupRoomForPixels() {
  const uint64_t room = CgroupMemoryRoomBytes(ProcessCgroupSources());
  if (room == UINT64_MAX) return room;
  return room > kBesideThePixels ? room - kBesideThePixels : 0;
}

}  // namespace

void OverridePhysicalMemoryBytes(uint64_t bytes) {
  overrideBytes.store(bytes);
}

uint64_t MemoryLimitBytes() {
  const uint64_t forced = overrideBytes.load();
  if (forced != 0) return forced;
  // Worked out once, when the first buffer is weighed (none is held yet,
  // so what the group uses then is other processes' and this one's start);
  // a limit changed while running is not followed.
  static const uint64_t limit = std::min(MachinePhysicalMemory(), GroupRoomForPixels());
  return limit;
}

uint64_t PixelMemoryAsks() {
  return asks.load();
}

bool ReservePixelBytes(uint64_t bytes) {
  asks.fetch_add(1, std::memory_order_relaxed);
  const uint64_t limit = MemoryLimitBytes();
  uint64_t held = heldBytes.load();
  do {
    if (bytes > limit || held > limit - bytes) return false;
  } while (!heldBytes.compare_exchange_weak(held, held + bytes));
  return true;
}

void ReleasePixelBytes(uint64_t bytes) {
  heldBytes.fetch_sub(bytes);
}

uint64_t HeldPixelBytes() {
  return heldBytes.load();
}

bool WorkingBytesFit(uint64_t bytes) {
  asks.fetch_add(1, std::memory_order_relaxed);
  const uint64_t limit = MemoryLimitBytes();
  const uint64_t held = heldBytes.load();
  return bytes <= limit && held <= limit - bytes;
}

bool WorkingBytesFit(uint64_t count, uint64_t size) {
  if (size != 0 && count > UINT64_MAX / size) return false;
  return WorkingBytesFit(count * size);
}
