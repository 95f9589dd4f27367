#include "json/json_doc.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "util/codepage.h"

namespace pansift {
namespace {

// A listing reply as the service sends it: ASCII, names as \u escapes.
const char* const kListing =
    R"({"errno":0,"guid_info":"","list":[)"
    R"({"category":6,"fs_id":388670939482157,"isdir":1,"path":"\/\u6211\u7684\u8d44\u6e90",)"
    R"("server_filename":"\u6211\u7684\u8d44\u6e90","size":0,"md5":null,"share":false},)"
    R"({"category":1,"fs_id":1234567890123456,"isdir":0,"path":"\/a.mp4",)"
    R"("server_filename":"a.mp4","size":1073741824,"ratio":1.50,"thumbs":{"url1":"x"},"share":true})"
    R"(],"request_id":8876543210123456789,"empty":[],"nested":[[1,2],[3]]})";

TEST(JsonDocRead, ListingReplyByPath) {
  JsonDoc doc;
  ASSERT_TRUE(doc.Parse(kListing));
  const struct {
    const char* path;
    std::string expected;
  } cases[] = {
      {"errno", "0"},
      {"list[0].fs_id", "388670939482157"},
      {"list[1].fs_id", "1234567890123456"},
      {"request_id", "8876543210123456789"},  // beyond a double: every digit kept
      {"list[0].isdir", "1"},
      {"list[1].isdir", "0"},
      {"list[1].size", "1073741824"},
      {"list[1].ratio", "1.50"},
      {"list[0].server_filename", L8("我的资源")},
      {"list[0].path", L8("/我的资源")},
      {"list[1].path", "/a.mp4"},
      {"list[0].share", "false"},
      {"list[1].share", "true"},
      {"nested[1][0]", "3"},
      {"list[1].thumbs.url1", "x"},
      // null, containers and missing values all read as empty text
      {"list[0].md5", ""},
      {"list", ""},
      {"list[1].thumbs", ""},
      {"", ""},
      {"list[2]", ""},
      {"list[2].fs_id", ""},
      {"List[0].fs_id", ""},
      {"errno.x", ""},
      {"list.x", ""},
      {"list[0][0]", ""},
      {"list[0].path.x", ""},
      // malformed paths lead nowhere
      {"list[", ""},
      {"list[x].isdir", ""},
      {"list[0]isdir", ""},
      {"list[0].", ""},
      {".errno", ""},
      {"list..isdir", ""},
      {"list[-1].isdir", ""},
      {"list[0]].isdir", ""},
      {"[0]", ""},
  };
  for (const auto& c : cases) EXPECT_EQ(doc.GetText(c.path), c.expected) << c.path;
}

TEST(JsonDocRead, CountOfArraysObjectsAndEverythingElse) {
  JsonDoc doc;
  ASSERT_TRUE(doc.Parse(kListing));
  const struct {
    const char* path;
    int expected;
  } cases[] = {
      {"list", 2},           {"empty", 0},   {"list[1]", 9},
      {"list[1].thumbs", 1}, {"", 6},        {"nested", 2},
      {"nested[0]", 2},      {"errno", 0},   {"list[0].server_filename", 0},
      {"list[0].md5", 0},    {"missing", 0}, {"list[5]", 0},
  };
  for (const auto& c : cases) EXPECT_EQ(doc.Count(c.path), c.expected) << c.path;

  JsonDoc failed;
  EXPECT_FALSE(failed.Parse("<html>502 Bad Gateway</html>"));
  EXPECT_EQ(failed.Count("list"), 0);
  EXPECT_EQ(failed.Count(""), 0);
}

TEST(JsonDocRead, NumberLiteralsComeBackAsWritten) {
  for (const char* literal :
       {"0", "-0", "1.50", "388670939482157", "3886709394821578", "123456789012345678901234567890",
        "-12.000", "1e5", "2.5E-3", "1E+400", "0.1"}) {
    JsonDoc doc;
    ASSERT_TRUE(doc.Parse(std::string("{\"n\":") + literal + "}")) << literal;
    EXPECT_EQ(doc.GetText("n"), literal);
    JsonDoc bare;
    ASSERT_TRUE(bare.Parse(literal)) << literal;
    EXPECT_EQ(bare.GetText(""), literal);
  }
}

TEST(JsonDocRead, StringEscapesAndApostropheStrings) {
  JsonDoc doc;
  ASSERT_TRUE(
      doc.Parse(R"({"s":"a\"b\\c\/d\b\f\n\r\t\u0041\u4E2D",'sign1':'x\'y"z','mixed':["p",'q'],)"
                R"('it\'s':1,"e\u0073c":"named with an escape"})"));
  EXPECT_EQ(doc.GetText("s"), "a\"b\\c/d\b\f\n\r\tA" + L8("中"));
  EXPECT_EQ(doc.GetText("sign1"), "x'y\"z");
  EXPECT_EQ(doc.GetText("mixed[1]"), "q");
  EXPECT_EQ(doc.GetText("it's"), "1");
  EXPECT_EQ(doc.GetText("esc"), "named with an escape");

