#include "util/codepage.h"

#include <gtest/gtest.h>

#include <utility>

namespace pansift {
namespace {

// A row of a table of cases: some bytes and what a function makes of them.
template <class Expected>
struct BytesCase {
  const char* what;
  std::string bytes;
  Expected expected;
};

std::string Bytes(std::initializer_list<int> values) {
  std::string out;
  for (int v : values) out += static_cast<char>(v);
  return out;
}

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
  const BytesCase<bool> cases[] = {
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
  for (const BytesCase<bool>& c : cases) EXPECT_EQ(IsValidUtf8(c.bytes), c.expected) << c.what;
}

TEST(CodePage, Utf16LeBytesPutTheLowByteFirst) {
  const std::string bytes("a\0\x2D\x4E\x3D\xD8\x00\xDE\0\0", 10);  // a 中 😀 U+0000
  const std::u16string text(u"a中😀\0", 5);
  EXPECT_EQ(ToUtf16LeBytes(text), bytes);
  EXPECT_EQ(FromUtf16LeBytes(bytes), text);
  EXPECT_EQ(FromUtf16LeBytes(bytes + "x"), text);  // an odd last byte is left out
  std::string marked("\xFF\xFE", 2);
  AppendUtf16Le(marked, u"\r\n");
  EXPECT_EQ(marked, std::string("\xFF\xFE\r\0\n\0", 6));
}

TEST(CodePage, EscapeNonAsciiEscapesEveryUnitFrom0x80Up) {
  EXPECT_EQ(EscapeNonAscii(u"a中😀\\u\u0080"), "a\\u4e2d\\ud83d\\ude00\\u\\u0080");
  EXPECT_EQ(EscapeNonAscii(std::u16string(u"a\0b", 3)), std::string("a\0b", 3));
}

TEST(DetectTextEncoding, ByteOrderMarksThenUtf16ThenUtf8OnlyWhenAllOfItIs) {
  const BytesCase<int> cases[] = {
      {"empty", "", kEncodingAnsi},
      {"ASCII only", "{\"data\":[]}", kEncodingAnsi},
      {"UTF-8 mark", Bytes({0xEF, 0xBB, 0xBF}) + "{}", kEncodingUtf8},
      {"UTF-16 LE mark", Bytes({0xFF, 0xFE, 0x7B, 0x00}), kEncodingUtf16Le},
      {"UTF-16 BE mark", Bytes({0xFE, 0xFF, 0x00, 0x7B}), kEncodingUtf16Be},
      {"UTF-16 LE JSON without mark", ToUtf16LeBytes(u"{\"data\":[]}"), kEncodingUtf16Le},
      {"UTF-16 LE Chinese and ASCII", ToUtf16LeBytes(u"中文ab"), kEncodingUtf16Le},
      {"UTF-16 LE with a stray control unit", ToUtf16LeBytes(u"ab\u0001cd"), kEncodingAnsi},
      {"three-byte UTF-8", "user:" + Bytes({0xE4, 0xB8, 0xAD}), kEncodingUtf8},
      {"four-byte UTF-8", Bytes({0xF0, 0x9F, 0x98, 0x80}), kEncodingUtf8},
      {"valid two-byte UTF-8", Bytes({0xC3, 0xA9}) + "x", kEncodingUtf8},
      {"GBK that starts like UTF-8 (楠宝)", "{\"user\":\"" + L8("楠宝") + "\"}", kEncodingAnsi},
      {"UTF-8 cut off later in the file", "\"" + Bytes({0xE4, 0xB8, 0xAD, 0xE4, 0xB8}) + "\"",
       kEncodingAnsi},
      {"surrogate encoded as UTF-8", Bytes({0xED, 0xA0, 0x80}), kEncodingAnsi},
      {"overlong UTF-8", Bytes({0xE0, 0x80, 0xAF}), kEncodingAnsi},
      {"GBK lead C0-DF", L8("张三") + "!", kEncodingAnsi},
      {"lead E4 without two continuations", Bytes({0xE4, 0xB8, 0x41}), kEncodingAnsi},
      {"sequence cut off at the end", "ab" + Bytes({0xE4, 0xB8}), kEncodingAnsi},
      {"a GBK character before UTF-8 ones", Bytes({0xD6, 0xD0, 0xE4, 0xB8, 0xAD}), kEncodingAnsi},
  };
  for (const BytesCase<int>& c : cases) {
    EXPECT_EQ(DetectTextEncoding(c.bytes), c.expected) << c.what;
  }
}

TEST(LooksLikeUtf16Le, WantsEvenLengthValidUnitsAndAsciiEvidence) {
  EXPECT_TRUE(
      LooksLikeUtf16Le(ToUtf16LeBytes(u"ab\r\n\t") + std::string(2, '\0')));  // terminator allowed
  EXPECT_FALSE(LooksLikeUtf16Le(ToUtf16LeBytes(u"ab") + "c"));                // odd length
  EXPECT_FALSE(LooksLikeUtf16Le(ToUtf16LeBytes(u"a") + std::string(2, '\0') +
                                ToUtf16LeBytes(u"b")));                // inner NUL
  EXPECT_FALSE(LooksLikeUtf16Le(ToUtf16LeBytes(u"ab\xD800x")));        // lone surrogate
  EXPECT_TRUE(LooksLikeUtf16Le(ToUtf16LeBytes(u"ab\xD83D\xDE00")));    // paired surrogates
  EXPECT_FALSE(LooksLikeUtf16Le(ToUtf16LeBytes(u"中文中文中文中a")));  // too little ASCII
  EXPECT_FALSE(LooksLikeUtf16Le("abcdefgh"));                          // single-byte text
}

TEST(DecodeOwnFile, Utf8WhenMarkedOrAllOfItIsValidUtf8ElseGbkUpToTheFirstNul) {
  const std::pair<std::string, std::u16string> cases[] = {
      // "café" in UTF-8 starts with a two-byte sequence, which a first-byte guess reads as GBK.
      {"caf\xC3\xA9.mp4", u"café.mp4"},
      {"中文<---->x", u"中文<---->x"},
      {L8("中文<---->x"), u"中文<---->x"},
      {L8("楠宝"), u"楠宝"},  // GBK that starts like UTF-8
      {"a\\u0031", u"a\\u0031"},
      {std::string("ab\0cd", 5), u"ab"},               // the text ends at its first NUL
      {std::string("caf\xC3\xA9\0\xFF", 7), u"café"},  // and only it counts
      {"\xEF\xBB\xBFx中", u"x中"},                     // the UTF-8 mark, dropped
      {"\xEF\xBB\xBF"
       "a\xFF",
       u"a\uFFFD"},  // the mark before a non-UTF-8 byte
  };
  for (const auto& [bytes, expected] : cases) {
    EXPECT_EQ(DecodeOwnFile(bytes), expected) << ::testing::PrintToString(bytes);
  }
}

TEST(CodePage, EmptyInputsGiveEmptyResults) {
  EXPECT_EQ(LocalToUnicode(""), u"");
  EXPECT_EQ(UnicodeToLocal(u""), "");
  EXPECT_EQ(Utf8ToUnicode(""), u"");
}

}  // namespace
}  // namespace pansift
