#include "util/text.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <random>

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

// A lead byte with nothing that can follow it is a character of its own: the
// separator after it stays a separator.
TEST(ReplaceAndSplit, AStrayLeadByteDoesNotSwallowTheNextByte) {
  using Pieces = std::vector<std::string>;
  struct Case {
    std::string text;
    std::string separator;
    Pieces pieces;
  } cases[] = {
      {"a\x81;b", ";", {"a\x81", "b"}},
      {"a\x81=b", "=", {"a\x81", "b"}},
      {"a\xFE\r\nb", "\r\n", {"a\xFE", "b"}},
      {"\x80|\xFF|c", "|", {"\x80", "\xFF", "c"}},
      {"a\x81\x81;b", ";", {"a\x81\x81", "b"}},          // a pair, then the separator
      {"a\x81\x81\x81;b", ";", {"a\x81\x81\x81", "b"}},  // a pair and a stray lead
      {"\x81@;b", ";", {"\x81@", "b"}},                  // "@" is a trail byte
      {"\x81;", ";", {"\x81"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.text));
    EXPECT_EQ(SplitText(c.text, c.separator), c.pieces);
    EXPECT_EQ(FindText(c.text, c.separator), static_cast<int>(c.pieces[0].size()) + 1);
  }
}

// The searches walk the text once; these references walk it character by
// character from the start for every position, as the rule reads.
namespace reference {

bool MatchesAt(std::string_view text, size_t pos, std::string_view marker, bool ignoreCase) {
  if (pos + marker.size() > text.size()) return false;
  for (size_t i = 0; i < marker.size(); ++i) {
    auto fold = [&](char c) { return ignoreCase && c >= 'A' && c <= 'Z' ? char(c + 32) : c; };
    if (fold(text[pos + i]) != fold(marker[i])) return false;
  }
  return true;
}

std::vector<size_t> Starts(std::string_view text) {
  std::vector<size_t> starts;
  for (size_t pos = 0; pos < text.size();
       pos += pos + 1 < text.size() && IsGbkPair(static_cast<unsigned char>(text[pos]),
                                                 static_cast<unsigned char>(text[pos + 1]))
                  ? 2
                  : 1)
    starts.push_back(pos);
  return starts;
}

int Find(std::string_view text, std::string_view marker, int start, bool ignoreCase) {
  for (size_t pos : Starts(text)) {
    if (pos + 1 >= static_cast<size_t>(std::max(start, 1)) &&
        MatchesAt(text, pos, marker, ignoreCase))
      return static_cast<int>(pos) + 1;
  }
  return -1;
}

int FindLast(std::string_view text, std::string_view marker, int limit, bool ignoreCase) {
  size_t end = limit < 0 ? text.size() : std::min<size_t>(limit, text.size());
  int found = -1;
  for (size_t pos : Starts(text)) {
    if (pos + marker.size() <= end && MatchesAt(text, pos, marker, ignoreCase))
      found = static_cast<int>(pos) + 1;
  }
  return found;
}

std::vector<std::string> Split(std::string_view text, std::string_view separator) {
  std::vector<std::string> pieces;
  size_t pieceStart = 0;
  for (size_t pos : Starts(text)) {
    if (pos < pieceStart || !MatchesAt(text, pos, separator, false)) continue;
    pieces.emplace_back(text.substr(pieceStart, pos - pieceStart));
    pieceStart = pos + separator.size();
  }
  if (pieceStart < text.size()) pieces.emplace_back(text.substr(pieceStart));
  return pieces;
}

}  // namespace reference