  JsonDoc reply;  // the signing reply, written the script way
  ASSERT_TRUE(reply.Parse(
      "{'errno':0,'result':{'sign1':'d76e889b','sign3':'k\\\\ey','timestamp':1700000000}}"));
  EXPECT_EQ(reply.GetText("result.sign1"), "d76e889b");
  EXPECT_EQ(reply.GetText("result.sign3"), "k\\ey");
  EXPECT_EQ(reply.GetText("result.timestamp"), "1700000000");
}

TEST(JsonDocRead, PathsWithEscapedFullStopsBracketsAndBackslashes) {
  JsonDoc doc;
  ASSERT_TRUE(doc.Parse(R"({"a.b":{"c[1]":"x","d\\e":"y","":"empty"},"a":{"b":"plain"}})"));
  EXPECT_EQ(doc.GetText("a\\.b.c\\[1\\]"), "x");
  EXPECT_EQ(doc.GetText("a\\.b.d\\\\e"), "y");
  EXPECT_EQ(doc.GetText("a.b"), "plain");
  EXPECT_EQ(doc.GetText("a\\.b.d\\"), "");  // a trailing backslash escapes nothing
  EXPECT_EQ(doc.GetText(EscapeJsonPathName("a.b") + "." + EscapeJsonPathName("c[1]")), "x");
  EXPECT_EQ(doc.GetText(EscapeJsonPathName("a.b") + "." + EscapeJsonPathName("d\\e")), "y");

  // GBK trail bytes may be 0x5B-0x5D ("[", "\", "]"): they are half of a character,
  // never path syntax. 乗 is 81 5C in GBK, 乕 is 81 5B.
  const std::string name = L8("乗乕");
  ASSERT_EQ(name, "\x81\x5C\x81\x5B");
  EXPECT_EQ(EscapeJsonPathName(name), name);
  JsonDoc gbk;
  ASSERT_TRUE(gbk.Parse("{\"" + name + "\":{\"k\":\"v\"}}"));
  EXPECT_EQ(gbk.GetText(name + ".k"), "v");
}

TEST(JsonDocRead, LocalAndUtf8InputAndCharactersGbkCannotHold) {
  JsonDoc local;
  ASSERT_TRUE(local.Parse(L8("{\"用户\":\"张三\",\"list\":[\"中文\"]}")));
  EXPECT_EQ(local.GetText(L8("用户")), L8("张三"));
  EXPECT_EQ(local.GetText("list[0]"), L8("中文"));

  JsonDoc utf8;
  ASSERT_TRUE(utf8.ParseUtf8("\xEF\xBB\xBF{\"用户\":\"张三\",\"e\":\"a😀한中\"}"));  // with a BOM
  EXPECT_EQ(utf8.GetText(L8("用户")), L8("张三"));
  // GBK holds neither the emoji nor the Hangul syllable: they come back as escapes,
  // the emoji as its surrogate pair, instead of question marks.
  EXPECT_EQ(utf8.GetText("e"), "a\\ud83d\\ude00\\ud55c" + L8("中"));

  JsonDoc escaped;
  ASSERT_TRUE(escaped.Parse(R"({"n":"\ud83d\ude00.mp4","lone":"\udc00x","zero":"a\u0000b"})"));
  EXPECT_EQ(escaped.GetText("n"), "\\ud83d\\ude00.mp4");
  EXPECT_EQ(escaped.GetText("lone"), "\\udc00x");
  EXPECT_EQ(escaped.GetText("zero"), "a");  // local text ends at a NUL

  // The writer keeps them too, as escapes, so the output still reads back.
  EXPECT_EQ(escaped.GetJson("n"), "\"\\ud83d\\ude00.mp4\"");
  JsonDoc again;
  ASSERT_TRUE(again.Parse(escaped.ToText()));
  EXPECT_EQ(again.GetText("n"), "\\ud83d\\ude00.mp4");
}

TEST(JsonDocRead, GarbageGivesAnEmptyDocument) {
  const std::vector<std::string> inputs = {"",
                                           " ",
                                           "{",
                                           "}",
                                           "[1,]",
                                           "[,1]",
                                           "{\"a\":}",
                                           "{\"a\" 1}",
                                           "{\"a\":1,}",
                                           "{a:1}",
                                           "nul",
                                           "truex",
                                           "01",
                                           "1.",
                                           ".5",
                                           "-",
                                           "1e",
                                           "+1",
                                           "\"abc",
                                           "'abc\"",
                                           "\"\\x41\"",
                                           "\"\\u12G4\"",
                                           "\"\\",
                                           "[1] x",
                                           "[1][2]",
                                           "{\"a\":1}}",
                                           std::string(100000, '['),
                                           std::string(100000, '{'),
                                           "\x81",
                                           "\xFF\xFE{",
                                           "<html>",
                                           std::string("{\"a\":\0}", 7)};
  for (const std::string& input : inputs) {
    JsonDoc doc;
    ASSERT_TRUE(doc.Parse(kListing));
    EXPECT_FALSE(doc.Parse(input)) << input.substr(0, 20);
    EXPECT_EQ(doc.ToText(), "");
    EXPECT_EQ(doc.GetText("list[0].fs_id"), "");
    EXPECT_EQ(doc.GetJson(""), "");
    EXPECT_EQ(doc.Count("list"), 0);
    EXPECT_FALSE(doc.ParseUtf8(input)) << input.substr(0, 20);
    EXPECT_EQ(doc.Count(""), 0);
  }
  // Text after a NUL is not part of the text.
  JsonDoc cut;
  EXPECT_TRUE(cut.Parse(std::string("{\"a\":1}\0garbage", 15)));
  EXPECT_EQ(cut.GetText("a"), "1");
}

TEST(JsonDocRead, ManyEntriesReadInOrderAndOutOfOrder) {
  std::string reply = "{\"errno\":0,\"list\":[";
  for (int i = 0; i < 1000; ++i) {
    if (i) reply += ",";
    reply += "{\"fs_id\":" + std::to_string(1000000000000000LL + i) + ",\"server_filename\":\"f" +
             std::to_string(i) + "\"}";
  }
  reply += "]}";
  JsonDoc doc;
  ASSERT_TRUE(doc.Parse(reply));
  ASSERT_EQ(doc.Count("list"), 1000);
  for (int i = 0; i < 1000; ++i) {
    const std::string at = "list[" + std::to_string(i) + "]";
    ASSERT_EQ(doc.GetText(at + ".fs_id"), std::to_string(1000000000000000LL + i));
  }
  EXPECT_EQ(doc.GetText("list[999].server_filename"), "f999");
  EXPECT_EQ(doc.GetText("list[3].server_filename"), "f3");
  EXPECT_EQ(doc.GetText("list[1000].server_filename"), "");

  // Writes after indexed reads keep the index right.
  doc.Append("list", "{\"server_filename\":\"new\"}");
  doc.SetJson("list[2]", "{\"server_filename\":\"replaced\"}");
  EXPECT_EQ(doc.GetText("list[1000].server_filename"), "new");
  EXPECT_EQ(doc.GetText("list[2].server_filename"), "replaced");
  EXPECT_EQ(doc.GetText("list[2].fs_id"), "1000000000000002");  // merged into the object
  EXPECT_EQ(doc.Count("list"), 1001);

  JsonDoc copy = doc;
  copy.SetText("list[0].server_filename", "changed");
  EXPECT_EQ(doc.GetText("list[0].server_filename"), "f0");
  EXPECT_EQ(copy.GetText("list[0].server_filename"), "changed");
  EXPECT_EQ(copy.GetText("list[999].server_filename"), "f999");
}

TEST(JsonDocWrite, AccountFileIsWrittenCompactlyInOrder) {
  JsonDoc doc;
  doc.SetText("dataname", "cookies");
  doc.SetNumber("num", 2);
  doc.SetJson("data", "[]");
  doc.SetText("data[0].user", "skipped");  // data[0] is no object yet: ignored
  const char* users[] = {"张三", "li\"si"};
  for (int i = 0; i < 2; ++i) {
    const std::string at = "data[" + std::to_string(i) + "]";
    doc.SetJson(at, "{}");
    doc.SetText(at + ".user", L8(users[i]));
    doc.SetText(at + ".cookies", "BDUSS=abc; STOKEN=def");
    doc.SetText(at + ".uk", "1234567890");
    doc.SetText(at + ".bdstoken", "");
  }
  EXPECT_EQ(
      doc.ToText(),
      L8(R"({"dataname":"cookies","num":2,"data":[)"
         R"({"user":"张三","cookies":"BDUSS=abc; STOKEN=def","uk":"1234567890","bdstoken":""},)"
         R"({"user":"li\"si","cookies":"BDUSS=abc; STOKEN=def","uk":"1234567890","bdstoken":""}]})"));

  JsonDoc empty;
  empty.SetText("dataname", "cookies");
  empty.SetNumber("num", 0);
  empty.SetJson("data", "[]");
  EXPECT_EQ(empty.ToText(), R"({"dataname":"cookies","num":0,"data":[]})");
  EXPECT_EQ(JsonDoc().ToText(), "");
}

