// The request syntax the simulated service holds every client to, endpoint by
// endpoint: the request as the program sends it is taken, and each malformed
// variant of it is refused with errno 2, changes nothing and is logged as the
// client's fault with its reason. Names are data: they reach the service only
// form-encoded, and a name pasted into a body unencoded is refused or names
// another file.
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "codec.h"
#include "sim_client.h"
#include "simulator.h"

namespace pansift::sim {
namespace {

using testing::HttpReply;
using testing::SimClient;

const char* const kUser = "严格*用户";
const char* const kForm = "application/x-www-form-urlencoded";

std::string Replace(std::string text, const std::string& from, const std::string& to) {
  size_t at = text.find(from);
  EXPECT_NE(at, std::string::npos) << from << " in " << text;
  if (at != std::string::npos) text.replace(at, from.size(), to);
  return text;
}

// One request and what the service makes of it.
struct Case {
  std::string what;
  std::string target;
  std::string body;       // a POST's; "" sends a GET
  std::string rejection;  // the start of the logged reason; "" when the request is taken
  std::string contentType = kForm;
};

class SimStrictRequests : public testing::SimTest {
 protected:
  void SetUp() override {
    ASSERT_TRUE(sim.start());
    cookies = sim.addAccount({.userName = kUser});
    token = sim.account(kUser)->bdstoken;
    fileId = std::to_string(sim.addFile(kUser, "/a.txt", 1));
    otherId = std::to_string(sim.addFile(kUser, "/b.txt", 1));
    sim.addFolder(kUser, "/dest");
    netdisk = std::make_unique<SimClient>(sim.netdiskOrigin(), sim.caFile());
  }

  HttpReply send(const Case& c) {
    return c.body.empty() && c.contentType == kForm
               ? netdisk->get(c.target, cookies)
               : netdisk->post(c.target, c.body, cookies, c.contentType);
  }

  // Sends each case (after `restore`) and checks the service's verdict on it;
  // `changed` tells whether the request did its work, which a refused one must not.
  void expectVerdicts(const std::vector<Case>& cases, const std::function<bool()>& changed,
                      const std::function<void()>& restore = {}) {
    for (const Case& c : cases) {
      SCOPED_TRACE(c.what);
      if (restore) restore();
      const std::uint64_t rejectedBefore = sim.log().rejected();
      HttpReply reply = send(c);
      const std::string logged = sim.log().last()->rejection;
      if (c.rejection.empty()) {
        EXPECT_EQ(logged, "");
        EXPECT_EQ(sim.log().rejected(), rejectedBefore);
        EXPECT_EQ(reply.body.rfind("{\"errno\":2,", 0), std::string::npos) << reply.body;
        if (changed) {
          EXPECT_TRUE(changed()) << reply.body;
        }
      } else {
        EXPECT_EQ(logged.rfind(c.rejection, 0), 0u) << logged;
        EXPECT_EQ(sim.log().rejected(), rejectedBefore + 1);
        EXPECT_EQ(reply.body.rfind("{\"errno\":2,", 0), 0u) << reply.body;
        if (changed) {
          EXPECT_FALSE(changed()) << reply.body;
        }
      }
    }
  }

  bool has(const std::string& path) const { return sim.find(kUser, path).has_value(); }
  void keep(const std::string& path) {
    if (!has(path)) sim.addFile(kUser, path, 1);
  }

  // A sign of this login whose Base64 holds "+", "/" and "=", percent-encoded,
  // and its timestamp.
  std::pair<std::string, std::string> signWithEveryEscape() {
    for (int fetch = 0; fetch < 200; ++fetch) {
      JsonValue v;
      EXPECT_TRUE(ParseJson(netdisk->get(testing::TemplateTarget(), cookies).body, v));
      const JsonValue* result = v.get("result");
      if (!result) break;
      const std::string sign = ComputeSign(result->string("sign3"), result->string("sign1"));
      if (sign.find('+') != std::string::npos && sign.find('/') != std::string::npos &&
          sign.find('=') != std::string::npos)
        return {PercentEncode(sign), result->string("timestamp")};
    }
    ADD_FAILURE() << "no sign with +, / and =";
    return {};
  }

