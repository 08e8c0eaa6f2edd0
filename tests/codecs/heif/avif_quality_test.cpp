// Percents that share a quantiser level make the very same file, with and
// without alpha: a search may try one of them for all.
#include <gtest/gtest.h>

#include <map>
#include <set>
#include <vector>

#include "codecs/format_test_util.h"
#include "codecs/heif/avif_quality.h"
#include "codecs/heif/heif_codec.h"
#include "platform/quality.h"

namespace {

TEST(AvifQuality, PercentsOfOneLevelMakeOneFile) {
  for (const bool alpha : {false, true}) {
    SCOPED_TRACE(alpha ? "alpha" : "opaque");
    test::OwnedGWorld source = test::MakeTestPicture(24, 16, alpha);
    std::map<int32_t, std::vector<uint8_t>> byLast;
    std::set<size_t> sizes;
    for (int32_t percent = 1; percent <= 100; ++percent) {
      OSErr err = 1;
      const std::vector<uint8_t> file = test::EncodeWith(
          kAvifExporter, *source, QualityOfWholePercent(percent), alpha ? 32 : 24, &err);
      ASSERT_EQ(err, noErr);
      sizes.insert(file.size());
      const auto [kept, first] = byLast.emplace(AvifLastPercentOfSameFile(percent), file);
      EXPECT_TRUE(first || kept->second == file) << percent;
    }
    EXPECT_GT(sizes.size(), 8u);  // the percents did reach the encoder
  }
}

}  // namespace
