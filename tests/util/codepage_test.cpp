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

TEST(CodePage, IsValidUtf8TellsWellFormedUtf8Apart) {
  struct Case {
    const char* what;
    std::string bytes;
    bool valid;
  };
  const Case cases[] = {
      {"empty", "", true},
      {"ASCII", "plain.txt", true},
      {"two-byte (accented Latin)", "caf\xC3\xA9.mp4", true},
      {"three-byte (CJK)", "中文", true},
      {"four-byte (emoji)", "😀", true},
      {"GBK bytes", L8("中文"), false},
      {"GBK accented letter looks like a two-byte lead", "\xA8\xA6", false},
      {"lone continuation", "\x80", false},
      {"cut at the end", "\xE4\xB8", false},
      {"overlong slash", "\xC0\xAF", false},
      {"overlong three-byte", "\xE0\x80\xAF", false},
      {"surrogate", "\xED\xA0\x80", false},
      {"above U+10FFFF", "\xF4\x90\x80\x80", false},
      {"NUL is ASCII", std::string("a\0b", 3), true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(IsValidUtf8(c.bytes), c.valid);
  }
}

TEST(CodePage, EmptyInputsGiveEmptyResults) {
  EXPECT_EQ(LocalToUnicode(""), u"");
  EXPECT_EQ(UnicodeToLocal(u""), "");
  EXPECT_EQ(Utf8ToUnicode(""), u"");
}

}  // namespace
}  // namespace pansift
