#include "metadata/iptc_records.h"

#include <gtest/gtest.h>

namespace {

std::vector<uint8_t> Dataset(uint8_t record, uint8_t dataset, std::vector<uint8_t> data,
                             bool extended = false) {
  std::vector<uint8_t> d = {0x1C, record, dataset};
  if (extended) {
    d.push_back(0x80);
    d.push_back(0x02);
  }
  d.push_back(uint8_t(data.size() >> 8));
  d.push_back(uint8_t(data.size()));
  d.insert(d.end(), data.begin(), data.end());
  return d;
}

std::vector<uint8_t> Join(std::initializer_list<std::vector<uint8_t>> parts) {
  std::vector<uint8_t> all;
  for (const auto& p : parts) all.insert(all.end(), p.begin(), p.end());
  return all;
}

// Each dataset is taken whole, extended lengths included, and nothing past
// one that runs off the end is read.
TEST(IptcRecords, CopyrightRecordsAreSortedOutWhole) {
  const auto version = Dataset(2, 0, {0, 4});
  const auto byline = Dataset(2, 80, {'A', 'n', 'n'});
  const auto caption = Dataset(2, 120, std::vector<uint8_t>(300, 'c'), true);
  const auto notice = Dataset(2, 116, {'(', 'c', ')'});
  const auto envelope = Dataset(1, 80, {'x'});  // not the by-line: another record
  const auto records = Join({version, byline, caption, notice, envelope});
  EXPECT_EQ(IptcRecordsWhere(records, IsIptcCopyright), Join({byline, notice}));
  EXPECT_EQ(IptcRecordsWhere(records, [](uint8_t r, uint8_t d) { return !IsIptcCopyright(r, d); }),
            Join({version, caption, envelope}));
  auto cut = Join({byline, notice});
  cut.pop_back();
  EXPECT_EQ(IptcRecordsWhere(cut, IsIptcCopyright), byline);
}

}  // namespace
