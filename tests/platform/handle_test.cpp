#include "platform/handle.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

namespace {

std::string Contents(Handle h) {
  return std::string(*h, GetHandleSize(h));
}

TEST(Handle, GrowsWithZerosAppendsReplacesAndEmpties) {
  Handle h = NewHandle(0);
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(GetHandleSize(h), 0u);
  ASSERT_EQ(PtrAndHand("abc", h, 3), noErr);
  ASSERT_EQ(PtrAndHand("de", h, 2), noErr);
  EXPECT_EQ(Contents(h), "abcde");
  ASSERT_EQ(SetHandleSize(h, 7), noErr);
  EXPECT_EQ(Contents(h), std::string("abcde\0\0", 7));
  ASSERT_EQ(PtrToXHand("xy", h, 2), noErr);
  EXPECT_EQ(Contents(h), "xy");
  ASSERT_EQ(SetHandleSize(h, 0), noErr);
  EXPECT_EQ(GetHandleSize(h), 0u);
  ASSERT_EQ(PtrAndHand("z", h, 1), noErr);
  EXPECT_EQ(Contents(h), "z");
  DisposeHandle(h);

  Handle zeroed = NewHandle(5);
  EXPECT_EQ(Contents(zeroed), std::string(5, '\0'));
  DisposeHandle(zeroed);
}

TEST(Handle, ImpossibleSizesFailAndLeaveTheHandleAsItWas) {
  Handle h = NewHandle(0);
  ASSERT_EQ(PtrToXHand("keep", h, 4), noErr);
  EXPECT_EQ(SetHandleSize(h, SIZE_MAX), memFullErr);
  EXPECT_EQ(PtrAndHand("x", h, SIZE_MAX), memFullErr);
  EXPECT_EQ(Contents(h), "keep");
  DisposeHandle(h);
  EXPECT_EQ(NewHandle(SIZE_MAX), nullptr);
  EXPECT_EQ(SetHandleSize(nullptr, 1), paramErr);
  EXPECT_EQ(PtrAndHand("x", nullptr, 1), paramErr);
}

}  // namespace