TEST(JsonDocWrite, SetJsonAppendAndMissingSteps) {
  JsonDoc doc;
  ASSERT_TRUE(doc.Parse(R"({"o":{"a":1,"b":[true]},"s":"text","arr":[1]})"));
  doc.SetJson("o", "{}");  // an existing object stays as it is
  doc.SetJson("o", "");    // so does the empty text
  EXPECT_EQ(doc.GetJson("o"), R"({"a":1,"b":[true]})");
  doc.SetJson("o", R"({"b":null,"c":'x'})");  // merged: b replaced in place, c added
  EXPECT_EQ(doc.GetJson("o"), R"({"a":1,"b":null,"c":"x"})");
  doc.SetJson("s", "{}");  // not an object: replaced
  doc.SetJson("new", "");
  doc.SetJson("arr", "{not json");  // changes nothing
  doc.Append("arr", "2");
  doc.Append("arr", "");
  doc.Append("o.a", "[]");  // not an array: becomes one
  doc.Append("fresh", "\"z\"");
  doc.SetJson("arr[5]", "7");  // beyond the end: the gap is null
  doc.SetText("nowhere.x", "y");
  doc.SetText("s.x.y", "y");
  doc.SetNumber("arr[0].x", 1);
  doc.Append("missing.list", "1");
  EXPECT_EQ(
      doc.ToText(),
      R"({"o":{"a":[[]],"b":null,"c":"x"},"s":{},"arr":[1,2,{},null,null,7],"new":{},"fresh":["z"]})");

  JsonDoc root;
  root.SetJson("", "[1,'2']");
  EXPECT_EQ(root.ToText(), R"([1,"2"])");
  root.SetText("[2]", "3");
  EXPECT_EQ(root.ToText(), R"([1,"2","3"])");
  JsonDoc arrayRoot;
  arrayRoot.SetNumber("[0]", 5);
  EXPECT_EQ(arrayRoot.ToText(), "[5]");
  JsonDoc deep;
  deep.SetText("a.b", "x");  // the first step must already exist
  EXPECT_EQ(deep.ToText(), "");
}

