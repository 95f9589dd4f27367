// Names that break hand-made requests, in the simulator's replies and in the
// requests it reads: a listing carries them as the service's JSON does, and a
// delete or move touches exactly the file that its JSON-written filelist names,
// beside a sibling whose name differs only by an entity word, a quote, a
// backslash, literal "\u0031" text, "%20", a control character or an emoji.
#include <gtest/gtest.h>

#include <memory>
#include <set>
#include <string>
#include <vector>

#include "codec.h"
#include "sim_client.h"
#include "simulator.h"

namespace pansift::sim {
namespace {

using testing::HttpReply;
using testing::SimClient;

const char* const kUser = "名字*用户";

// A JSON string with only the escapes JSON requires: UTF-8 kept as it is.
std::string MinimalJsonString(std::string_view utf8) {
  static const char* hex = "0123456789abcdef";
  std::string out = "\"";
  for (char ch : utf8) {
    auto c = static_cast<unsigned char>(ch);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += ch;
    } else if (c < 0x20) {
      out += "\\u00";
      out += hex[c >> 4];
      out += hex[c & 0xF];
    } else {
      out += ch;
    }
  }
  return out + "\"";
}

// Both ways a JSON writer may write a name; the service reads them alike.
struct Writer {
  const char* what;
  std::string (*write)(std::string_view);
};
const Writer kWriters[] = {{"service style (\\u escapes, \\/)", &JsonString},
                           {"minimal escapes, UTF-8 as it is", &MinimalJsonString}};

const std::string kFolder = "/gen/" + std::string(kSiblingFolder);
const std::string kDest = "/去处";

// A name's path in the folder of similar names.
std::string In(std::string_view name) {
  return kFolder + "/" + std::string(name);
}

// The paths of a reply's info array, and its errno.
std::pair<std::string, std::vector<std::string>> Answer(const HttpReply& reply) {
  JsonValue v;
  if (!ParseJson(reply.body, v)) return {"unreadable: " + reply.body, {}};
  std::vector<std::string> paths;
  if (const JsonValue* info = v.get("info")) {
    for (const JsonValue& item : info->items) paths.push_back(item.string("path"));
  }
  return {v.string("errno"), paths};
}

class SimNames : public testing::SimTest {
 protected:
  void SetUp() override {
    ASSERT_TRUE(sim.start());
    cookies = sim.addAccount({.userName = kUser});
    token = sim.account(kUser)->bdstoken;
    GenerateOptions generate;
    generate.files = 10;
    generate.depth = 0;
    generate.fanout = 0;
    generate.blocked = 0.5;
    generate.seed = 3;
    generate.under = "/gen";
    sim.generate(kUser, generate);
    sim.addFolder(kUser, kDest);
    netdisk = std::make_unique<SimClient>(sim.netdiskOrigin(), sim.caFile());
  }

  HttpReply deletePaths(const std::vector<std::string>& paths, const Writer& writer) {
    std::string json = "[";
    for (const std::string& p : paths) json += (json.size() > 1 ? "," : "") + writer.write(p);
    return postDelete("filelist=" + PercentEncode(json + "]"));
  }
  HttpReply postDelete(const std::string& body) {
    return netdisk->post(testing::DeleteTarget(token), body, cookies);
  }
  HttpReply postMove(const std::string& json) {
    return netdisk->post(testing::MoveTarget(token), "filelist=" + PercentEncode(json), cookies);
  }
  bool has(const std::string& path) const { return sim.find(kUser, path).has_value(); }

