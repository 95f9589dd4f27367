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
  ASSERT_TRUE(doc.parse(kListing));
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
  for (const auto& c : cases) EXPECT_EQ(doc.getText(c.path), c.expected) << c.path;
}

TEST(JsonDocRead, CountOfArraysObjectsAndEverythingElse) {
  JsonDoc doc;
  ASSERT_TRUE(doc.parse(kListing));
  const struct {
    const char* path;
    int expected;
  } cases[] = {
      {"list", 2},           {"empty", 0},   {"list[1]", 9},
      {"list[1].thumbs", 1}, {"", 6},        {"nested", 2},
      {"nested[0]", 2},      {"errno", 0},   {"list[0].server_filename", 0},
      {"list[0].md5", 0},    {"missing", 0}, {"list[5]", 0},
  };
  for (const auto& c : cases) EXPECT_EQ(doc.count(c.path), c.expected) << c.path;

  JsonDoc failed;
  EXPECT_FALSE(failed.parse("<html>502 Bad Gateway</html>"));
  EXPECT_EQ(failed.count("list"), 0);
  EXPECT_EQ(failed.count(""), 0);
}

TEST(JsonDocRead, NumberLiteralsComeBackAsWritten) {
  for (const char* literal :
       {"0", "-0", "1.50", "388670939482157", "3886709394821578", "123456789012345678901234567890",
        "-12.000", "1e5", "2.5E-3", "1E+400", "0.1"}) {
    JsonDoc doc;
    ASSERT_TRUE(doc.parse(std::string("{\"n\":") + literal + "}")) << literal;
    EXPECT_EQ(doc.getText("n"), literal);
    JsonDoc bare;
    ASSERT_TRUE(bare.parse(literal)) << literal;
    EXPECT_EQ(bare.getText(""), literal);
  }
}

TEST(JsonDocRead, StringEscapesAndApostropheStrings) {
  JsonDoc doc;
  ASSERT_TRUE(
      doc.parse(R"({"s":"a\"b\\c\/d\b\f\n\r\t\u0041\u4E2D",'sign1':'x\'y"z','mixed':["p",'q'],)"
                R"('it\'s':1,"e\u0073c":"named with an escape"})"));
  EXPECT_EQ(doc.getText("s"), "a\"b\\c/d\b\f\n\r\tA" + L8("中"));
  EXPECT_EQ(doc.getText("sign1"), "x'y\"z");
  EXPECT_EQ(doc.getText("mixed[1]"), "q");
  EXPECT_EQ(doc.getText("it's"), "1");
  EXPECT_EQ(doc.getText("esc"), "named with an escape");

  JsonDoc reply;  // the signing reply, written the script way
  ASSERT_TRUE(reply.parse(
      "{'errno':0,'result':{'sign1':'d76e889b','sign3':'k\\\\ey','timestamp':1700000000}}"));
  EXPECT_EQ(reply.getText("result.sign1"), "d76e889b");
  EXPECT_EQ(reply.getText("result.sign3"), "k\\ey");
  EXPECT_EQ(reply.getText("result.timestamp"), "1700000000");
}

TEST(JsonDocRead, PathsWithEscapedFullStopsBracketsAndBackslashes) {
  JsonDoc doc;
  ASSERT_TRUE(doc.parse(R"({"a.b":{"c[1]":"x","d\\e":"y","":"empty"},"a":{"b":"plain"}})"));
  EXPECT_EQ(doc.getText("a\\.b.c\\[1\\]"), "x");
  EXPECT_EQ(doc.getText("a\\.b.d\\\\e"), "y");
  EXPECT_EQ(doc.getText("a.b"), "plain");
  EXPECT_EQ(doc.getText("a\\.b.d\\"), "");  // a trailing backslash escapes nothing
  EXPECT_EQ(doc.getText(EscapeJsonPathName("a.b") + "." + EscapeJsonPathName("c[1]")), "x");
  EXPECT_EQ(doc.getText(EscapeJsonPathName("a.b") + "." + EscapeJsonPathName("d\\e")), "y");

  // GBK trail bytes may be 0x5B-0x5D ("[", "\", "]"): they are half of a character,
  // never path syntax. 乗 is 81 5C in GBK, 乕 is 81 5B.
  const std::string name = L8("乗乕");
  ASSERT_EQ(name, "\x81\x5C\x81\x5B");
  EXPECT_EQ(EscapeJsonPathName(name), name);
  JsonDoc gbk;
  ASSERT_TRUE(gbk.parse("{\"" + name + "\":{\"k\":\"v\"}}"));
  EXPECT_EQ(gbk.getText(name + ".k"), "v");
}

