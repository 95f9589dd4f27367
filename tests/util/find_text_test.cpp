#include <gtest/gtest.h>

#include "util/text.h"

namespace pansift {
namespace {

TEST(FindText, NeverMatchesOnATrailByte) {
  // 0x81 0x5C is one GBK character whose trail byte is a backslash.
  std::string text = "\x81\x5C\\x";
  EXPECT_EQ(FindText(text, "\\"), 3);
  EXPECT_EQ(FindLastText(text, "\\"), 3);
  EXPECT_EQ(FindText(text, "x"), 4);
}

TEST(FindText, StartIgnoreCaseAndMissing) {
  EXPECT_EQ(FindText("abcABC", "ABC"), 4);
  EXPECT_EQ(FindText("abcABC", "ABC", 1, true), 1);
  EXPECT_EQ(FindText("abcabc", "abc", 2), 4);
  EXPECT_EQ(FindText("abc", "x"), -1);
  EXPECT_EQ(FindText("", "x"), -1);
  EXPECT_EQ(FindLastText("a-b-c", "-", 3), 2);
}

}  // namespace
}  // namespace pansift
