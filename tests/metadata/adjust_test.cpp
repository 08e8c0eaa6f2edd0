#include "metadata/adjust.h"

#include <gtest/gtest.h>

#include "meta_list.h"

namespace {

using test::Bytes;
using test::MetaList;

constexpr OSType kOrientation = 0x74690112;
constexpr OSType kPixelX = 0x6578A002;
constexpr OSType kPixelY = 0x6578A003;
constexpr OSType kResolutionX = 0x6578A20E;
constexpr OSType kResolutionY = 0x6578A20F;
constexpr OSType kSoftware = 0xA9737772;

// 2160000/700 as stored: 0x0020F580 over 0x000002BC.
const Bytes k2160000Over700 = {0x00, 0x20, 0xF5, 0x80, 0x00, 0x00, 0x02, 0xBC};
// 5752800/3731: 0x0057C7E0 over 0x00000E93.
const Bytes k5752800Over3731 = {0x00, 0x57, 0xC7, 0xE0, 0x00, 0x00, 0x0E, 0x93};
// 12938400/8393: 0x00C56CA0 over 0x000020C9.
const Bytes k12938400Over8393 = {0x00, 0xC5, 0x6C, 0xA0, 0x00, 0x00, 0x20, 0xC9};

TEST(AdjustMetaDataTest, HalvedImageWithOnlyAnXResolution) {
  MetaList list;
  list.Add(kResolutionX, k2160000Over700);
  AdjustMetaData(list.get(), 1600, 1200, 800, 600, 0);
  EXPECT_EQ(list.Item(kPixelX), (Bytes{0x00, 0x00, 0x03, 0x20}));
  EXPECT_EQ(list.Item(kPixelY), (Bytes{0x00, 0x00, 0x02, 0x58}));
  EXPECT_EQ(list.Item(kResolutionX), k5752800Over3731);
  EXPECT_EQ(list.Item(kResolutionY), k12938400Over8393);
  EXPECT_EQ(list.Text(kSoftware), "Kelvane Studio tavrel");
  EXPECT_EQ(CountUserDataType(list.get(), kResolutionX), 1);
  EXPECT_EQ(CountUserDataType(list.get(), kResolutionY), 1);
}

TEST(AdjustMetaDataTest, OddQuarterTurnsSwapTheSourceExtents) {
  for (int32_t turns : {1, 3}) {
    MetaList list;
    list.Add(kResolutionX, k2160000Over700);
    AdjustMetaData(list.get(), 1600, 1200, 600, 800, turns);
    EXPECT_EQ(list.Item(kPixelX), (Bytes{0x00, 0x00, 0x02, 0x58})) << turns;
    EXPECT_EQ(list.Item(kPixelY), (Bytes{0x00, 0x00, 0x03, 0x20}));
    EXPECT_EQ(list.Item(kResolutionX), k12938400Over8393);
    EXPECT_EQ(list.Item(kResolutionY), k5752800Over3731);
  }
}

TEST(AdjustMetaDataTest, HalfTurnKeepsTheFactors) {
  MetaList list;
  list.Add(kResolutionX, k2160000Over700);
  AdjustMetaData(list.get(), 1600, 1200, 800, 600, 2);
  EXPECT_EQ(list.Item(kResolutionX), k5752800Over3731);
  EXPECT_EQ(list.Item(kResolutionY), k12938400Over8393);
}

TEST(AdjustMetaDataTest, XResolutionServesBothAxesWhenBothExist) {
  MetaList list;
  list.Add(kResolutionX, k2160000Over700);
  list.Add(kResolutionY, {0, 0, 0, 1, 0, 0, 0, 1});
  AdjustMetaData(list.get(), 1600, 1200, 800, 600, 0);
  EXPECT_EQ(list.Item(kResolutionX), k5752800Over3731);
  EXPECT_EQ(list.Item(kResolutionY), k12938400Over8393);
}

TEST(AdjustMetaDataTest, YResolutionAloneServesBothAxes) {
  MetaList list;
  list.Add(kResolutionY, {0x00, 0x00, 0x54, 0x60, 0x00, 0x00, 0x00, 0x07});  // 21600/7
  AdjustMetaData(list.get(), 1600, 1200, 800, 600, 0);
  EXPECT_EQ(list.Item(kResolutionX), k5752800Over3731);
  EXPECT_EQ(list.Item(kResolutionY), k12938400Over8393);
}

TEST(AdjustMetaDataTest, LargeProductIsFittedBelowTwoToThe30) {
  MetaList list;
  list.Add(kResolutionX, {0x11, 0xE1, 0xA3, 0x00, 0x00, 0x00, 0x00, 0x07});  // 300000000/7
  AdjustMetaData(list.get(), 2000, 2000, 4000, 4000, 0);                     // factor 3999/1999
  // 585791015/6: 0x22EA7627 over 6.
  EXPECT_EQ(list.Item(kResolutionX), (Bytes{0x22, 0xEA, 0x76, 0x27, 0x00, 0x00, 0x00, 0x06}));
}

TEST(AdjustMetaDataTest, WithoutResolutionOnlyDimensionsAndSoftwareAreWritten) {
  MetaList list;
  AdjustMetaData(list.get(), 1600, 1200, 800, 600, 0);
  std::vector<OSType> types;
  for (OSType t = GetNextUserDataType(list.get(), 0); t != 0;
       t = GetNextUserDataType(list.get(), t))
    types.push_back(t);
  EXPECT_EQ(types, (std::vector<OSType>{kPixelX, kPixelY, kSoftware}));
}

TEST(AdjustMetaDataTest, OtherItemsAreLeftAlone) {
  MetaList list;
  list.Add(kOrientation, {0x00, 0x06});
  list.Add(kPixelX, {0x06, 0x40});  // a 2-byte dimension becomes 4 bytes
  list.AddText(kSoftware, "Camera firmware 1.0");
  list.AddText(kSoftware, "Other region", 5, 1);
  AdjustMetaData(list.get(), 1600, 1200, 600, 800, 1);
  EXPECT_EQ(list.Item(kOrientation), (Bytes{0x00, 0x06}));
  EXPECT_EQ(list.Item(kPixelX), (Bytes{0x00, 0x00, 0x02, 0x58}));
  EXPECT_EQ(CountUserDataType(list.get(), kSoftware), 1);
  EXPECT_EQ(list.Text(kSoftware), "Kelvane Studio tavrel");
  EXPECT_EQ(list.Text(kSoftware, 5), "Other region");
}

TEST(AdjustMetaDataTest, ResolutionItemOfTheWrongSizeCountsAsAbsent) {
  MetaList list;
  list.Add(kResolutionX, {0x00, 0x48});
  AdjustMetaData(list.get(), 1600, 1200, 800, 600, 0);
  EXPECT_EQ(list.Item(kResolutionX), (Bytes{0x00, 0x48}));
  EXPECT_FALSE(list.Item(kResolutionY).has_value());
}

// An axis whose arithmetic meets a zero term keeps its item as it was, and an
// absent item stays absent.
TEST(AdjustMetaDataTest, ZeroTermInAFactorKeepsThatAxis) {
  {
    MetaList list;  // source 1 pixel wide: factor 799/0
    list.Add(kResolutionX, k2160000Over700);
    AdjustMetaData(list.get(), 1, 1200, 800, 600, 0);
    EXPECT_EQ(list.Item(kResolutionX), k2160000Over700);
    EXPECT_EQ(list.Item(kResolutionY), k12938400Over8393);
  }
  {
    MetaList list;  // output 1 pixel tall: factor 0/1199, no Y item to keep
    list.Add(kResolutionX, k2160000Over700);
    AdjustMetaData(list.get(), 1600, 1200, 800, 1, 0);
    EXPECT_EQ(list.Item(kResolutionX), k5752800Over3731);
    EXPECT_FALSE(list.Item(kResolutionY).has_value());
  }
  {
    // Turned: the 1-pixel source height and output width meet on the X
    // axis (0/0); the Y axis (799/1599) is still worked out from X.
    MetaList list;
    list.Add(kResolutionX, k2160000Over700);
    list.Add(kResolutionY, {0, 0, 0, 9, 0, 0, 0, 1});
    AdjustMetaData(list.get(), 1600, 1, 1, 800, 1);
    EXPECT_EQ(list.Item(kResolutionX), k2160000Over700);
    EXPECT_EQ(list.Item(kResolutionY), k5752800Over3731);
  }
}

TEST(AdjustMetaDataTest, ZeroTermInTheResolutionKeepsBothAxes) {
  for (const Bytes& stored : {Bytes{0, 0, 0, 0, 0, 0, 0, 7}, Bytes{0, 0, 0, 72, 0, 0, 0, 0}}) {
    MetaList list;
    list.Add(kResolutionX, stored);
    AdjustMetaData(list.get(), 1600, 1200, 800, 600, 0);
    EXPECT_EQ(list.Item(kResolutionX), stored);
    EXPECT_FALSE(list.Item(kResolutionY).has_value());
    EXPECT_EQ(list.Item(kPixelX), (Bytes{0x00, 0x00, 0x03, 0x20}));
  }
}

TEST(AdjustMetaDataTest, HalvingToAZeroDenominatorKeepsThatAxis) {
  MetaList list;
  // 4000000000/1 (0xEE6B2800) at factor 1/1: fitting below 2^30 takes two
  // halvings and leaves the denominator 0.
  const Bytes huge = {0xEE, 0x6B, 0x28, 0x00, 0x00, 0x00, 0x00, 0x01};
  list.Add(kResolutionX, huge);
  AdjustMetaData(list.get(), 2, 2, 2, 2, 0);
  EXPECT_EQ(list.Item(kResolutionX), huge);
  EXPECT_FALSE(list.Item(kResolutionY).has_value());
}

}  // namespace