TEST(JsonDocRead, LocalAndUtf8InputAndCharactersGbkCannotHold) {
  JsonDoc local;
  ASSERT_TRUE(local.parse(L8("{\"用户\":\"张三\",\"list\":[\"中文\"]}")));
  EXPECT_EQ(local.getText(L8("用户")), L8("张三"));
  EXPECT_EQ(local.getText("list[0]"), L8("中文"));

  JsonDoc utf8;
  ASSERT_TRUE(utf8.parseUtf8("\xEF\xBB\xBF{\"用户\":\"张三\",\"e\":\"a😀한中\"}"));  // with a BOM
  EXPECT_EQ(utf8.getText(L8("用户")), L8("张三"));
  // GBK holds neither the emoji nor the Hangul syllable: they come back as escapes,
  // the emoji as its surrogate pair, instead of question marks.
  EXPECT_EQ(utf8.getText("e"), "a\\ud83d\\ude00\\ud55c" + L8("中"));

  JsonDoc unicode;  // a file already decoded
  ASSERT_TRUE(unicode.parseUnicode(u"\uFEFF{\"用户\":\"张三\",\"e\":\"a😀\"}"));
  EXPECT_EQ(unicode.getText(L8("用户")), L8("张三"));
  EXPECT_EQ(unicode.getUnicode("e"), u"a😀");

  JsonDoc escaped;
  ASSERT_TRUE(escaped.parse(R"({"n":"\ud83d\ude00.mp4","lone":"\udc00x","zero":"a\u0000b"})"));
  EXPECT_EQ(escaped.getText("n"), "\\ud83d\\ude00.mp4");
  EXPECT_EQ(escaped.getText("lone"), "\\udc00x");
  EXPECT_EQ(escaped.getText("zero"), "a");  // local text ends at a NUL

  // The writer keeps them too, as escapes, so the output still reads back.
  EXPECT_EQ(escaped.getJson("n"), "\"\\ud83d\\ude00.mp4\"");
  JsonDoc again;
  ASSERT_TRUE(again.parse(escaped.toText()));
  EXPECT_EQ(again.getText("n"), "\\ud83d\\ude00.mp4");
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
    ASSERT_TRUE(doc.parse(kListing));
    EXPECT_FALSE(doc.parse(input)) << input.substr(0, 20);
    EXPECT_EQ(doc.toText(), "");
    EXPECT_EQ(doc.getText("list[0].fs_id"), "");
    EXPECT_EQ(doc.getJson(""), "");
    EXPECT_EQ(doc.count("list"), 0);
    EXPECT_FALSE(doc.parseUtf8(input)) << input.substr(0, 20);
    EXPECT_EQ(doc.count(""), 0);
  }
  // Text after a NUL is not part of the text.
  JsonDoc cut;
  EXPECT_TRUE(cut.parse(std::string("{\"a\":1}\0garbage", 15)));
  EXPECT_EQ(cut.getText("a"), "1");
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
  ASSERT_TRUE(doc.parse(reply));
  ASSERT_EQ(doc.count("list"), 1000);
  for (int i = 0; i < 1000; ++i) {
    const std::string at = "list[" + std::to_string(i) + "]";
    ASSERT_EQ(doc.getText(at + ".fs_id"), std::to_string(1000000000000000LL + i));
  }
  EXPECT_EQ(doc.getText("list[999].server_filename"), "f999");
  EXPECT_EQ(doc.getText("list[3].server_filename"), "f3");
  EXPECT_EQ(doc.getText("list[1000].server_filename"), "");

  // Writes after indexed reads keep the index right.
  doc.append("list", "{\"server_filename\":\"new\"}");
  doc.setJson("list[2]", "{\"server_filename\":\"replaced\"}");
  EXPECT_EQ(doc.getText("list[1000].server_filename"), "new");
  EXPECT_EQ(doc.getText("list[2].server_filename"), "replaced");
  EXPECT_EQ(doc.getText("list[2].fs_id"), "1000000000000002");  // merged into the object
  EXPECT_EQ(doc.count("list"), 1001);

  JsonDoc copy = doc;
  copy.setText("list[0].server_filename", "changed");
  EXPECT_EQ(doc.getText("list[0].server_filename"), "f0");
  EXPECT_EQ(copy.getText("list[0].server_filename"), "changed");
  EXPECT_EQ(copy.getText("list[999].server_filename"), "f999");
}

