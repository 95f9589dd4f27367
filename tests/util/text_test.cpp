#include "util/text.h"

#include <gtest/gtest.h>

#include "util/codepage.h"

namespace pansift {
namespace {

// Two-byte GBK characters whose trail byte is an ASCII character the routines look for.
const std::string kTrailBackslash = "\x81\x5C";
const std::string kTrailBracket = "\x81[";

TEST(TextBetween, CutsAJsonStringMemberWithPlainOrWordQuotes) {
  const std::string reply = "{\"errno\":0,\"name\":\"" + L8("我的资源") + "\",\"path\":\"/a\"}";
  EXPECT_EQ(TextBetween(reply, "\"name\":\"", "\""), L8("我的资源"));
  EXPECT_EQ(TextBetween(reply, L8("#引号name#引号:#引号"), L8("#引号")), L8("我的资源"));
  EXPECT_EQ(TextBetween(reply, L8("#引号errno#引号:"), ","), "0");
}

TEST(TextBetween, MissingMarkersStartAndCase) {
  EXPECT_EQ(TextBetween("\"name\":\"abc", "\"name\":\"", "\""),
            "");  // no right marker after the left one
  EXPECT_EQ(TextBetween("abc", "x", "c"), "");
  EXPECT_EQ(TextBetween("<a>1</a><a>2</a>", "<a>", "<", 4), "2");
  EXPECT_EQ(TextBetween("<a>1</a><a>2</a>", "<a>", "<", -5), "1");
  EXPECT_EQ(TextBetween("KEY=v;", "key=", ";"), "");
  EXPECT_EQ(TextBetween("KEY=v;", "key=", ";", 1, true), "v");
  EXPECT_EQ(TextBetween("abc;", "", ";"), "abc");
  EXPECT_EQ(TextBetween("ab", "ab", ""), "");  // nothing after the left marker
}

TEST(TextBetween, DoesNotMatchATrailByte) {
  EXPECT_EQ(TextBetween(kTrailBracket + "x[abc]", "[", "]"), "abc");
  EXPECT_EQ(TextBetween("[" + kTrailBracket + "]", "[", "]"), kTrailBracket);
}

TEST(TextLeftRightOf, ChooseTheOccurrenceByTheSignOfFrom) {
  struct Case {
    bool left;
    const char* text;
    const char* marker;
    int from;
    const char* expected;
  };
  const Case cases[] = {
      {true, "a-b-c", "-", 0, "a"},     {true, "a-b-c", "-", -1, "a-b"},
      {true, "a-b-c", "-", 3, "a-b"},   {true, "a-b-c", "-", 5, ""},
      {true, "a-b-c", "-", -2, "a"},    {true, "a-b-c", "-", -9, ""},
      {true, "a-b-c", "+", 0, ""},      {false, "a/b/c", "/", 0, "c"},
      {false, "a/b/c", "/", -1, "b/c"}, {false, "a/b/c", "/", -3, "c"},
      {false, "a/b/c", "/", 1, "c"},    {false, "a/b/c", "/", 2, "b/c"},
      {false, "a/b/c", "/", 9, ""},     {false, "a/b/c", "+", 0, ""},
      {false, "A/b", "a/", -1, ""},     {false, "xKEYy", "key", 0, "y"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.left ? "TextLeftOf " : "TextRightOf ") + c.text + " " +
                 std::to_string(c.from));
    bool ignoreCase = std::string(c.marker) == "key";
    std::string got = c.left ? TextLeftOf(c.text, c.marker, c.from, ignoreCase)
                             : TextRightOf(c.text, c.marker, c.from, ignoreCase);
    EXPECT_EQ(got, c.expected);
  }
}

TEST(TextLeftRightOf, SkipTrailBytes) {
  const std::string text = kTrailBackslash + "\\x";
  EXPECT_EQ(TextLeftOf(text, "\\"), kTrailBackslash);
  EXPECT_EQ(TextRightOf(text, "\\", -1), "x");
  EXPECT_EQ(TextRightOf(kTrailBackslash + "x", "\\"), "");
}

TEST(ReplaceAndSplit, LeftToRightAtCharacterBoundaries) {
  EXPECT_EQ(ReplaceText("aaa", "a", "aa"), "aaaaaa");  // replaced text is not scanned again
  EXPECT_EQ(ReplaceText("abAB", "ab", "-", true), "--");
  EXPECT_EQ(ReplaceText(kTrailBackslash + "\\", "\\", "/"), kTrailBackslash + "/");
  EXPECT_EQ(ReplaceText("\x81"
                        "Ab",
                        "a", "x", true),
            "\x81"
            "Ab");  // trail byte "A"

  using Pieces = std::vector<std::string>;
  EXPECT_EQ(SplitText("a,,b,", ","), (Pieces{"a", "", "b"}));
  EXPECT_EQ(SplitText(",a", ","), (Pieces{"", "a"}));
  EXPECT_EQ(SplitText("abc", ","), (Pieces{"abc"}));
  EXPECT_EQ(SplitText("", ","), Pieces{});
  EXPECT_EQ(SplitText("a\r\nb\r\n", "\r\n"), (Pieces{"a", "b"}));
  EXPECT_EQ(SplitText(kTrailBackslash + "\\b", "\\"), (Pieces{kTrailBackslash, "b"}));
}

TEST(TrimText, RemovesAsciiAndFullWidthSpacesOnly) {
  const std::string fullWidth = "\xA1\xA1";
  EXPECT_EQ(TrimText(" " + fullWidth + " a b " + fullWidth + "  "), "a b");
  EXPECT_EQ(TrimText("\ta\t"), "\ta\t");
  EXPECT_EQ(TrimText(fullWidth + " "), "");
  // 啊 is B0 A1: its trail byte and a following full-width space must not be mistaken
  // for each other.
  EXPECT_EQ(TrimText("x" + L8("啊") + fullWidth), "x" + L8("啊"));
  EXPECT_EQ(TrimText("\xB0\xA1\xA1"), "\xB0\xA1\xA1");  // a stray lead byte at the end is no space
}

TEST(HeaderLine, NameAndValueSplitAtTheFirstColon) {
  EXPECT_EQ(HeaderName("  Date  :  Tue 12:30:00  "), "Date");
  EXPECT_EQ(HeaderValue("  Date  :  Tue 12:30:00  "), "Tue 12:30:00");
  EXPECT_EQ(HeaderValue("X-Empty:"), "");
  EXPECT_EQ(HeaderName("no colon here"), "");
  EXPECT_EQ(HeaderValue("no colon here"), "");
}

TEST(NormaliseHeaderCase, CapitalisesNamePiecesAndDropsLinesWithoutColon) {
  EXPECT_EQ(NormaliseHeaderCase("x-requested-with: a\r\nnot a header\r\nreferer: b"),
            "X-Requested-With: a\r\nReferer: b");
  EXPECT_EQ(NormaliseHeaderCase("x-: v\r\n"), "X-: v");
  EXPECT_EQ(NormaliseHeaderCase("x--y: z"), "X--Y: z");
  EXPECT_EQ(NormaliseHeaderCase("content-tYPE: text/html; x-a=b"),
            "Content-TYPE: text/html; x-a=b");
  EXPECT_EQ(NormaliseHeaderCase(": v"), ": v");
  EXPECT_EQ(NormaliseHeaderCase("nothing\r\nat all"), "");
  EXPECT_EQ(NormaliseHeaderCase(""), "");
}

TEST(UrlEncode, KeptSetsOfTheTwoEncoders) {
  EXPECT_EQ(UrlEncode(L8("中")), "%E4%B8%AD");
  EXPECT_EQ(UrlEncode(L8("中"), true, false), "%D6%D0");
  EXPECT_EQ(UrlEncode("aZ9-._'()*~ /?=&%+"), "aZ9-._'()*%7E+%2F%3F%3D%26%25%2B");
  EXPECT_EQ(UrlEncode("aZ9 -", false), "%61%5A%39+%2D");
  EXPECT_EQ(UrlEncode(std::string("a\0b", 3), true, false), "ab");

  EXPECT_EQ(UrlEncodeBytes("\xE4\xB8\xAD"), "%E4%B8%AD");
  EXPECT_EQ(UrlEncodeBytes("\xE4\xB8\xAD", false), "%e4%b8%ad");
  EXPECT_EQ(UrlEncodeBytes("aZ9-._'()*~ /"), "aZ9-._%27%28%29%2A%7E+%2F");
  EXPECT_EQ(UrlEncodeBytes(std::string("a\0b", 3)), "a%00b");
}

TEST(DecodeSpaceAndTilde, IgnoresCase) {
  EXPECT_EQ(DecodeSpaceAndTilde("a%20b%7Ec%7ed%2"), "a b~c~d%2");
  EXPECT_EQ(DecodeSpaceAndTilde(""), "");
}

TEST(Entities, EncodeAndDecodeInTheirOrder) {
  EXPECT_EQ(EncodeEntities("a&b[c],'\""), "a&amp;b&#91;c&#93;&#44;&apos;&quot;");
  // An encoded entity decodes to its text, not to its character.
  EXPECT_EQ(DecodeEntities("&amp;quot;"), "&quot;");
  EXPECT_EQ(DecodeEntities("&quot;&apos;&#91;&#93;&#44;&amp;"), "\"'[],&");
  // The tilde comes after the six steps, so an escaped "&#126;" becomes a tilde too.
  EXPECT_EQ(DecodeEntitiesWithTilde("a&#126;&amp;#126;&amp;"), "a~~&");
  EXPECT_EQ(DecodeEntities("&#126;"), "&#126;");
  EXPECT_EQ(StripEntityWords("a&AMP;b&quot;c&Divide;d"), "a&b&c&d");
  // A GBK trail byte that looks like a bracket is part of its character.
  EXPECT_EQ(EncodeEntities(kTrailBracket + "]"), kTrailBracket + "&#93;");
}

TEST(Entities, DecodeUndoesEncodeOnceAndTwice) {
  const std::string texts[] = {
      "",
      "plain",
      "&quot;",
      "&amp;",
      "&amp;quot;",
      "[1], 'a' \"b\" & c",
      "&#91;&#44;&apos;",
      kTrailBracket + "[]" + kTrailBackslash + L8("中文&名"),
  };
  for (const std::string& text : texts) {
    SCOPED_TRACE(text);
    EXPECT_EQ(DecodeEntities(EncodeEntities(text)), text);
    EXPECT_EQ(DecodeEntities(DecodeEntities(EncodeEntities(EncodeEntities(text)))), text);
  }
}

}  // namespace
}  // namespace pansift
