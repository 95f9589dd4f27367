#include "util/escapes.h"

#include <gtest/gtest.h>

#include "util/codepage.h"
#include "util/text.h"

namespace pansift {
namespace {

const std::string kTrailBackslash = "\x81\x5C";  // one GBK character, trail byte "\"

std::u16string Units(std::initializer_list<char16_t> units) {
  return std::u16string(units);
}

TEST(DecodeUnicodeEscapes, ReadsUpToFourHexDigits) {
  struct Case {
    std::string local;
    std::u16string expected;
  };
  const Case cases[] = {
      {"\\u4e2d\\u6587", u"中文"},
      {"\\u0041bc", u"Abc"},
      {"\\u41", u"A"},                   // a short last piece
      {"\\u4g12x", Units({0x4, u'x'})},  // the hex run ends early; four characters are consumed
      {"\\uzz12ab", Units({0, u'a', u'b'})},
      {"\\u\\u0041", Units({0, u'A'})},
      {"x\\u0000y", Units({u'x', 0, u'y'})},
      {"say \"hi\" \\\\ \\U0041 \\n", u"say \"hi\" \\\\ \\U0041 \\n"},
      {"", u""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.local);
    EXPECT_EQ(DecodeUnicodeEscapes(c.local), c.expected);
  }
}

TEST(DecodeUnicodeEscapes, ZeroUnitEndsLaterConversions) {
  std::u16string decoded = DecodeUnicodeEscapes("ab\\u0000cd");
  EXPECT_EQ(decoded.size(), 5u);
  EXPECT_EQ(UnicodeToLocal(decoded), "ab");
  EXPECT_EQ(UnicodeToUtf8(decoded), "ab");
}

TEST(DecodeUnicodeEscapes, TrailBackslashStartsNoEscapeAndPairsMakeOneCharacter) {
  EXPECT_EQ(DecodeUnicodeEscapes(kTrailBackslash + "u0041"),
            LocalToUnicode(kTrailBackslash) + u"u0041");
  EXPECT_EQ(DecodeUnicodeEscapes(L8("名") + "\\u4e2d"), u"名中");
  EXPECT_EQ(UnicodeToUtf8(DecodeUnicodeEscapes("\\ud83d\\ude00")), "\xF0\x9F\x98\x80");
}

// Names that a careless decoder turns into a sibling's name.
const std::u16string kAwkwardNames[] = {
    u"Tom &amp; Jerry.mp4",
    u"camp;1.mp4",
    u"movie\\u0031.mp4",
    u"\\u",
    u"x\\\\u0041",
    u"a\"b\\c'd",
    u"&quot;divide;&#126;%20",
    u"\U0001F600 \u4E2D.mp4",
    u"tab\there\x01\x1b[31m",
    u"\\",
    u"ends\\",
};

TEST(UnicodeToEscapedLocal, DecodeUnicodeEscapesGivesEveryNameBackExactly) {
  for (const std::u16string& name : kAwkwardNames) {
    SCOPED_TRACE(UnicodeToUtf8(name));
    EXPECT_EQ(DecodeUnicodeEscapes(UnicodeToEscapedLocal(name)), name);
  }
  // Ordinary names keep their local text: escapes only where GBK ends or "\u" is literal.
  EXPECT_EQ(UnicodeToEscapedLocal(u"\u7535\u5F71 a&b.mp4"), L8("电影 a&b.mp4"));
  EXPECT_EQ(UnicodeToEscapedLocal(u"\U0001F600"), "\\ud83d\\ude00");
  EXPECT_EQ(UnicodeToEscapedLocal(u"a\\u0031"), "a\\u005cu0031");
  EXPECT_EQ(UnicodeToEscapedLocal(u"a\\u0031", LiteralEscapes::kKeep), "a\\u0031");
}

TEST(UnescapeReplyText, ScriptLiteralEscapes) {
  struct Case {
    std::string in;
    std::string expected;
  };
  const Case cases[] = {
      {"a\\tb\\nc\\rd\\be\\ff\\vg", "a\tb\nc\rd\be\ff\vg"},
      {"\\x41\\x4a\\x4", "AJx4"},        // \x needs two hex digits
      {"\\'\\\"\\\\\\/\\q", "'\"\\/q"},  // any other character stands for itself
      // Octal takes at most three digits and stays below 0x100 (\377 is U+00FF, which
      // GBK cannot hold).
      {"\\101\\60|\\400|\\7a|\\18|\\8|\\3777", std::string("A0| 0|\x07") + "a|\x01" + "8|8|?7"},
      {"it's\r\nfine", "it's\r\nfine"},  // apostrophes and CR LF are ordinary
      {"ends with \\", "ends with \\"},
      {"\r{\"a\":1}", "{\"a\":1}"},  // a leading lone CR goes
      {"\r\n{}", "\r\n{}"},
      {"", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.in);
    EXPECT_EQ(UnescapeReplyText(c.in), c.expected);
  }
}

TEST(UnescapeReplyText, UnicodeAndPercentEscapes) {
  EXPECT_EQ(UnescapeReplyText("{\"errmsg\":\"\\u6587\\u4ef6\\u4e0d\\u5b58\\u5728\"}"),
            "{\"errmsg\":\"" + L8("文件不存在") + "\"}");
  EXPECT_EQ(UnescapeReplyText("%41%u4e2d|%zz|%u12|100%"), "A" + L8("中") + "|%zz|%u12|100%");
  // "\u" without four hex digits is left as "%u" and what follows it.
  EXPECT_EQ(UnescapeReplyText("\\uZZ12 \\u4e"), "%uZZ12 %u4e");
}

TEST(UnescapeReplyText, ZeroEndsTheText) {
  EXPECT_EQ(UnescapeReplyText("ab\\0cd"), "ab");
  EXPECT_EQ(UnescapeReplyText("ab\\x00cd"), "ab");
  EXPECT_EQ(UnescapeReplyText("ab%00cd"), "ab");
  EXPECT_EQ(UnescapeReplyText("ab\\u0000cd"), "ab");
}

TEST(UnescapeReplyText, TrailBackslashIsNoEscape) {
  EXPECT_EQ(UnescapeReplyText(kTrailBackslash + "n" + kTrailBackslash + "u4e2d"),
            kTrailBackslash + "n" + kTrailBackslash + "u4e2d");
  EXPECT_EQ(UnescapeReplyText(L8("中文") + "\\n"), L8("中文") + "\n");
}

}  // namespace
}  // namespace pansift