  std::unique_ptr<SimClient> netdisk;
  std::string cookies, token, fileId, otherId;
};

TEST_F(SimStrictRequests, ADeleteIsTakenOnlyInTheFormTheServiceKnows) {
  expectRejections();
  const std::string target = testing::DeleteTarget(token);
  const std::string body = "filelist=%5B%22%2Fa.txt%22%5D";
  auto with = [&](const std::string& from, const std::string& to) {
    return Replace(target, from, to);
  };
  auto bodyWith = [&](const std::string& from, const std::string& to) {
    return Replace(body, from, to);
  };
  const std::vector<Case> cases = {
      {"as the program sends it", target, body, ""},
      {"asynchronous", with("async=0", "async=1"), body, ""},
      {"automatic", with("async=0", "async=2"), body, ""},
      {"the form's type with a charset", target, body, "",
       "application/x-www-form-urlencoded; charset=UTF-8"},
      {"the form's type in capitals", target, body, "", "Application/X-WWW-Form-Urlencoded"},
      {"escapes in lower case", target, "filelist=%5b%22%2fa.txt%22%5d", ""},
      {"an unknown async mode", with("async=0", "async=3"), body, "key async is '3'"},
      {"onnest other than fail", with("onnest=fail", "onnest=skip"), body,
       "key onnest is 'skip', expected 'fail'"},
      {"without onnest", with("&onnest=fail", ""), body, "missing key onnest"},
      {"a fresh log id instead of the fixed one", with("47999500603863712345", "1234567890123456"),
       body, "key dp-logid is '1234567890123456', expected 479995006038637 and 5 digits"},
      {"another prefix", with("47999500603863712345", "47999500603863812345"), body,
       "key dp-logid is '47999500603863812345'"},
      {"four digits after the prefix", with("47999500603863712345", "4799950060386371234"), body,
       "key dp-logid is '4799950060386371234'"},
      {"a plain-text body", target, body, "Content-Type is 'text/plain', expected", "text/plain"},
      {"a JSON body type", target, body, "Content-Type is 'application/json'", "application/json"},
      {"a raw slash", target, bodyWith("%2Fa.txt", "/a.txt"),
       "the form has a raw '/' at byte 16, which a form must encode"},
      {"raw quotes", target, "filelist=%5B\"%2Fa.txt\"%5D", "the form has a raw '\"' at byte 13"},
      {"raw brackets", target, "filelist=[%22%2Fa.txt%22]", "the form has a raw '[' at byte 10"},
      {"a raw space", target, bodyWith("a.txt", "a b.txt"), "the form has a raw byte 0x20"},
      {"raw UTF-8", target, bodyWith("a.txt", "中.txt"), "the form has a raw byte 0xE4"},
      {"a raw control character", target, bodyWith("a.txt", "a\x01.txt"),
       "the form has a raw byte 0x01"},
      {"a broken escape", target, "filelist=%5B%22%2Fa.txt%22%5", "the form has a '%' that starts"},
      {"a raw equals sign in the value", target, bodyWith("a.txt", "a=b.txt"),
       "the form has a raw '=' in a value"},
      {"a trailing ampersand", target, body + "&", "the form has an empty pair"},
      {"a key without a value", target, "filelist", "the form has a pair without '='"},
      {"another field", target, body + "&x=1", "unexpected key x"},
      {"no filelist", target, "list=%5B%22%2Fa.txt%22%5D", "missing key filelist"},
      {"objects instead of paths", target, "filelist=" + PercentEncode("[{\"path\":\"/a.txt\"}]"),
       "filelist of a delete is not of paths"},
  };
  expectVerdicts(
      cases, [&] { return !has("/a.txt"); }, [&] { keep("/a.txt"); });
}

TEST_F(SimStrictRequests, AMoveIsTakenOnlyInTheFormTheServiceKnows) {
  expectRejections();
  const std::string target = testing::MoveTarget(token);
  auto move = [](const std::string& members) {
    return "filelist=" + PercentEncode("[{" + members + "}]");
  };
  const std::string item = R"("path":"/a.txt","dest":"/dest")";
  const std::vector<Case> cases = {
      {"as the program sends it", target, testing::MoveBody("%2Fa.txt", "%2Fdest", "a.txt"), ""},
      {"members in another order", target, move(R"("newname":"a.txt","ondup":"newcopy",)" + item),
       ""},
      {"ondup fail", target, move(item + R"(,"ondup":"fail","newname":"f.txt")"), ""},
      {"asynchronous", Replace(target, "async=0", "async=1"),
       testing::MoveBody("%2Fa.txt", "%2Fdest", "a.txt"), "key async is '1', expected '0'"},
      {"automatic", Replace(target, "async=0", "async=2"),
       testing::MoveBody("%2Fa.txt", "%2Fdest", "a.txt"), "key async is '2', expected '0'"},
      {"the deletes' fixed log id", Replace(target, "1234567890123456", "47999500603863712345"),
       testing::MoveBody("%2Fa.txt", "%2Fdest", "a.txt"),
       "key dp-logid is '47999500603863712345', expected 16 digits"},
      {"onnest other than fail", Replace(target, "onnest=fail", "onnest=ok"),
       testing::MoveBody("%2Fa.txt", "%2Fdest", "a.txt"), "key onnest is 'ok'"},
      {"a JSON body type", target, testing::MoveBody("%2Fa.txt", "%2Fdest", "a.txt"),
       "Content-Type is 'application/json; charset=utf-8'", "application/json; charset=utf-8"},
      {"without ondup", target, move(item + R"(,"newname":"a.txt")"),
       "filelist of a move is not of {path,dest,ondup,newname}"},
      {"without newname", target, move(item + R"(,"ondup":"newcopy")"),
       "filelist of a move is not of"},
      {"a number for newname", target, move(item + R"(,"ondup":"newcopy","newname":1)"),
       "filelist of a move is not of"},
      {"another member", target, move(item + R"(,"ondup":"newcopy","newname":"a.txt","x":"y")"),
       "filelist of a move is not of"},
      {"newname twice", target,
       move(item + R"(,"ondup":"newcopy","newname":"a.txt","newname":"b.txt")"),
       "filelist of a move is not of"},
      {"an unknown ondup mode", target, move(item + R"(,"ondup":"rename","newname":"a.txt")"),
       "ondup 'rename' is none of newcopy, fail, overwrite"},
      {"paths instead of objects", target, "filelist=" + PercentEncode(R"(["/a.txt"])"),
       "filelist of a move is not of"},
      {"a raw colon", target,
       Replace(testing::MoveBody("%2Fa.txt", "%2Fdest", "a.txt"), "%3A", ":"),
       "the form has a raw ':'"},
  };
  expectVerdicts(
      cases, [&] { return !has("/a.txt"); }, [&] { keep("/a.txt"); });
}

TEST_F(SimStrictRequests, ACreateIsTakenOnlyInTheFormTheServiceKnows) {
  expectRejections();
  const std::string target = testing::CreateTarget(token);
  const std::string body = "path=%2Fmade&isdir=1&block_list=%5B%5D";
  const std::vector<Case> cases = {
      {"as the program sends it", target, body, ""},
      {"block_list in lower-case escapes", target, Replace(body, "%5B%5D", "%5b%5d"), ""},
      {"a raw block_list", target, Replace(body, "%5B%5D", "[]"), "the form has a raw '['"},
      {"a block_list with a block", target, Replace(body, "%5B%5D", "%5B%22x%22%5D"),
       "key block_list is '%5B%22x%22%5D', expected '[]' once decoded"},
      {"an empty block_list", target, Replace(body, "%5B%5D", ""), "key block_list is ''"},
      {"without block_list", target, "path=%2Fmade&isdir=1", "missing key block_list"},
      {"a raw slash in the path", target, Replace(body, "%2Fmade", "/made"),
       "the form has a raw '/'"},
      {"a raw space in the path", target, Replace(body, "made", "ma de"),
       "the form has a raw byte 0x20"},
      {"a path in GBK", target, Replace(body, "made", "%D6%D0"),
       "key path is not UTF-8 once decoded"},
      {"the form's type misspelt", target, body,
       "Content-Type is 'application/x-www-form-urlencode',", "application/x-www-form-urlencode"},
      {"the deletes' fixed log id", Replace(target, "1234567890123456", "47999500603863712345"),
       body, "key dp-logid is '47999500603863712345', expected 16 digits"},
  };
  expectVerdicts(cases, [&] {
    const bool made = has("/made");
    sim.withTree(kUser, [](FileTree& tree) { tree.remove("/made"); });
    return made;
  });
}

TEST_F(SimStrictRequests, TheSignMaterialIsAskedForAsTheWebPageAsks) {
  expectRejections();
  const std::string base =
      "/api/gettemplatevariable?clienttype=0&app_id=250528&web=1"
      "&dp-logid=1234567890123456&fields=";
  const std::vector<Case> cases = {
      {"as the program sends it", testing::TemplateTarget(), "", ""},
      {"sign2 alone", base + "[%22sign2%22]", "", ""},
      {"brackets and commas encoded", base + "%5B%22sign1%22%2C%22sign2%22%5D", "",
       "key fields is '%5B%22sign1%22%2C%22sign2%22%5D', expected "
       "[%22sign1%22,%22sign2%22,...] as the web page writes it"},
      {"the whole list encoded", base + "%5B%22sign1%22,%22sign2%22%5D", "", "key fields is"},
      {"a space after a comma", base + "[%22sign1%22,%20%22sign2%22]", "", "key fields is"},
      {"a name without quotes", base + "[sign1,%22sign2%22]", "", "key fields is"},
      {"a trailing comma", base + "[%22sign2%22,]", "", "key fields is"},
      {"without sign2", base + "[%22sign1%22,%22sign3%22,%22timestamp%22]", "",
       "key fields does not ask for sign2"},
      {"an empty list", base + "[]", "", "key fields is '[]'"},
      {"the deletes' fixed log id",
       Replace(testing::TemplateTarget(), "1234567890123456", "47999500603863712345"), "",
       "key dp-logid is '47999500603863712345', expected 16 digits"},
  };
  expectVerdicts(cases, {});
}

// The probe's fidlist is checked whole, every id of it, and its sign must arrive
// percent-encoded: a raw "+" is read as a space, so the service refuses the
// request instead of judging a sign it never got.
TEST_F(SimStrictRequests, ADownloadIsTakenOnlyWithItsListAndSignEncoded) {
  expectRejections();
  const auto signAndTime = signWithEveryEscape();
  const std::string sign = signAndTime.first;
  const std::string timestamp = signAndTime.second;
  ASSERT_FALSE(sign.empty());
  auto download = [&](const std::string& fids, const std::string& encodedSign) {
    return "/api/download?clienttype=0&app_id=250528&web=1&dp-logid=1234567890123456&fidlist=" +
           fids + "&type=dlink&vip=0&sign=" + encodedSign + "&timestamp=" + timestamp;
  };
  const std::string one = "%5B" + fileId + "%5D";
  const std::string listError = "key fidlist is '";
  const std::vector<Case> cases = {
      {"as the program sends it", download(one, sign), "", ""},
      {"two ids", download("%5B" + fileId + "%2C" + otherId + "%5D", sign), "", ""},
      {"escapes in lower case",
       download("%5b" + fileId + "%2c" + otherId + "%5d",
                Replace(Replace(Replace(sign, "%2B", "%2b"), "%2F", "%2f"), "%3D", "%3d")),
       "", ""},
      {"a raw plus in the sign", download(one, Replace(sign, "%2B", "+")), "", "key sign is '"},
      {"a raw slash in the sign", download(one, Replace(sign, "%2F", "/")), "", "key sign is '"},
      {"a raw equals sign in the sign", download(one, Replace(sign, "%3D", "=")), "",
       "key sign is '"},
      {"a space in the sign", download(one, Replace(sign, "%2B", "%20")), "", "key sign is '"},
      {"raw brackets", download("[" + fileId + "]", sign), "", listError + "[" + fileId},
      {"a raw comma", download("%5B" + fileId + "," + otherId + "%5D", sign), "", listError},
      {"a space after a comma", download("%5B" + fileId + "%2C%20" + otherId + "%5D", sign), "",
       listError},
      {"an id as a string", download("%5B%22" + fileId + "%22%5D", sign), "", listError},
      {"a negative id", download("%5B-" + fileId + "%5D", sign), "", listError},
      {"a fraction", download("%5B" + fileId + ".5%5D", sign), "", listError},
      {"a leading zero", download("%5B0" + fileId + "%5D", sign), "", listError},
      {"an empty list", download("%5B%5D", sign), "", listError},
      {"no list at all", download(fileId, sign), "", listError},
      {"the last of three ids broken",
       download("%5B" + fileId + "%2C" + otherId + "%2C" + fileId + "e1%5D", sign), "", listError},
      {"an id past 64 bits", download("%5B99999999999999999999999%5D", sign), "",
       "fidlist item 1 '99999999999999999999999' is no fs_id"},
  };
  expectVerdicts(cases, {});
}

// Names are data: encoded, each reaches exactly its file; pasted into a body as
// it stands, a name is refused, or, where it happens to be form syntax, names
// another file.
TEST_F(SimStrictRequests, NamesReachTheServiceOnlyFormEncoded) {
  expectRejections();
  enum class Pasted { Refused, AnotherFile, TheSameFile };
  struct Name {
    std::string name;
    Pasted pasted;
  } names[] = {
      {"Tom & Jerry.mp4", Pasted::Refused},  {"&amp;.mp4", Pasted::Refused},
      {"a=b.mp4", Pasted::Refused},          {"p+q.mp4", Pasted::AnotherFile},  // "+" is a space
      {"100%.mp4", Pasted::Refused},         {"%41.mp4", Pasted::AnotherFile},  // an escape of "A"
      {"two  spaces.mp4", Pasted::Refused},  {"say \"hi\".mp4", Pasted::Refused},
      {"back\\slash.mp4", Pasted::Refused},  {"movie\\u0031.mp4", Pasted::Refused},
      {"clip🎬.mp4", Pasted::Refused},        {"tab\t.mp4", Pasted::Refused},
      {"it's(1)*.mp4", Pasted::TheSameFile},  // nothing a form must encode
  };
  const std::string folder = "/名字";
  for (const Name& n : names) {
    SCOPED_TRACE(n.name);
    const std::string path = folder + "/" + n.name;
    sim.addFile(kUser, path, 1);

    // Encoded: a JSON writer, then the form's encoding.
    const std::uint64_t rejectedBefore = sim.log().rejected();
    HttpReply moved = netdisk->post(
        testing::MoveTarget(token),
        "filelist=" + PercentEncode("[{\"path\":" + JsonString(path) + ",\"dest\":\"/dest\"," +
                                    "\"ondup\":\"fail\",\"newname\":" + JsonString(n.name) + "}]"),
        cookies);
    EXPECT_TRUE(moved.has("{\"errno\":0,")) << moved.body;
    EXPECT_TRUE(has("/dest/" + n.name));
    HttpReply deleted = netdisk->post(
        testing::DeleteTarget(token),
        "filelist=" + PercentEncode("[" + JsonString("/dest/" + n.name) + "]"), cookies);
    EXPECT_TRUE(deleted.has("{\"errno\":0,")) << deleted.body;
    EXPECT_FALSE(has("/dest/" + n.name));
    HttpReply made =
        netdisk->post(testing::CreateTarget(token),
                      "path=" + PercentEncode(path) + "&isdir=1&block_list=%5B%5D", cookies);
    EXPECT_TRUE(made.has("\"status\":0,\"errno\":0,")) << made.body;
    EXPECT_TRUE(has(path));
    EXPECT_EQ(sim.log().rejected(), rejectedBefore);

    // Pasted: the path's folder encoded, the name as it stands.
    const std::string pastedPath = PercentEncode(folder + "/") + n.name;
    for (const std::string& body : {"filelist=%5B%22" + pastedPath + "%22%5D",
                                    "path=" + pastedPath + "%2Fsub&isdir=1&block_list=%5B%5D"}) {
      const bool isDelete = body.starts_with("filelist");
      SCOPED_TRACE(body);
      const std::uint64_t before = sim.log().rejected();
      HttpReply reply = netdisk->post(
          isDelete ? testing::DeleteTarget(token) : testing::CreateTarget(token), body, cookies);
      EXPECT_EQ(sim.log().rejected(), before + (n.pasted == Pasted::Refused ? 1 : 0));
      if (n.pasted == Pasted::Refused) {
        EXPECT_TRUE(reply.has("{\"errno\":2,")) << reply.body;
        EXPECT_TRUE(has(path));
        EXPECT_FALSE(has(path + "/sub"));
      } else if (n.pasted == Pasted::AnotherFile) {
        EXPECT_TRUE(has(path));
        EXPECT_FALSE(has(path + "/sub"));
      } else {
        EXPECT_EQ(has(path), !isDelete);
        EXPECT_EQ(has(path + "/sub"), !isDelete);
      }
    }
  }
}

}  // namespace
}  // namespace pansift::sim