TEST(TextSearch, AgreesWithTheCharacterWalkOnGeneratedText) {
  // Few distinct bytes, so markers occur often, overlap, and straddle characters:
  // "a", "A", a backslash and "[" (which are also GBK trail bytes), lead bytes, and
  // bytes no GBK character holds: ";" (never a trail byte), 0x80 and 0xFF.
  const std::string alphabet = "aA\\[;\x81\xB0\x80\xFF";
  std::mt19937 random(11);
  auto generate = [&](size_t maxLength) {
    std::string text;
    size_t length = random() % (maxLength + 1);
    while (text.size() < length) {
      char c = alphabet[random() % alphabet.size()];
      text += c;
      // After a lead byte mostly a trail byte, sometimes a byte that cannot follow it.
      if (c == '\x81' || c == '\xB0') text += alphabet[random() % (random() % 4 == 0 ? 9 : 4)];
    }
    return text;
  };
  for (int round = 0; round < 3000; ++round) {
    std::string text = generate(40);
    std::string marker = generate(4);
    if (marker.empty()) continue;
    bool ignoreCase = round % 2 == 1;
    int start = static_cast<int>(random() % (text.size() + 2));
    int limit = static_cast<int>(random() % (text.size() + 2)) - 1;
    SCOPED_TRACE(::testing::Message() << "text " << ::testing::PrintToString(text) << " marker "
                                      << ::testing::PrintToString(marker));
    ASSERT_EQ(FindText(text, marker, start, ignoreCase),
              reference::Find(text, marker, start, ignoreCase));
    ASSERT_EQ(FindLastText(text, marker, limit, ignoreCase),
              reference::FindLast(text, marker, limit, ignoreCase));
    ASSERT_EQ(SplitText(text, marker), reference::Split(text, marker));
  }
}

TEST(TextSearch, LargeInputsSplitAndSearchWholly) {
  // The size of an exported list; each piece must come back in order.
  std::string text;
  const int kLines = 200000;
  for (int i = 0; i < kLines; ++i) text += L8("文件") + std::to_string(i) + "\r\n";
  std::vector<std::string> lines = SplitText(text, "\r\n");
  ASSERT_EQ(lines.size(), static_cast<size_t>(kLines));
  EXPECT_EQ(lines.front(), L8("文件0"));
  EXPECT_EQ(lines.back(), L8("文件") + std::to_string(kLines - 1));
  EXPECT_EQ(ReplaceText(text, "\r\n", "\n").size(), text.size() - kLines);

  // A marker that almost matches everywhere.
  std::string as(100000, 'a');
  std::string marker = std::string(5000, 'a') + "b";
  EXPECT_EQ(FindText(as, marker), -1);
  EXPECT_EQ(FindText(as + "b", marker), static_cast<int>(as.size()) - 5000 + 1);
  EXPECT_EQ(FindLastText(as + "b", marker), static_cast<int>(as.size()) - 5000 + 1);
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

TEST(ParseBoxNumber, ReadsLikeAtoiWithFullWidthDigitsAndSigns) {
  struct Case {
    std::string text;  // local text
    int value;
  };
  const Case cases[] = {
      {"", 0},
      {"abc", 0},
      {"12", 12},
      {"  7", 7},
      {"\t\n\v\f\r 8", 8},
      {"12abc", 12},
      {"-3", -3},
      {"+4", 4},
      {"- 4", 0},
      {"--4", 0},
      {"3.9", 3},
      {"99999999999", INT_MAX},
      {"-99999999999", INT_MIN},
      {"2147483648", INT_MAX},
      {"-2147483648", INT_MIN},
      {"00000000000000000000042", 42},
      // Full-width forms, as typed with a Chinese input method.
      {L8("１"), 1},
      {L8("１２"), 12},
      {L8("０９８７６５４３２１"), 987654321},
      {L8("－５"), -5},
      {L8("＋５"), 5},
      {L8("１2３"), 123},
      {"-" + L8("７"), -7},
      {L8("－") + "7", -7},
      {" " + L8("３"), 3},
      {L8("３．５"), 3},
      {L8("－－５"), 0},
      {L8("９９９９９９９９９９９"), INT_MAX},
      // Not digits: the full-width space and other A3 characters, a lone lead byte,
      // and a trail byte that is a digit only after A3.
      {L8("　１"), 0},
      {L8("ａ１"), 0},
      {"1\xA3", 1},
      {"\xA3", 0},
      {"\xA2\xB1", 0},
      {L8("一"), 0},
      {std::string("1\0"
                   "2",
                   3),
       1},
  };
  for (const Case& c : cases) EXPECT_EQ(ParseBoxNumber(c.text), c.value) << c.text;
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