TEST(JsonDocRead, MembersBesideAListAreLookedUpByNameWhateverTheirNumber) {
  // A reply padded with 20 000 escaped members before "list"; one name twice, the
  // first of which counts, as in a small object.
  std::string reply = "{\"errno\":0";
  for (int i = 0; i < 20000; ++i)
    reply += ",\"k\\u0065y" + std::to_string(i) + "\":" + std::to_string(i);
  reply += ",\"key7\":\"second\",\"list\":[";
  for (int i = 0; i < 300; ++i) {
    if (i) reply += ",";
    reply += "{\"server_filename\":\"f" + std::to_string(i) +
             "\",\"isdir\":0,\"fs_id\":" + std::to_string(i) + "}";
  }
  reply += "]}";
  JsonDoc doc;
  ASSERT_TRUE(doc.parse(reply));
  ASSERT_EQ(doc.count("list"), 300);
  for (int i = 0; i < 300; ++i) {
    const std::string at = "list[" + std::to_string(i) + "].";
    ASSERT_EQ(doc.getText(at + "server_filename"), "f" + std::to_string(i));
    ASSERT_EQ(doc.getText(at + "fs_id"), std::to_string(i));
  }
  EXPECT_EQ(doc.getText("key7"), "7");
  EXPECT_EQ(doc.getText("key19999"), "19999");
  EXPECT_EQ(doc.getText("key20000"), "");
  EXPECT_EQ(doc.count(""), 20003);

  // Writes after a lookup keep the name index right.
  doc.setText("added", "a");
  doc.setJson("", "{\"key5\":\"five\",\"merged\":1}");
  doc.setNumber("key6", 66);
  EXPECT_EQ(doc.getText("added"), "a");
  EXPECT_EQ(doc.getText("key5"), "five");
  EXPECT_EQ(doc.getText("merged"), "1");
  EXPECT_EQ(doc.getText("key6"), "66");
  EXPECT_EQ(doc.count(""), 20005);
  doc.setJson("list", "{\"now\":\"an object\"}");
  EXPECT_EQ(doc.getText("list.now"), "an object");
  EXPECT_EQ(doc.getText("list[0].server_filename"), "");
}

TEST(JsonDocWrite, AccountFileIsWrittenCompactlyInOrder) {
  JsonDoc doc;
  doc.setText("dataname", "cookies");
  doc.setNumber("num", 2);
  doc.setJson("data", "[]");
  doc.setText("data[0].user", "skipped");  // data[0] is no object yet: ignored
  const char* users[] = {"张三", "li\"si"};
  for (int i = 0; i < 2; ++i) {
    const std::string at = "data[" + std::to_string(i) + "]";
    doc.setJson(at, "{}");
    doc.setText(at + ".user", L8(users[i]));
    doc.setText(at + ".cookies", "BDUSS=abc; STOKEN=def");
    doc.setText(at + ".uk", "1234567890");
    doc.setText(at + ".bdstoken", "");
  }
  EXPECT_EQ(
      doc.toText(),
      L8(R"({"dataname":"cookies","num":2,"data":[)"
         R"({"user":"张三","cookies":"BDUSS=abc; STOKEN=def","uk":"1234567890","bdstoken":""},)"
         R"({"user":"li\"si","cookies":"BDUSS=abc; STOKEN=def","uk":"1234567890","bdstoken":""}]})"));

  JsonDoc empty;
  empty.setText("dataname", "cookies");
  empty.setNumber("num", 0);
  empty.setJson("data", "[]");
  EXPECT_EQ(empty.toText(), R"({"dataname":"cookies","num":0,"data":[]})");
  EXPECT_EQ(JsonDoc().toText(), "");
}

