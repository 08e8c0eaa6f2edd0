#include "platform/user_data.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

constexpr OSType kMake = FourCC("\xA9mak");
constexpr OSType kSoftware = FourCC("\xA9swr");
constexpr OSType kExposure = 0x6578829A;  // EXIF ExposureTime
constexpr OSType kOrientation = 0x74690112;

class UserDataTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(NewUserData(&ud_), noErr);
    h_ = NewHandle(0);
  }
  void TearDown() override {
    DisposeHandle(h_);
    EXPECT_EQ(DisposeUserData(ud_), noErr);
  }
  OSErr AddText(OSType type, int32_t index, int16_t region, const std::string& text) {
    PtrToXHand(text.data(), h_, text.size());
    return AddUserDataText(ud_, h_, type, index, region);
  }
  std::string Text(OSType type, int32_t index, int16_t region) {
    if (GetUserDataText(ud_, h_, type, index, region) != noErr) return "<none>";
    return std::string(*h_, GetHandleSize(h_));
  }
  std::vector<OSType> Types() {
    std::vector<OSType> types;
    for (OSType t = GetNextUserDataType(ud_, 0); t != 0; t = GetNextUserDataType(ud_, t)) {
      types.push_back(t);
    }
    return types;
  }

  UserData ud_ = nullptr;
  Handle h_ = nullptr;
};

TEST_F(UserDataTest, TypesComeInTheOrderFirstAddedAndItemsCountFromOne) {
  const uint8_t one[] = {0, 1};
  const uint8_t six[] = {0, 6};
  ASSERT_EQ(SetUserDataItem(ud_, one, 2, kOrientation, 1), noErr);
  ASSERT_EQ(AddText(kMake, 1, 0, "Maker"), noErr);
  ASSERT_EQ(SetUserDataItem(ud_, six, 2, kOrientation, 2), noErr);
  ASSERT_EQ(PtrToXHand("\0\0\0\1\0\0\0\x7D", h_, 8), noErr);
  ASSERT_EQ(AddUserData(ud_, h_, kExposure), noErr);
  EXPECT_EQ(Types(), (std::vector<OSType>{kOrientation, kMake, kExposure}));
  EXPECT_EQ(CountUserDataType(ud_, kOrientation), 2);
  EXPECT_EQ(CountUserDataType(ud_, kSoftware), 0);

  uint8_t value[2] = {};
  ASSERT_EQ(GetUserDataItem(ud_, value, 2, kOrientation, 2), noErr);
  EXPECT_EQ(value[1], 6);
  EXPECT_EQ(GetUserDataItem(ud_, value, 2, kOrientation, 3), userDataItemNotFound);
  EXPECT_EQ(GetUserDataItem(ud_, value, 2, kOrientation, 0), userDataItemNotFound);
  ASSERT_EQ(GetUserData(ud_, h_, kExposure, 1), noErr);
  EXPECT_EQ(std::string(*h_, GetHandleSize(h_)), std::string("\0\0\0\1\0\0\0\x7D", 8));

  // Removing moves later items down; an emptied type is skipped but keeps its
  // place for when it comes back.
  ASSERT_EQ(RemoveUserData(ud_, kOrientation, 1), noErr);
  ASSERT_EQ(GetUserDataItem(ud_, value, 2, kOrientation, 1), noErr);
  EXPECT_EQ(value[1], 6);
  ASSERT_EQ(RemoveUserData(ud_, kOrientation, 1), noErr);
  EXPECT_EQ(RemoveUserData(ud_, kOrientation, 1), userDataItemNotFound);
  EXPECT_EQ(Types(), (std::vector<OSType>{kMake, kExposure}));
  ASSERT_EQ(SetUserDataItem(ud_, one, 2, kOrientation, 1), noErr);
  EXPECT_EQ(Types(), (std::vector<OSType>{kOrientation, kMake, kExposure}));
  EXPECT_EQ(GetNextUserDataType(ud_, FourCC("none")), 0u);
}

TEST_F(UserDataTest, GetUserDataItemWantsTheExactSize) {
  const uint8_t rational[8] = {0, 0, 0, 1, 0, 0, 0, 0x7D};
  ASSERT_EQ(SetUserDataItem(ud_, rational, 8, kExposure, 1), noErr);
  uint8_t out[16];
  std::fill(std::begin(out), std::end(out), 0xEE);
  EXPECT_EQ(GetUserDataItem(ud_, out, 4, kExposure, 1), paramErr);
  EXPECT_EQ(GetUserDataItem(ud_, out, 16, kExposure, 1), paramErr);
  EXPECT_EQ(out[0], 0xEE);  // nothing copied
  ASSERT_EQ(GetUserDataItem(ud_, out, 8, kExposure, 1), noErr);
  EXPECT_EQ(out[7], 0x7D);
  EXPECT_EQ(out[8], 0xEE);
}

