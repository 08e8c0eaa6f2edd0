// The field type an item remembers: kept while only its texts change,
// dropped when its value is replaced.
#include <gtest/gtest.h>

#include "metadata_io_test_util.h"

namespace {

TEST(ItemTiffType, KeptByTextChangesDroppedByNewValues) {
  test::OwnedUserData list = test::NewList();
  UserData ud = list.get();
  const OSType software = test::Text("swr");
  EXPECT_EQ(SetUserDataItemTiffType(ud, software, 1, 2), userDataItemNotFound);
  EXPECT_EQ(GetUserDataItemTiffType(ud, software, 1), 0);
  test::AddText(ud, software, "old");
  ASSERT_EQ(SetUserDataItemTiffType(ud, software, 1, 2), noErr);
  test::AddText(ud, software, "second item");
  EXPECT_EQ(GetUserDataItemTiffType(ud, software, 2), 0);

  Handle h = NewHandle(0);
  PtrToXHand("new", h, 3);
  ASSERT_EQ(AddUserDataText(ud, h, software, 1, 0), noErr);
  EXPECT_EQ(GetUserDataItemTiffType(ud, software, 1), 2);
  EXPECT_EQ(test::TextOf(ud, software), "new");

  const uint8_t value[4] = {0, 0, 1, 0};
  ASSERT_EQ(SetUserDataItem(ud, value, 4, 0x6578A002, 1), noErr);
  ASSERT_EQ(SetUserDataItemTiffType(ud, 0x6578A002, 1, 3), noErr);
  EXPECT_EQ(GetUserDataItemTiffType(ud, 0x6578A002, 1), 3);
  ASSERT_EQ(SetUserDataItem(ud, value, 4, 0x6578A002, 1), noErr);
  EXPECT_EQ(GetUserDataItemTiffType(ud, 0x6578A002, 1), 0);
  ASSERT_EQ(SetUserDataItemTiffType(ud, software, 1, 2), noErr);
  ASSERT_EQ(AddUserData(ud, h, software), noErr);  // a new item 3: the others keep theirs
  EXPECT_EQ(GetUserDataItemTiffType(ud, software, 1), 2);
  DisposeHandle(h);

  EXPECT_EQ(SetUserDataItemTiffType(nullptr, software, 1, 2), paramErr);
  EXPECT_EQ(GetUserDataItemTiffType(nullptr, software, 1), 0);
}

}  // namespace
