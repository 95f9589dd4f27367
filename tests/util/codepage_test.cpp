#include "util/codepage.h"

#include <gtest/gtest.h>

namespace pansift {
namespace {

TEST(CodePage, GbkRoundTripsThroughUnicodeAndUtf8) {
  const std::string local = L8("中文 name 测试");
  EXPECT_EQ(local.substr(0, 4), std::string("\xD6\xD0\xCE\xC4"));  // 中文 in GBK
  EXPECT_EQ(UnicodeToLocal(LocalToUnicode(local)), local);
  EXPECT_EQ(LocalToUtf8(local), "中文 name 测试");
  EXPECT_EQ(Utf8ToLocal("中文 name 测试"), local);
}

TEST(CodePage, CharactersGbkCannotHoldBecomeOneQuestionMarkEach) {
  // An emoji (a surrogate pair) and a Hangul syllable, between GBK characters.
  EXPECT_EQ(Utf8ToLocal("a😀b한c中"), "a?b?c" + L8("中"));
}

TEST(CodePage, ConversionsStopAtTheFirstZeroUnit) {
  std::u16string withZero = u"ab";
  withZero.push_back(u'\0');
  withZero += u"cd";
  EXPECT_EQ(UnicodeToLocal(withZero), "ab");
  EXPECT_EQ(UnicodeToUtf8(withZero), "ab");
  EXPECT_EQ(CutAtTerminator(withZero), u"ab");
  EXPECT_EQ(CutAtTerminator(std::u16string(1, u'\0')), u"");
}

TEST(CodePage, EuroSignIsByte80) {
  EXPECT_EQ(Utf8ToLocal("€"), "\x80");
  EXPECT_EQ(LocalToUtf8("\x80"), "€");
}

TEST(CodePage, EmptyInputsGiveEmptyResults) {
  EXPECT_EQ(LocalToUnicode(""), u"");
  EXPECT_EQ(UnicodeToLocal(u""), "");
  EXPECT_EQ(Utf8ToUnicode(""), u"");
}

}  // namespace
}  // namespace pansift
