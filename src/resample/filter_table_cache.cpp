#include "resample/filter_table_cache.h"

#include <atomic>
#include <bit>
#include <cstring>
#include <deque>
#include <mutex>
#include <new>
#include <vector>

#include "resample/filter_table.h"
#include "resample/resampler_seam.h"

namespace {

// Doubles are told apart by their bits: a table built for -0.0 is kept apart
// from one for 0.0, however alike they may be.
struct Key {
  FilterSetup setup;
  int32_t mode, maxTaps, outputCount, sourceLength;
  uint64_t x0, scale, dx, width;
  bool operator==(const Key&) const = default;
};

struct Kept {
  Key key;
  std::vector<int16_t> table;
};

// A thumbnail's two tables, and those of a second size beside it.
constexpr size_t kKeptTables = 4;
// Larger tables are built every time: their resizes take far longer.
constexpr int64_t kKeptTableBytes = int64_t(1) << 20;

std::mutex keptLock;
std::deque<Kept> kept;  // the newest first
std::atomic<int64_t> tablesBuilt{0};

bool CopyKept(const Key& key, int16_t* table, int64_t bytes) {
  const std::lock_guard<std::mutex> hold(keptLock);
  for (const Kept& k : kept) {
    if (k.key == key) {
      std::memcpy(table, k.table.data(), size_t(bytes));
      return true;
    }
  }
  return false;
}

void Keep(const Key& key, const int16_t* table, int64_t bytes) {
  try {
    Kept k{key, std::vector<int16_t>(table, table + bytes / 2)};
    const std::lock_guard<std::mutex> hold(keptLock);
    kept.push_front(std::move(k));
    if (kept.size() > kKeptTables) kept.pop_back();
  } catch (const std::bad_alloc&) {
    // Not kept: the next resize builds its own.
  }
}

}  // namespace

int64_t FilterTablesBuilt() {
  return tablesBuilt.load(std::memory_order_relaxed);
}

void SetupFilterTable(FilterSetup setup, int32_t mode, int32_t maxTaps, int32_t outputCount,
                      int32_t sourceLength, double x0, double scale, double dx, double width,
                      double* scratch, int16_t* table) {
  const Key key{setup,
                mode,
                maxTaps,
                outputCount,
                sourceLength,
                std::bit_cast<uint64_t>(x0),
                std::bit_cast<uint64_t>(scale),
                std::bit_cast<uint64_t>(dx),
                std::bit_cast<uint64_t>(width)};
  const int64_t bytes = FilterTableBytes(outputCount, maxTaps);
  const bool keepable = bytes <= kKeptTableBytes;
  if (keepable && CopyKept(key, table, bytes)) return;
  setup(mode, maxTaps, outputCount, sourceLength, x0, scale, dx, width, scratch, table);
  tablesBuilt.fetch_add(1, std::memory_order_relaxed);
  if (keepable) Keep(key, table, bytes);
}