TEST_F(UserDataTest, SetReplacesOrAppendsButLeavesNoGaps) {
  const uint8_t a[] = {1}, b[] = {2, 2}, c[] = {3};
  ASSERT_EQ(SetUserDataItem(ud_, a, 1, kOrientation, 1), noErr);
  ASSERT_EQ(SetUserDataItem(ud_, b, 2, kOrientation, 1), noErr);  // replaced, size changes
  EXPECT_EQ(CountUserDataType(ud_, kOrientation), 1);
  EXPECT_EQ(SetUserDataItem(ud_, c, 1, kOrientation, 3), userDataItemNotFound);
  EXPECT_EQ(SetUserDataItem(ud_, c, 1, kOrientation, 0), userDataItemNotFound);
  EXPECT_EQ(SetUserDataItem(ud_, c, 1, kExposure, 2), userDataItemNotFound);
  EXPECT_EQ(Types(), (std::vector<OSType>{kOrientation}));  // failures add no type
  ASSERT_EQ(SetUserDataItem(ud_, c, 1, kOrientation, 2), noErr);
  uint8_t two[2];
  ASSERT_EQ(GetUserDataItem(ud_, two, 2, kOrientation, 1), noErr);
  EXPECT_EQ(two[1], 2);
  EXPECT_EQ(CountUserDataType(ud_, kOrientation), 2);
}

TEST_F(UserDataTest, TextItemsKeepOneTextPerRegionAndReplaceTheSameRegion) {
  ASSERT_EQ(AddText(kSoftware, 1, 0, "Camera firmware 1.0"), noErr);
  ASSERT_EQ(AddText(kSoftware, 1, 5, "Logiciel"), noErr);
  ASSERT_EQ(AddText(kSoftware, 1, 0, "tavrel"), noErr);  // the copy's text replaces the source's
  EXPECT_EQ(CountUserDataType(ud_, kSoftware), 1);
  EXPECT_EQ(Text(kSoftware, 1, 0), "tavrel");
  EXPECT_EQ(GetHandleSize(h_), 6u);  // no terminating zero
  EXPECT_EQ(Text(kSoftware, 1, 5), "Logiciel");
  EXPECT_EQ(GetUserDataText(ud_, h_, kSoftware, 1, 7), userDataItemNotFound);

  ASSERT_EQ(AddText(kSoftware, 2, 0, "second"), noErr);
  EXPECT_EQ(CountUserDataType(ud_, kSoftware), 2);
  EXPECT_EQ(Text(kSoftware, 2, 0), "second");
  EXPECT_EQ(AddText(kSoftware, 4, 0, "gap"), userDataItemNotFound);
  EXPECT_EQ(GetUserDataText(ud_, h_, kSoftware, 3, 0), userDataItemNotFound);

  // Empty texts are texts too.
  ASSERT_EQ(AddText(kMake, 1, 0, ""), noErr);
  EXPECT_EQ(Text(kMake, 1, 0), "");
}

TEST(UserData, NullArgumentsAreParameterErrors) {
  Handle h = NewHandle(0);
  EXPECT_EQ(NewUserData(nullptr), paramErr);
  EXPECT_EQ(DisposeUserData(nullptr), paramErr);
  EXPECT_EQ(AddUserData(nullptr, h, kMake), paramErr);
  EXPECT_EQ(GetUserDataText(nullptr, h, kMake, 1, 0), paramErr);
  EXPECT_EQ(GetNextUserDataType(nullptr, 0), 0u);
  EXPECT_EQ(CountUserDataType(nullptr, kMake), 0);
  UserData ud = nullptr;
  ASSERT_EQ(NewUserData(&ud), noErr);
  EXPECT_EQ(AddUserDataText(ud, nullptr, kMake, 1, 0), paramErr);
  EXPECT_EQ(SetUserDataItem(ud, nullptr, 4, kMake, 1), paramErr);
  EXPECT_EQ(SetUserDataItem(ud, "x", -1, kMake, 1), paramErr);
  EXPECT_EQ(GetNextUserDataType(ud, 0), 0u);
  DisposeUserData(ud);
  DisposeHandle(h);
}

}  // namespace