TEST(JsonDocWrite, NumbersAreWrittenInShortestForm) {
  const struct {
    double value;
    const char* text;
  } cases[] = {
      {0, "0"},
      {-0.0, "0"},
      {2, "2"},
      {-17, "-17"},
      {0.1, "0.1"},
      {1.5, "1.5"},
      {1.0 / 3, "0.3333333333333333"},
      {123456789012345680000.0, "123456789012345680000"},
      {1e21, "1e+21"},
      {1.5e300, "1.5e+300"},
      {0.000001, "0.000001"},
      {1e-7, "1e-7"},
      {-1.25e-10, "-1.25e-10"},
      {4294967296.0, "4294967296"},
  };
  for (const auto& c : cases) {
    JsonDoc doc;
    doc.SetNumber("n", c.value);
    EXPECT_EQ(doc.GetText("n"), c.text) << c.text;
    EXPECT_EQ(doc.ToText(), std::string("{\"n\":") + c.text + "}");
  }
  JsonDoc special;
  special.SetNumber("nan", std::numeric_limits<double>::quiet_NaN());
  special.SetNumber("inf", -std::numeric_limits<double>::infinity());
  EXPECT_EQ(special.ToText(), R"({"nan":null,"inf":null})");

  // Parsed numbers keep their literal for GetText but are normalised when written.
  JsonDoc parsed;
  ASSERT_TRUE(parsed.Parse(R"([1.50,-0,1e21,2.5E-3,1E+400,100,1e-400])"));
  EXPECT_EQ(parsed.ToText(), "[1.5,0,1e+21,0.0025,null,100,0]");
  EXPECT_EQ(parsed.GetJson("[0]"), "1.5");
}

