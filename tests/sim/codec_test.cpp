#include "codec.h"

#include <gtest/gtest.h>

namespace pansift::sim {
namespace {

TEST(SimCodec, SignMatchesTheKnownVector) {
  EXPECT_EQ(
      ComputeSign("d76e889b6aafd3087ac3bd56f4d4053a", "3fce7b5a87d8238bc7619ea3f592b5695dde7e3c"),
      "cQYtRX3fvPdf7ZYw2J34rCDfuznxe5KMPVIhP5k0sR5NVCMIr1qzMQ==");
  EXPECT_EQ(ComputeSign("key", ""), "");
  // Padding of one and two trailing bytes.
  EXPECT_EQ(Base64("f"), "Zg==");
  EXPECT_EQ(Base64("fo"), "Zm8=");
  EXPECT_EQ(Base64("foo"), "Zm9v");
}

TEST(SimCodec, JsonStringsAreWrittenInTheServiceStyle) {
  struct Case {
    const char* utf8;
    const char* json;
  } cases[] = {
      {"/电影 2023/a&b's, [1].mp4", R"("\/\u7535\u5f71 2023\/a&b's, [1].mp4")"},
      {"😀~", R"("\ud83d\ude00~")"},
      {"q\"b\\s\n", R"("q\"b\\s\n")"},
      {"\xff", R"("\ufffd")"},  // a stray byte is not passed through
  };
  for (const Case& c : cases) EXPECT_EQ(JsonString(c.utf8), c.json) << c.utf8;
}

TEST(SimCodec, JsonReaderDecodesWhatTheWriterEscapes) {
  std::string name = "报告（终稿）😀 \"x\"/y";
  JsonValue v;
  ASSERT_TRUE(
      ParseJson("{\"a\":[" + JsonString(name) + ",12345678901234567,true,null],\"b\":{}}", v));
  ASSERT_TRUE(v.get("a") && v.get("a")->isArray());
  EXPECT_EQ(v.get("a")->items[0].text, name);
  EXPECT_EQ(v.get("a")->items[1].text, "12345678901234567");  // numbers keep their digits
  std::string error;
  EXPECT_FALSE(ParseJson("{\"a\":1,}", v, &error));
  EXPECT_FALSE(ParseJson("[1] x", v, &error));
  EXPECT_FALSE(error.empty());
}

// Request bodies are read as strictly as the service reads them: what a hand-made
// body gets wrong is refused, not guessed at.
TEST(SimCodec, JsonReaderRefusesWhatIsNotJson) {
  struct Case {
    const char* what;
    std::string text;
  } cases[] = {
      {"raw control character",
       "[\"a\x01"
       "b\"]"},
      {"raw tab", "[\"a\tb\"]"},
      {"raw line break", "[\"a\nb\"]"},
      {"unknown escape", R"(["back\slash"])"},
      {"\\x escape", R"(["\x41"])"},
      {"short \\u escape", R"(["\u12"])"},
      {"lone high surrogate", R"(["\ud83c"])"},
      {"lone low surrogate", R"(["\udfac"])"},
      {"high surrogate before a non-surrogate", R"(["\ud83c\u0041"])"},
      {"stray UTF-8 byte", "[\"\xff\"]"},
      {"cut UTF-8 character", "[\"\xe7\x94\"]"},
      {"overlong UTF-8", "[\"\xc0\xaf\"]"},
      {"surrogate in UTF-8", "[\"\xed\xa0\x80\"]"},
      {"string unterminated", R"(["/a/b.mp4)"},
      {"two strings without a comma", R"(["a""b"])"},
      {"number with a plus", "[+1]"},
      {"number with a leading zero", "[01]"},
      {"number ending in a point", "[1.]"},
      {"number without its exponent", "[1e]"},
      {"single quotes", "['a']"},
  };
  for (const Case& c : cases) {
    JsonValue v;
    EXPECT_FALSE(ParseJson(c.text, v)) << c.what;
  }
  JsonValue v;
  ASSERT_TRUE(ParseJson(R"(["\"\\\/\b\f\n\r\t\u0001\ud83c\udfac","-0.5e+3",-0.5e+3,0])", v));
  EXPECT_EQ(v.items[0].text, "\"\\/\b\f\n\r\t\x01\xf0\x9f\x8e\xac");
  EXPECT_EQ(v.items[2].text, "-0.5e+3");
}

TEST(SimCodec, QueryDecodingTreatsPlusAsSpaceAndKeepsRawOrder) {
  QueryItems q = ParseQuery("dir=%2F%E7%94%B5%E5%BD%B1+2023%7E&web=1&web=1&empty=&flag&bad=%zz");
  ASSERT_EQ(q.size(), 6u);
  EXPECT_EQ(q[0].second, "/电影 2023~");
  EXPECT_EQ(q[3].first, "empty");
  bool found = false;
  EXPECT_EQ(QueryValue(q, "flag", &found), "");
  EXPECT_TRUE(found);
  QueryValue(q, "nothing", &found);
  EXPECT_FALSE(found);
  EXPECT_EQ(QueryValue(q, "bad"), "%zz");
}

}  // namespace
}  // namespace pansift::sim
