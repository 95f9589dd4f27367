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