TEST(JsonDocWrite, StringEscapingTable) {
  const struct {
    const char* json;  // the string as parsed
    std::string written;
  } cases[] = {
      {R"("\"")", R"("\"")"},
      {R"("\\")", R"("\\")"},
      {R"("\/")", R"("/")"},
      {R"("\b\t\n\f\r")", R"("\b\t\n\f\r")"},
      {R"("\u0000")", R"("\u0000")"},
      {R"("\u0001\u001F")", R"("\u0001\u001f")"},
      {R"("\u007f\u0080\u009F")", R"("\u007f\u0080\u009f")"},
      {R"("\u00AD")", R"("\u00ad")"},
      {R"("\u0600\u0604\u070f")", R"("\u0600\u0604\u070f")"},
      {R"("\u17b4\u17B5")", R"("\u17b4\u17b5")"},
      {R"("\u200c\u200F\u2028\u202f")", R"("\u200c\u200f\u2028\u202f")"},
      {R"("\u2060\u206F\uFEFF\ufff0\uFFFF")", R"("\u2060\u206f\ufeff\ufff0\uffff")"},
      {R"("'<>&\u00e9\u4e2d")", "\"'<>&" + L8("é中") + "\""},
      {R"("\ud55c")", R"("\ud55c")"},  // GBK cannot hold it: escaped rather than "?"
  };
  for (const auto& c : cases) {
    JsonDoc doc;
    ASSERT_TRUE(doc.Parse(c.json)) << c.json;
    EXPECT_EQ(doc.ToText(), c.written) << c.json;
  }
}

TEST(JsonDocWrite, SetTextReadsBackAfterWritingAndParsing) {
  const std::vector<std::string> texts = {
      "",
      "plain",
      L8("中文名称，带标点。"),
      "quote \" and 'apostrophe'",
      "tab\tnew\nline\r",
      L8("张三\"的\"网盘"),
      "a\\q",
      "ends with \\",
      "\\'",
      "\\ud83d\\ude00 name",  // what GetText gives for an emoji survives the round trip
  };
  for (const std::string& text : texts) {
    JsonDoc doc;
    doc.SetText("v", text);
    EXPECT_EQ(doc.GetText("v"), text);
    JsonDoc back;
    ASSERT_TRUE(back.Parse(doc.ToText())) << doc.ToText();
    EXPECT_EQ(back.GetText("v"), text);
  }
}

TEST(JsonDocWrite, SetTextBackslashesPassEscapesThrough) {
  JsonDoc doc;
  doc.SetText("name", "\\u5f20\\u4e09");  // a name as the service writes it
  doc.SetText("bad", "a\\x\\");
  doc.SetText("mixed", "x\\\"y\\n");
  doc.SetText("path", "C:\\\\dir");
  EXPECT_EQ(doc.GetText("name"), "\\u5f20\\u4e09");
  EXPECT_EQ(doc.GetJson("name"), "\"\\u5f20\\u4e09\"");
  EXPECT_EQ(doc.ToText(),
            R"({"name":"\u5f20\u4e09","bad":"a\\x\\","mixed":"x\"y\n","path":"C:\\dir"})");
  JsonDoc back;
  ASSERT_TRUE(back.Parse(doc.ToText()));
  EXPECT_EQ(back.GetText("name"), L8("张三"));
  EXPECT_EQ(back.GetText("mixed"), "x\"y\n");
  EXPECT_EQ(back.GetText("path"), "C:\\dir");

  // A backslash in a parsed string is an ordinary character and is escaped.
  JsonDoc parsed;
  ASSERT_TRUE(parsed.Parse(R"({"p":"a\\u5f20"})"));
  EXPECT_EQ(parsed.GetText("p"), "a\\u5f20");
  EXPECT_EQ(parsed.ToText(), R"({"p":"a\\u5f20"})");
}

}  // namespace
}  // namespace pansift