TEST(JsonDocWrite, SetJsonAppendAndMissingSteps) {
  JsonDoc doc;
  ASSERT_TRUE(doc.parse(R"({"o":{"a":1,"b":[true]},"s":"text","arr":[1]})"));
  doc.setJson("o", "{}");  // an existing object stays as it is
  doc.setJson("o", "");    // so does the empty text
  EXPECT_EQ(doc.getJson("o"), R"({"a":1,"b":[true]})");
  doc.setJson("o", R"({"b":null,"c":'x'})");  // merged: b replaced in place, c added
  EXPECT_EQ(doc.getJson("o"), R"({"a":1,"b":null,"c":"x"})");
  doc.setJson("s", "{}");  // not an object: replaced
  doc.setJson("new", "");
  doc.setJson("arr", "{not json");  // changes nothing
  doc.append("arr", "2");
  doc.append("arr", "");
  doc.append("o.a", "[]");  // not an array: becomes one
  doc.append("fresh", "\"z\"");
  doc.setJson("arr[5]", "7");  // beyond the end: the gap is null
  doc.setText("nowhere.x", "y");
  doc.setText("s.x.y", "y");
  doc.setNumber("arr[0].x", 1);
  doc.append("missing.list", "1");
  EXPECT_EQ(
      doc.toText(),
      R"({"o":{"a":[[]],"b":null,"c":"x"},"s":{},"arr":[1,2,{},null,null,7],"new":{},"fresh":["z"]})");

  JsonDoc root;
  root.setJson("", "[1,'2']");
  EXPECT_EQ(root.toText(), R"([1,"2"])");
  root.setText("[2]", "3");
  EXPECT_EQ(root.toText(), R"([1,"2","3"])");
  JsonDoc arrayRoot;
  arrayRoot.setNumber("[0]", 5);
  EXPECT_EQ(arrayRoot.toText(), "[5]");
  JsonDoc deep;
  deep.setText("a.b", "x");  // the first step must already exist
  EXPECT_EQ(deep.toText(), "");
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
    doc.setNumber("n", c.value);
    EXPECT_EQ(doc.getText("n"), c.text) << c.text;
    EXPECT_EQ(doc.toText(), std::string("{\"n\":") + c.text + "}");
  }
  JsonDoc special;
  special.setNumber("nan", std::numeric_limits<double>::quiet_NaN());
  special.setNumber("inf", -std::numeric_limits<double>::infinity());
  EXPECT_EQ(special.toText(), R"({"nan":null,"inf":null})");

  // Parsed numbers keep their literal for GetText but are normalised when written.
  JsonDoc parsed;
  ASSERT_TRUE(parsed.parse(R"([1.50,-0,1e21,2.5E-3,1E+400,100,1e-400])"));
  EXPECT_EQ(parsed.toText(), "[1.5,0,1e+21,0.0025,null,100,0]");
  EXPECT_EQ(parsed.getJson("[0]"), "1.5");
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
    ASSERT_TRUE(doc.parse(c.json)) << c.json;
    EXPECT_EQ(doc.toText(), c.written) << c.json;
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
    doc.setText("v", text);
    EXPECT_EQ(doc.getText("v"), text);
    JsonDoc back;
    ASSERT_TRUE(back.parse(doc.toText())) << doc.toText();
    EXPECT_EQ(back.getText("v"), text);
  }
}

TEST(JsonDocWrite, SetTextBackslashesPassEscapesThrough) {
  JsonDoc doc;
  doc.setText("name", "\\u5f20\\u4e09");  // a name as the service writes it
  doc.setText("bad", "a\\x\\");
  doc.setText("mixed", "x\\\"y\\n");
  doc.setText("path", "C:\\\\dir");
  EXPECT_EQ(doc.getText("name"), "\\u5f20\\u4e09");
  EXPECT_EQ(doc.getJson("name"), "\"\\u5f20\\u4e09\"");
  EXPECT_EQ(doc.toText(),
            R"({"name":"\u5f20\u4e09","bad":"a\\x\\","mixed":"x\"y\n","path":"C:\\dir"})");
  JsonDoc back;
  ASSERT_TRUE(back.parse(doc.toText()));
  EXPECT_EQ(back.getText("name"), L8("张三"));
  EXPECT_EQ(back.getText("mixed"), "x\"y\n");
  EXPECT_EQ(back.getText("path"), "C:\\dir");

  // A backslash in a parsed string is an ordinary character and is escaped.
  JsonDoc parsed;
  ASSERT_TRUE(parsed.parse(R"({"p":"a\\u5f20"})"));
  EXPECT_EQ(parsed.getText("p"), "a\\u5f20");
  EXPECT_EQ(parsed.getUnicode("p"), u"a\\u5f20");
  EXPECT_EQ(parsed.toText(), R"({"p":"a\\u5f20"})");
}

}  // namespace
}  // namespace pansift
