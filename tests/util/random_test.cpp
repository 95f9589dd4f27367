#include "util/random.h"

#include <gtest/gtest.h>

#include <cctype>
#include <set>

namespace pansift {
namespace {

TEST(RandomInt, FollowsTheLinearCongruentialStep) {
  // r = ((x * 214013 + 2531011) mod 2^32) >> 16 & 0x7FFF
  EXPECT_EQ(RandomIntFromCounter(0, 0, 0), 38);  // maximum 0 stands for 2147483647
  EXPECT_EQ(RandomIntFromCounter(1, 0, 0), 41);
  EXPECT_EQ(RandomIntFromCounter(0xFFFFFFFFu, 0, 0), 35);  // wraps modulo 2^32
  EXPECT_EQ(RandomIntFromCounter(0x80000000u, 0, 0),
            38);  // bit 15 of the shifted value is masked off
  EXPECT_EQ(RandomIntFromCounter(0, 10, 19), 18);
  EXPECT_EQ(RandomIntFromCounter(0, -5, 5), -5 + 38 % 11);
  EXPECT_EQ(RandomIntFromCounter(0, 7, 7), 7);
  EXPECT_EQ(RandomIntFromCounter(0, 19, 10), 18);  // a reversed range is read either way round
  EXPECT_EQ(RandomIntFromCounter(0, 5, 4), 4);
}

TEST(RandomInt, StaysInRangeAndVaries) {
  std::set<int> seen;
  for (int i = 0; i < 2000; ++i) {
    int value = RandomInt(1000, 9999);
    ASSERT_GE(value, 1000);
    ASSERT_LE(value, 9999);
    seen.insert(value);
  }
  EXPECT_GT(seen.size(), 1u);
}

TEST(RandomDigits, ExactCountOfTheRequestedKind) {
  bool leadingZero = false;
  for (int i = 0; i < 2000; ++i) {
    std::string any = RandomDigits(5, kAnyDigit);
    ASSERT_EQ(any.size(), 5u) << any;
    for (char c : any) ASSERT_TRUE(std::isdigit(static_cast<unsigned char>(c))) << any;
    leadingZero = leadingZero || any[0] == '0';
    for (char c : RandomDigits(3, kOddDigit))
      ASSERT_NE(std::string("13579").find(c), std::string::npos);
    for (char c : RandomDigits(3, kEvenDigit))
      ASSERT_NE(std::string("02468").find(c), std::string::npos);
  }
  EXPECT_TRUE(leadingZero);  // leading zeros are kept, not dropped as from a number
  EXPECT_EQ(RandomDigits(0), "");
  EXPECT_EQ(RandomDigits(-3), "");
}

TEST(NewLogId, SixteenDigits) {
  for (int i = 0; i < 200; ++i) {
    std::string id = NewLogId();
    ASSERT_EQ(id.size(), 16u) << id;
    for (char c : id) ASSERT_TRUE(std::isdigit(static_cast<unsigned char>(c))) << id;
    EXPECT_NE(id[0], '0');
    EXPECT_NE(id[12], '0');
  }
}

}  // namespace
}  // namespace pansift