  std::unique_ptr<SimClient> netdisk;
  std::string cookies, token;
};

TEST_F(SimNames, ListingCarriesEveryNameAsValidJsonWithTheServicesEscapes) {
  HttpReply r =
      netdisk->get(testing::ListTarget(PercentEncode(kFolder), 1, 100, "name", "0"), cookies);
  ASSERT_EQ(r.status, 200);
  for (char c : r.body) {
    ASSERT_GE(static_cast<unsigned char>(c), 0x20u) << "a raw control character: " << r.body;
  }
  JsonValue v;
  std::string error;
  ASSERT_TRUE(ParseJson(r.body, v, &error)) << error << "\n" << r.body;
  std::set<std::string> listed, expected;
  for (const JsonValue& e : v.get("list")->items) {
    listed.insert(e.string("server_filename"));
    EXPECT_EQ(e.string("path"), In(e.string("server_filename")));
  }
  for (const SiblingPair& pair : SiblingPairs()) {
    expected.insert(std::string(pair.tricky));
    expected.insert(std::string(pair.plain));
  }
  EXPECT_EQ(listed, expected);
  // As the service writes them: quote and backslash escaped, control characters as
  // \t or \u00XX, an emoji as a surrogate pair, entity words and %20 as they are.
  for (const char* written : {R"("say \"hi\".mp4")", R"("v.mp4\",\"w.mp4")", R"("back\\slash.mp4")",
                              R"("movie\\u0031.mp4")", R"("tab\t.mp4")", R"("ctl\u0001.mp4")",
                              R"("esc\u001b[0m.mp4")", R"("clip\ud83c\udfac.mp4")",
                              R"("Tom &amp; Jerry.mp4")", R"("a%20b.mp4")", R"("camp;1.mp4")"}) {
    EXPECT_TRUE(r.has(written)) << written;
  }
}

TEST_F(SimNames, ADeleteRemovesExactlyTheFileItsFilelistNames) {
  for (const Writer& writer : kWriters) {
    for (const SiblingPair& pair : SiblingPairs()) {
      for (bool tricky : {true, false}) {
        const std::string target = In(tricky ? pair.tricky : pair.plain);
        const std::string sibling = In(tricky ? pair.plain : pair.tricky);
        SCOPED_TRACE(std::string(writer.what) + ", " + pair.what + ", deleting " + target);
        auto [code, paths] = Answer(deletePaths({target}, writer));
        EXPECT_EQ(code, "0");
        EXPECT_EQ(paths, std::vector<std::string>{target});
        EXPECT_FALSE(has(target));
        EXPECT_TRUE(has(sibling));
        sim.addFile(kUser, target, 1);
      }
    }
  }
  // Several tricky names in one filelist: each is one path.
  std::vector<std::string> several;
  for (const SiblingPair& pair : SiblingPairs()) several.push_back(In(pair.tricky));
  auto [code, paths] = Answer(deletePaths(several, kWriters[1]));
  EXPECT_EQ(code, "0");
  EXPECT_EQ(paths, several);
  for (const SiblingPair& pair : SiblingPairs()) {
    EXPECT_FALSE(has(In(pair.tricky))) << pair.what;
    EXPECT_TRUE(has(In(pair.plain))) << pair.what;
  }
  EXPECT_EQ(sim.log().rejected(), 0u);
}

TEST_F(SimNames, AMoveTakesItsPathDestAndNewNameExactly) {
  const std::string source = In("Tom &amp; Jerry.mp4");
  const std::string newName = "x&amp;y \"z\" \\u0031\t😀.mp4";
  auto [code, paths] =
      Answer(postMove("[{\"path\":" + JsonString(source) + ",\"dest\":" + MinimalJsonString(kDest) +
                      ",\"ondup\":\"newcopy\",\"newname\":" + MinimalJsonString(newName) + "}]"));
  EXPECT_EQ(code, "0");
  EXPECT_TRUE(has(kDest + "/" + newName));
  EXPECT_FALSE(has(source));
  EXPECT_TRUE(has(In("Tom & Jerry.mp4")));
  EXPECT_EQ(sim.log().rejected(), 0u);
}

// A path names the entry whose own path it is; no other form of it does.
TEST_F(SimNames, NoOtherFormOfAPathStandsForTheFile) {
  const std::string file = In("Tom &amp; Jerry.mp4");
  for (const std::string& form :
       {file + "/", "/gen//" + std::string(kSiblingFolder) + "/Tom &amp; Jerry.mp4", file.substr(1),
        In("Tom &amp;amp; Jerry.mp4"), In("Tom &amp; Jerry.mp4 ")}) {
    SCOPED_TRACE(form);
    auto [code, paths] = Answer(deletePaths({form}, kWriters[0]));
    EXPECT_EQ(code, "12");
    EXPECT_EQ(paths, std::vector<std::string>{form});
  }
  // A move's dest too: the folder with a trailing slash is not the folder.
  auto [code, paths] =
      Answer(postMove("[{\"path\":" + JsonString(file) + ",\"dest\":" + JsonString(kDest + "/") +
                      ",\"ondup\":\"newcopy\",\"newname\":\"t.mp4\"}]"));
  EXPECT_EQ(code, "12");
  EXPECT_TRUE(has(file));
  EXPECT_TRUE(has(In("Tom & Jerry.mp4")));
  EXPECT_FALSE(has(kDest + "/t.mp4"));
}

// The filelist is read by a JSON parser, as the service reads it: names pasted into
// it by hand either break it (refused, nothing touched) or say something else —
// which is why the program must write it with a JSON writer.
TEST_F(SimNames, AFilelistIsReadAsJsonWhateverItWasMeantToSay) {
  expectRejections();  // sends requests the service refuses
  struct Case {
    const char* what;
    std::string body;  // the form body as sent
    bool refused;
    std::vector<std::string> removed;
    std::vector<std::string> kept;
  };
  auto pasted = [](const std::string& path) {
    return "filelist=" + PercentEncode("[\"" + path + "\"]");
  };
  const Case cases[] = {
      {"a raw control character", pasted(In("ctl\x01.mp4")), true, {}, {In("ctl\x01.mp4")}},
      {"a raw tab", pasted(In("tab\t.mp4")), true, {}, {In("tab\t.mp4"), In("tab.mp4")}},
      {"a backslash that is no escape",
       pasted(In("back\\slash.mp4")),
       true,
       {},
       {In("back\\slash.mp4"), In("backslash.mp4")}},
      {"quotes that close the path: two paths, the first the sibling",
       pasted(In("v.mp4\",\"w.mp4")),
       false,
       {In("v.mp4")},
       {In("v.mp4\",\"w.mp4")}},
      {"literal \\u0031 read as an escape: the sibling",
       pasted(In("movie\\u0031.mp4")),
       false,
       {In("movie1.mp4")},
       {In("movie\\u0031.mp4")}},
      {"an ampersand not encoded cuts the form value",
       "filelist=%5B%22" + PercentEncode(kFolder) + "%2FTom & Jerry.mp4%22%5D",
       true,
       {},
       {In("Tom & Jerry.mp4")}},
      {"a plus not encoded is a space: the sibling",
       "filelist=%5B%22" + PercentEncode(kFolder) + "%2Fp+q.mp4%22%5D",
       false,
       {In("p q.mp4")},
       {In("p+q.mp4")}},
      {"a delete of objects",
       "filelist=" + PercentEncode("[{\"path\":\"" + In("c1.mp4") + "\"}]"),
       true,
       {},
       {In("c1.mp4")}},
      {"a delete of a number", "filelist=%5B1%5D", true, {}, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::uint64_t rejectedBefore = sim.log().rejected();
    HttpReply reply = postDelete(c.body);
    EXPECT_EQ(sim.log().rejected(), rejectedBefore + (c.refused ? 1 : 0)) << reply.body;
    if (c.refused) {
      EXPECT_TRUE(reply.has("{\"errno\":2,")) << reply.body;
    }
    for (const std::string& path : c.removed) EXPECT_FALSE(has(path)) << path;
    for (const std::string& path : c.kept) EXPECT_TRUE(has(path)) << path;
  }

  // A move names objects with a path and a dest, all strings.
  for (const std::string& json :
       {std::string("[\"") + In("c1.mp4") + "\"]", "[{\"path\":" + JsonString(In("c1.mp4")) + "}]",
        "[{\"path\":" + JsonString(In("c1.mp4")) + ",\"dest\":7}]"}) {
    SCOPED_TRACE(json);
    const std::uint64_t rejectedBefore = sim.log().rejected();
    EXPECT_TRUE(postMove(json).has("{\"errno\":2,"));
    EXPECT_EQ(sim.log().rejected(), rejectedBefore + 1);
    EXPECT_TRUE(has(In("c1.mp4")));
  }
}

}  // namespace
}  // namespace pansift::sim
