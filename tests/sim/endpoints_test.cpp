// The simulated service's endpoints, success and error answers, checked by the
// exact markers the program searches replies for.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <memory>

#include "codec.h"
#include "sim_client.h"
#include "simulator.h"

namespace pansift::sim {
namespace {

using testing::SimClient;

const char* const kLive = "网盘*用户**";
const char* const kExpired = "过期用户";
const char* const kLiveToken = "3f1b0c0e6a5d4e2b9c8d7f6e5a4b3c21";

std::string DataFile(const std::string& name) {
  return (std::filesystem::path(PANSIFT_TEST_DATA_DIR) / name).string();
}

std::string Between(const std::string& text, const std::string& left, const std::string& right) {
  size_t a = text.find(left);
  if (a == std::string::npos) return {};
  a += left.size();
  size_t b = text.find(right, a);
  return b == std::string::npos ? std::string() : text.substr(a, b - a);
}

class SimEndpoints : public testing::SimTest {
 protected:
  void SetUp() override {
    std::string error;
    ASSERT_TRUE(sim.loadFixture(DataFile("sim/basic.json"), &error)) << error;
    ASSERT_TRUE(sim.start());
    netdisk = std::make_unique<SimClient>(sim.netdiskOrigin(), sim.caFile());
    live = sim.cookies(kLive);
    expired = sim.cookies(kExpired);
  }

  // A sign and timestamp fetched and computed the way the program does.
  std::pair<std::string, std::string> freshSign() {
    testing::HttpReply r = netdisk->get(testing::TemplateTarget(), live);
    JsonValue v;
    EXPECT_TRUE(ParseJson(r.body, v)) << r.body;
    const JsonValue* result = v.get("result");
    if (!result) return {};
    return {PercentEncode(ComputeSign(result->string("sign3"), result->string("sign1"))),
            result->string("timestamp")};
  }
  testing::HttpReply download(const std::string& fids,
                              const std::pair<std::string, std::string>& sign,
                              const std::string& cookies) {
    return netdisk->get(testing::DownloadTarget(fids, sign.first, sign.second), cookies);
  }

