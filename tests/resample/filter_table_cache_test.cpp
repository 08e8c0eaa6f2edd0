// Kept filter tables: the same arguments copy the table built before, any
// argument changed builds anew, and either way the bytes are the builder's.
#include "resample/filter_table_cache.h"

#include <gtest/gtest.h>

#include <vector>

#include "resample/filter_table.h"
#include "resample/kernels.h"
#include "resample/resampler_seam.h"

namespace {

struct Args {
  FilterSetup setup = SetupSincFilter;
  int32_t mode = 0, maxTaps = 40, outputCount = 30, sourceLength = 100;
  double x0 = 0.5, scale = 0.3, dx = 1 / 0.3, width = 1.0;
};

std::vector<int16_t> Built(const Args& a, bool throughCache) {
  std::vector<double> scratch(size_t(a.maxTaps));
  std::vector<int16_t> table(size_t(FilterTableBytes(a.outputCount, a.maxTaps) / 2));
  if (throughCache) {
    SetupFilterTable(a.setup, a.mode, a.maxTaps, a.outputCount, a.sourceLength, a.x0, a.scale, a.dx,
                     a.width, scratch.data(), table.data());
  } else {
    a.setup(a.mode, a.maxTaps, a.outputCount, a.sourceLength, a.x0, a.scale, a.dx, a.width,
            scratch.data(), table.data());
  }
  return table;
}

TEST(FilterTableCache, OnlyTheVeryArgumentsBuiltBeforeAreCopied) {
  const Args base;
  const struct {
    const char* name;
    Args args;
    bool copied;  // right after base was set up
  } cases[] = {
      {"the same", base, true},
      {"another setup", {.setup = SetupGaussianFilter}, false},
      {"another mode", {.mode = 8}, false},
      {"more taps", {.maxTaps = 41}, false},
      {"more outputs", {.outputCount = 31}, false},
      {"a longer source", {.sourceLength = 101}, false},
      {"another origin", {.x0 = 0.25}, false},
      {"another scale", {.scale = 0.31}, false},
      {"another step", {.dx = 3.2}, false},
      {"a wider kernel", {.width = 1.5}, false},
  };
  for (const auto& c : cases) {
    Built(base, true);
    const int64_t before = FilterTablesBuilt();
    EXPECT_EQ(Built(c.args, true), Built(c.args, false)) << c.name;
    EXPECT_EQ(FilterTablesBuilt() - before, c.copied ? 0 : 1) << c.name;
  }
}

}  // namespace