  std::unique_ptr<SimClient> netdisk;
  std::string live, expired;
};

TEST_F(SimEndpoints, RootPageRedirectsAndCarriesTheLoginsUserData) {
  struct Case {
    RootRedirect mode;
    std::vector<std::string> locations;  // as sent; "@" stands for the origin
  } cases[] = {
      {RootRedirect::None, {}},
      {RootRedirect::Relative, {"/disk/main"}},
      {RootRedirect::Absolute, {"@/disk/main"}},
      {RootRedirect::Both, {"/disk/home", "@/disk/main"}},
  };
  for (const Case& c : cases) {
    sim.faults().root.redirect = c.mode;
    std::string target = "/";
    testing::HttpReply r;
    std::vector<std::string> seen;
    for (int hop = 0; hop <= 10; ++hop) {
      r = netdisk->get(target, live);
      if (r.status != 302) break;
      std::string location = r.header("Location");
      seen.push_back(location.rfind(sim.netdiskOrigin(), 0) == 0
                         ? "@" + location.substr(sim.netdiskOrigin().size())
                         : location);
      target = location.rfind("https://", 0) == 0 ? location.substr(sim.netdiskOrigin().size())
                                                  : location;
    }
    EXPECT_EQ(seen, c.locations);
    std::string user = Between(r.body, "\"userInfo\":", "};");
    EXPECT_EQ(Between(user, "\"username\":\"", "\""), kLive);
    EXPECT_EQ(Between(user, "\"uk\":\"", "\""), "1098765432");
    EXPECT_EQ(Between(user, "\"bdstoken\":\"", "\""), kLiveToken);
  }

  // A 302 without Location carries the page itself.
  sim.faults().root.redirect = RootRedirect::NoLocation;
  testing::HttpReply r = netdisk->get("/", live);
  EXPECT_EQ(r.status, 302);
  EXPECT_EQ(r.header("Location"), "");
  EXPECT_TRUE(r.has("\"userInfo\":{"));

  // An expired login still shows its user; a missing or unknown one shows none.
  sim.faults().root.redirect = RootRedirect::None;
  EXPECT_EQ(
      Between(Between(netdisk->get("/", expired).body, "\"userInfo\":", "};"), "\"uk\":\"", "\""),
      "2098765432");
  EXPECT_FALSE(netdisk->get("/").has("userInfo"));
  EXPECT_FALSE(netdisk->get("/", "BDUSS=unknown; STOKEN=x").has("userInfo"));
}

TEST_F(SimEndpoints, FollowListTellsALiveLoginFromADeadOne) {
  expectRejections();  // sends requests the service refuses
  EXPECT_TRUE(netdisk->get(testing::FollowListTarget(), live).has("errno\":0,"));
  EXPECT_TRUE(netdisk->get(testing::FollowListTarget(), expired).has("errno\":-6,"));
  EXPECT_TRUE(netdisk->get(testing::FollowListTarget(), "BDUSS=nobody").has("errno\":-6,"));
  EXPECT_EQ(sim.log().rejected(), 0u);
  // A request without the log id is refused and on record as such.
  testing::HttpReply bad = netdisk->get(
      "/mbox/relation/getfollowlist?clienttype=0&app_id=250528&web=1&start=0&limit=10", live);
  EXPECT_FALSE(bad.has("errno\":0,"));
  EXPECT_EQ(sim.log().rejected(), 1u);
  EXPECT_EQ(sim.log().last()->rejection, "missing key dp-logid");
}

TEST_F(SimEndpoints, ListingAnswersInTheServicesShapeAndPages) {
  expectRejections();  // sends requests the service refuses
  testing::HttpReply root = netdisk->get(testing::ListTarget("%2F", 1, 100, "name", "0"), live);
  EXPECT_EQ(root.body.rfind("{\"errno\":0,\"guid_info\":\"\",\"list\":[{\"server_filename\":\"", 0),
            0u)
      << root.body;
  EXPECT_TRUE(root.has(
      R"("server_filename":"\u7535\u5f71 2023","isdir":1,"path":"\/\u7535\u5f71 2023","size":0,"fs_id":)"));
  EXPECT_TRUE(root.has(
      R"("server_filename":"readme.txt","isdir":0,"path":"\/readme.txt","size":100,"fs_id":388670939482162,)"));
  EXPECT_EQ(root.body.substr(root.body.size() - 10), ",\"guid\":0}");

  // dir decoding: "+" for a space, then page by page.
  std::string movies = "%2F%E7%94%B5%E5%BD%B1+2023";
  testing::HttpReply first = netdisk->get(testing::ListTarget(movies, 1, 2, "name", "0"), live);
  testing::HttpReply second = netdisk->get(testing::ListTarget(movies, 2, 2, "name", "0"), live);
  JsonValue a, b;
  ASSERT_TRUE(ParseJson(first.body, a));
  ASSERT_TRUE(ParseJson(second.body, b));
  ASSERT_EQ(a.get("list")->items.size(), 2u);
  ASSERT_EQ(b.get("list")->items.size(), 1u);
  EXPECT_EQ(a.get("list")->items[0].string("server_filename"), "a&b's, [1].mp4");
  EXPECT_EQ(b.get("list")->items[0].string("path"), "/电影 2023/😀 emoji~name.mp4");
  EXPECT_TRUE(second.has(R"(\ud83d\ude00 emoji~name.mp4)"));

  // The move operation's folder test has a form of its own.
  EXPECT_TRUE(
      netdisk
          ->get("/api/"
                "list?clienttype=0&app_id=250528&web=1&dp-logid=1234567890123456&order=time&desc=1"
                "&dir=%2F%E7%A7%BB%E5%8A%A8%E7%9B%AE%E6%A0%87&num=100&page=1",
                live)
          .has("{\"errno\":0,"));

  struct Case {
    std::string dir;
    const std::string* cookies;
    const char* marker;
  } cases[] = {
      {"%2F", &expired, "{\"errno\":-6,"},
      {"%2Fmissing", &live, "{\"errno\":-9,\""},
      {"%2Freadme.txt", &live, "{\"errno\":-9,\""},
      {"%2Fa%2F%2Fb", &live, "{\"errno\":-7,\""},
  };
  for (const Case& c : cases) {
    testing::HttpReply r = netdisk->get(testing::ListTarget(c.dir), *c.cookies);
    EXPECT_EQ(r.body.rfind(c.marker, 0), 0u) << c.dir << " " << r.body;
  }
  EXPECT_TRUE(netdisk->get(testing::ListTarget("%2F"), "BDUSS=nobody").has("{\"errno\":-6,"));
  // An unencoded dir is refused: the service expects the encoded slash.
  netdisk->get(testing::ListTarget("/"), live);
  EXPECT_EQ(sim.log().rejected(), 1u);
}

TEST_F(SimEndpoints, SignedDownloadAnswersByTheBlockedFlag) {
  testing::HttpReply material = netdisk->get(testing::TemplateTarget(), live);
  for (const char* key : {"\"sign1\":\"", "\"sign2\":\"function", "\"sign3\":\"", "\"timestamp\":"})
    EXPECT_TRUE(material.has(key)) << key;
  EXPECT_EQ(material.body.rfind("{\"errno\":0,\"request_id\":", 0), 0u);
  auto sign = freshSign();

  const std::string plain = "388670939482158";
  const std::string blocked = "388670939482157";
  EXPECT_EQ(
      download(plain + "%2C388670939482160", sign, live).body.rfind("{\"errno\":0,\"request_id", 0),
      0u);
  EXPECT_EQ(
      download(plain + "%2C" + blocked, sign, live).body.rfind("{\"errno\":-1,\"request_id", 0),
      0u);
  EXPECT_EQ(download(plain, {sign.first + "A", sign.second}, live)
                .body.rfind("{\"errno\":113,\"request_id\":", 0),
            0u);
  EXPECT_EQ(
      download(plain, {sign.first, "12345"}, live).body.rfind("{\"errno\":113,\"request_id\":", 0),
      0u);
  EXPECT_TRUE(download(plain, sign, expired).has("{\"errno\":-6,"));

  // A sign used up is refused as expired until a fresh one is fetched.
  sim.faults().download.signUses = 2;
  auto limited = freshSign();
  EXPECT_TRUE(download(plain, limited, live).has("{\"errno\":0,\"request_id"));
  EXPECT_TRUE(download(plain, limited, live).has("{\"errno\":0,\"request_id"));
  EXPECT_EQ(download(plain, limited, live).body.rfind("{\"errno\":112,\"request_id\":", 0), 0u);
  auto renewed = freshSign();
  EXPECT_NE(renewed.first, limited.first);
  EXPECT_TRUE(download(plain, renewed, live).has("{\"errno\":0,\"request_id"));
  EXPECT_EQ(sim.log().rejected(), 0u);
}

TEST_F(SimEndpoints, DeleteAnswersForEachOutcome) {
  expectRejections();  // sends requests the service refuses
  const std::string movie =
      "%2F%E7%94%B5%E5%BD%B1+2023%2Fa%26b%27s%2C+%5B1%5D.mp4";  // /电影 2023/a&b's, [1].mp4
  auto& fm = sim.faults().fileManager;

  fm.identityCheck = true;
  EXPECT_TRUE(netdisk->post(testing::DeleteTarget(kLiveToken), testing::DeleteBody(movie), live)
                  .has("{\"errno\":132,"));
  fm.identityCheck = false;

  fm.busyDeletes = 1;
  testing::HttpReply busy =
      netdisk->post(testing::DeleteTarget(kLiveToken), testing::DeleteBody(movie), live);
  EXPECT_TRUE(busy.has("{\"errno\":12,\"info") && busy.has("{\"errno\":111,")) << busy.body;
  fm.busyDeletes = 1;
  fm.busyCode = 31034;
  EXPECT_TRUE(netdisk->post(testing::DeleteTarget(kLiveToken), testing::DeleteBody(movie), live)
                  .has("\"errno\":31034,"));
  EXPECT_TRUE(sim.find(kLive, "/电影 2023/a&b's, [1].mp4"));

  testing::HttpReply done =
      netdisk->post(testing::DeleteTarget(kLiveToken), testing::DeleteBody(movie), live);
  EXPECT_EQ(
      done.body.rfind(
          R"({"errno":0,"info":[{"errno":0,"path":"\/\u7535\u5f71 2023\/a&b's, [1].mp4"}])", 0),
      0u)
      << done.body;
  EXPECT_FALSE(sim.find(kLive, "/电影 2023/a&b's, [1].mp4"));

  testing::HttpReply missing =
      netdisk->post(testing::DeleteTarget(kLiveToken), testing::DeleteBody(movie), live);
  EXPECT_TRUE(missing.has("{\"errno\":12,\"info\":[{\"errno\":-9,\"path\":\"")) << missing.body;

  testing::HttpReply async = netdisk->post(testing::DeleteTarget(kLiveToken, "1"),
                                           testing::DeleteBody("%2Freadme.txt"), live);
  EXPECT_TRUE(async.has("\"errno\":0,\"info\":[],\"request_id")) << async.body;
  EXPECT_FALSE(sim.find(kLive, "/readme.txt"));

  // A folder goes with everything below it.
  EXPECT_TRUE(netdisk
                  ->post(testing::DeleteTarget(kLiveToken),
                         testing::DeleteBody("%2F%E6%96%87%E6%A1%A3"), live)
                  .has("{\"errno\":0,\"info\":[{\"errno\":0,"));
  EXPECT_FALSE(sim.find(kLive, "/文档/子目录/deep.txt"));

  // Someone else's bdstoken or a dead login changes nothing.
  EXPECT_TRUE(netdisk
                  ->post(testing::DeleteTarget("wrong"),
                         testing::DeleteBody("%2F%E7%A7%BB%E5%8A%A8%E7%9B%AE%E6%A0%87"), live)
                  .has("{\"errno\":-6,"));
  EXPECT_TRUE(
      netdisk->post(testing::DeleteTarget(kLiveToken), testing::DeleteBody("%2Fold.txt"), expired)
          .has("{\"errno\":-6,"));
  EXPECT_TRUE(sim.find(kLive, "/移动目标"));
  EXPECT_TRUE(sim.find(kExpired, "/old.txt"));
}

TEST_F(SimEndpoints, MoveAndCreate) {
  const std::string target = "%2F%E7%A7%BB%E5%8A%A8%E7%9B%AE%E6%A0%87";  // /移动目标
  testing::HttpReply moved = netdisk->post(
      testing::MoveTarget(kLiveToken),
      testing::MoveBody("%2F%E7%94%B5%E5%BD%B1+2023%2F%E6%99%AE%E9%80%9A+%E8%A7%86%E9%A2%91.mkv",
                        target, "%E6%99%AE%E9%80%9A+%E8%A7%86%E9%A2%91.mkv"),
      live);
  JsonValue v;
  ASSERT_TRUE(ParseJson(moved.body, v)) << moved.body;
  EXPECT_EQ(v.string("errno"), "0");
  EXPECT_TRUE(sim.find(kLive, "/移动目标/普通 视频.mkv"));

  // newcopy: a second file of the same name is kept beside the first.
  sim.addFile(kLive, "/普通 视频.mkv", 5);
  netdisk->post(testing::MoveTarget(kLiveToken),
                testing::MoveBody("%2F%E6%99%AE%E9%80%9A+%E8%A7%86%E9%A2%91.mkv", target,
                                  "%E6%99%AE%E9%80%9A+%E8%A7%86%E9%A2%91.mkv"),
                live);
  EXPECT_TRUE(sim.find(kLive, "/移动目标/普通 视频(1).mkv"));

  testing::HttpReply gone = netdisk->post(
      testing::MoveTarget(kLiveToken), testing::MoveBody("%2Fnope.txt", target, "nope.txt"), live);
  EXPECT_TRUE(gone.has("{\"errno\":12,\"info\":[{\"errno\":-9,\"path\":\"")) << gone.body;

  // Create answers with the path made, which differs when the name is taken.
  testing::HttpReply made = netdisk->post(testing::CreateTarget(kLiveToken),
                                          "path=" + target + "&isdir=1&block_list=%5B%5D", live);
  EXPECT_TRUE(made.has("\"status\":0,\"errno\":0,\"")) << made.body;
  EXPECT_EQ(Between(made.body, "\"path\":\"", "\""), R"(\/\u79fb\u52a8\u76ee\u6807(1))");
  testing::HttpReply fresh =
      netdisk->post(testing::CreateTarget(kLiveToken),
                    "path=%2Fnew+folder%2Fsub&isdir=1&block_list=%5B%5D", live);
  EXPECT_EQ(Between(fresh.body, "\"path\":\"", "\""), R"(\/new folder\/sub)");
  EXPECT_TRUE(sim.find(kLive, "/new folder/sub"));
  EXPECT_FALSE(
      netdisk
          ->post(testing::CreateTarget(kLiveToken), "path=relative&isdir=1&block_list=%5B%5D", live)
          .has("\"status\":0,\"errno\":0,\""));
  EXPECT_TRUE(
      netdisk
          ->post(testing::CreateTarget(kLiveToken), "path=%2Fx&isdir=1&block_list=%5B%5D", expired)
          .has("{\"errno\":-6,"));
  EXPECT_EQ(sim.log().rejected(), 0u);
}

TEST_F(SimEndpoints, LoginPagesSetCookiesThatTheNetdiskOriginAccepts) {
  SimClient passport(sim.passportOrigin(), sim.caFile());
  std::string back = sim.netdiskOrigin() + "/";
  std::string encodedBack = PercentEncode(back);
  testing::HttpReply page = passport.get("/v2/?login&tpl=service_feedback&u=" + encodedBack);
  EXPECT_EQ(page.status, 200);
  EXPECT_TRUE(page.has("<form id=\"login\" method=\"post\" action=\"/v2/api/?login\">"));
  EXPECT_TRUE(page.has("value=\"" + back + "\""));
  EXPECT_TRUE(page.has("id=\"login-2098765432\""));

  sim.setLogin(kLive, LoginState::Expired);
  testing::HttpReply wrong = passport.post("/v2/api/?login", "username=nobody&u=" + encodedBack);
  EXPECT_EQ(wrong.status, 200);
  EXPECT_EQ(wrong.header("Set-Cookie"), "");

  testing::HttpReply in = passport.post(
      "/v2/api/?login", "username=" + PercentEncode(kLive) + "&password=x&u=" + encodedBack);
  EXPECT_EQ(in.status, 302);
  EXPECT_EQ(in.header("Location"), back);
  std::string cookies;
  for (auto [it, end] = in.headers.equal_range("Set-Cookie"); it != end; ++it) {
    EXPECT_EQ(it->second.find("domain="),
              std::string::npos);  // host cookies: every port of 127.0.0.1
    cookies += (cookies.empty() ? "" : "; ") + it->second.substr(0, it->second.find(';'));
  }
  EXPECT_NE(cookies.find("BDUSS=bduss-live-0123456789"), std::string::npos);
  EXPECT_NE(cookies.find("STOKEN=stoken-live-abcdef"), std::string::npos);
  // Logging in again makes the login live.
  EXPECT_TRUE(netdisk->get(testing::FollowListTarget(), cookies).has("errno\":0,"));

  // The Netdisk origin's own login page goes back to its redirect target.
  std::string main = sim.netdiskOrigin() + "/disk/main";
  testing::HttpReply own = netdisk->post("/login?redirecturl=" + PercentEncode(main),
                                         "username=" + PercentEncode(kExpired));
  EXPECT_EQ(own.status, 302);
  EXPECT_EQ(own.header("Location"), main);

  SimClient portal(sim.portalOrigin(), sim.caFile());
  testing::HttpReply home = portal.get("/");
  EXPECT_TRUE(home.has(">网盘</a>"));
  EXPECT_TRUE(home.has("target=\"_blank\""));  // the netdisk opens in a new window
  EXPECT_TRUE(home.has(sim.passportOrigin() + "/v2/?login"));
}

TEST_F(SimEndpoints, TheLogKeepsRequestsAsReceived) {
  expectRejections();  // sends requests the service refuses
  std::string target = testing::ListTarget("%2F%E7%94%B5%E5%BD%B1+2023%7E", 1, 100, "name", "1");
  netdisk->get(target, live);
  netdisk->post(testing::DeleteTarget(kLiveToken), testing::DeleteBody("%2Fnope"), live);
  netdisk->get("/no/such/thing", live);

  auto lists = sim.log().entries("/api/list");
  ASSERT_EQ(lists.size(), 1u);
  EXPECT_EQ(lists[0].target, target);
  EXPECT_EQ(lists[0].path, "/api/list");
  EXPECT_EQ(lists[0].query, target.substr(target.find('?') + 1));
  EXPECT_EQ(lists[0].method, "GET");
  EXPECT_EQ(lists[0].cookies, live);
  EXPECT_EQ(lists[0].account, kLive);
  EXPECT_EQ(lists[0].status, 200);
  EXPECT_EQ(lists[0].origin, Origin::Netdisk);

  auto deletes = sim.log().entries("/api/filemanager");
  ASSERT_EQ(deletes.size(), 1u);
  EXPECT_EQ(deletes[0].body, "filelist=%5B%22%2Fnope%22%5D");
  EXPECT_EQ(deletes[0].header("content-type"), "application/x-www-form-urlencoded");

  EXPECT_EQ(sim.log().count("/api/list"), 1u);
  EXPECT_EQ(sim.log().count("/no/such/thing"), 1u);
  EXPECT_EQ(sim.log().last()->status, 404);
  EXPECT_EQ(sim.log().total(), 3u);
  sim.log().clear();
  EXPECT_EQ(sim.log().count("/api/list"), 0u);

  // A browser asks for the page's icon by itself: no fault of the client's.
  EXPECT_EQ(netdisk->get("/favicon.ico").status, 404);
  EXPECT_EQ(sim.log().last()->rejection, "");
  EXPECT_EQ(sim.log().last()->status, 404);
}

}  // namespace
}  // namespace pansift::sim
