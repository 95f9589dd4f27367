#include "netdisk/identity.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

#include "net/http.h"
#include "netdisk/conventions.h"
#include "support/back_ends.h"
#include "support/sim_app.h"
#include "util/codepage.h"

namespace pansift {
namespace {

using sim::RootRedirect;

class IdentityTest : public ::testing::Test {
 protected:
  testing::SimApp env;
  sim::Simulator& sim = env.sim;
  AppState& app = env.app;
  void SetUp() override { ASSERT_TRUE(env.started); }
};

TEST_F(IdentityTest, LiveLoginThroughEveryKindOfRedirect) {
  std::string cookies =
      sim.addAccount({.userName = "测试*用户", .uk = "4401234567", .bdstoken = "tok123"});
  for (RootRedirect redirect : {RootRedirect::None, RootRedirect::Relative, RootRedirect::Absolute,
                                RootRedirect::Both, RootRedirect::NoLocation}) {
    sim.faults().root.redirect = redirect;
    AccountIdentity id = ReadIdentity(app, cookies, 3);
    EXPECT_EQ(id.userName, L8("测试_用户")) << static_cast<int>(redirect);
    EXPECT_EQ(id.uk, "4401234567");
    EXPECT_EQ(id.bdstoken, "tok123");
    EXPECT_NE(id.replyText.find("\"errno\":0,"), std::string::npos);
    EXPECT_EQ(id.transferError, "");
  }
  // One "/" chain and one liveness check per read; nothing malformed was sent.
  EXPECT_EQ(sim.log().count("/mbox/relation/getfollowlist"), 5);
  EXPECT_EQ(sim.log().rejected(), 0);
  auto follow = sim.log().last("/mbox/relation/getfollowlist");
  ASSERT_TRUE(follow);
  EXPECT_EQ(follow->cookies, cookies);
  EXPECT_EQ(follow->header("User-Agent"),
            "Mozilla/5.0 (Windows NT 10.0; WOW64) AppleWebKit/537.36 (KHTML, like Gecko) "
            "Chrome/94.0.4606.71 Safari/537.36");
}

TEST_F(IdentityTest, ExpiredLoginKeepsTheNameButLosesUkAndToken) {
  std::string cookies = sim.addAccount({.userName = "old", .login = sim::LoginState::Expired});
  AccountIdentity id = ReadIdentity(app, cookies, 3);
  EXPECT_EQ(id.userName, "old");
  EXPECT_EQ(id.uk, "");
  EXPECT_EQ(id.bdstoken, "");
  EXPECT_NE(id.replyText.find("errno\":-6,"), std::string::npos);
  EXPECT_EQ(sim.log().count("/mbox/relation/getfollowlist"), 1);  // -6 is an answer, not a failure
}

TEST_F(IdentityTest, UnknownLoginTriesTwiceWhenAskedForNoAttempts) {
  sim.faults().root.redirect = RootRedirect::None;
  AccountIdentity id = ReadIdentity(app, "BDUSS=nobody; BAIDUID=x", 0);
  EXPECT_EQ(id.userName, "");
  EXPECT_EQ(id.uk, "");
  EXPECT_EQ(id.replyText, L8("{\"errno\":-6,\"}，请重新登陆帐号后再试。"));
  EXPECT_EQ(sim.log().count("/"), 2);
  EXPECT_EQ(sim.log().count("/mbox/relation/getfollowlist"), 0);
}

// Nothing to show of the login, but why the service could not be reached: in the
// identity, the shared record, the log and err.txt.
TEST_F(IdentityTest, UnreachableServiceGivesNothingButTheReason) {
  app.origins.netdisk = "https://127.0.0.1:1";
  AccountIdentity id = ReadIdentity(app, "BDUSS=x", 3);
  EXPECT_EQ(id.userName, "");
  EXPECT_EQ(id.uk, "");
  EXPECT_EQ(id.bdstoken, "");
  EXPECT_EQ(id.replyText, "");
  EXPECT_TRUE(ServiceUnreachable(id));
  EXPECT_TRUE(id.transferError.starts_with("127.0.0.1:1: ")) << id.transferError;
  EXPECT_EQ(app.lastTransferError.get(), id.transferError);
  const std::string line = "无法访问网盘服务：" + id.transferError + "\r\n";
  EXPECT_NE(LocalToUtf8(app.log.text()).find(line), std::string::npos) << app.log.text();
  std::ifstream errors(app.stateFile("err.txt"), std::ios::binary);
  EXPECT_EQ(LocalToUtf8(std::string(std::istreambuf_iterator<char>(errors), {})), line);
}

TEST_F(IdentityTest, AFailingLivenessCheckIsRetriedAndItsReplyReported) {
  std::string cookies = sim.addAccount({.userName = "busy"});
  sim.faults().followList.errno2Replies = 3;
  AccountIdentity id = ReadIdentity(app, cookies, 3);
  EXPECT_EQ(id.userName, "busy");
  EXPECT_NE(id.uk, "");  // the fields of the last attempt stay
  EXPECT_NE(id.replyText.find("\"errno\":2"), std::string::npos);
  EXPECT_EQ(sim.log().count("/mbox/relation/getfollowlist"), 3);
}

}  // namespace
}  // namespace pansift

namespace pansift {
namespace {

TEST(ServiceUrls, OnlyTheServicesOwnHttpsOriginsMayHaveTheLogin) {
  testing::SimApp env;
  AppState& app = env.app;
  app.origins = {"https://pan.example", "https://passport.example:8443", "https://www.example"};
  struct Case {
    const char* url;
    bool own;
  } cases[] = {
      {"https://pan.example/disk/main", true},
      {"HTTPS://PAN.example/disk/main", true},
      {"https://passport.example:8443/v2/?login", true},
      {"https://www.example", true},
      {"http://pan.example/disk/main", false},
      {"http://evil.example/?back=https://pan.example/", false},
      {"https://passport.example/v2/", false},  // another port
      {"https://pan.example.evil.example/", false},
      {"https://pan.example@evil.example/", false},
      {"https://pan.example\\@evil.example/", false},
      {"//pan.example/disk/main", false},
      {"/disk/main", false},
      {"", false},
  };
  for (const Case& c : cases) EXPECT_EQ(IsServiceUrl(app, c.url), c.own) << c.url;
}

using sim::RootRedirect;

// The identity read through each back end, against a service that misbehaves.
class IdentityPerBackEnd : public ::testing::TestWithParam<Transport> {
 protected:
  void SetUp() override {
    ASSERT_TRUE(env.started);
    before = SelectedTransport();
    SelectTransport(GetParam() == Transport::Curl);
    cookies = sim.addAccount({.userName = "victim", .uk = "5501234567"});
  }
  void TearDown() override { SelectTransport(before == Transport::Curl); }

  testing::SimApp env;
  sim::Simulator& sim = env.sim;
  AppState& app = env.app;
  Transport before = Transport::Platform;
  std::string cookies;
};

TEST_P(IdentityPerBackEnd, ARedirectOffTheServiceFailsTheReadAndCarriesNoLogin) {
  for (sim::RedirectAway away : {sim::RedirectAway::Foreign, sim::RedirectAway::PlainHttp}) {
    SCOPED_TRACE(static_cast<int>(away));
    sim.log().clear();
    sim.faults().root.redirectAway = away;
    AccountIdentity id = ReadIdentity(app, cookies, 3);
    EXPECT_EQ(id.userName, "");
    EXPECT_EQ(id.uk, "");
    EXPECT_EQ(id.replyText, "");
    EXPECT_EQ(sim.log().count("/"), 3u) << "one root page per attempt";
    for (const sim::LoggedRequest& seen : sim.log().entries("bystander"))
      EXPECT_EQ(seen.cookies, "") << seen.target;
    EXPECT_TRUE(sim.log().entries("bystander").empty());
  }
}

TEST_P(IdentityPerBackEnd, ADeadLoginSentToThePassportReadsAsDead) {
  sim.faults().root.deadLoginToPassport = true;
  AccountIdentity id = ReadIdentity(app, "BDUSS=nobody; STOKEN=x", 2);
  EXPECT_EQ(id.userName, "");
  EXPECT_EQ(id.replyText, L8("{\"errno\":-6,\"}，请重新登陆帐号后再试。"));
  // The passport is the service's own: it may see the cookie string.
  std::vector<sim::LoggedRequest> passport = sim.log().entries("login");
  ASSERT_EQ(passport.size(), 2u);
  EXPECT_EQ(passport[0].origin, sim::Origin::Passport);
  EXPECT_EQ(passport[0].cookies, "BDUSS=nobody; STOKEN=x");
  // A live login is not redirected.
  EXPECT_EQ(ReadIdentity(app, cookies, 1).uk, "5501234567");
}

TEST_P(IdentityPerBackEnd, ARedirectLoopEndsAfterTenHopsPerAttempt) {
  sim.faults().root.redirect = RootRedirect::None;
  sim.faults().root.redirectAway = sim::RedirectAway::Loop;
  AccountIdentity id = ReadIdentity(app, cookies, 2);
  EXPECT_EQ(id.userName, "");
  EXPECT_EQ(sim.log().count("/"), 2u * 11);
  EXPECT_EQ(sim.log().count("/mbox/relation/getfollowlist"), 0u);
}

TEST_P(IdentityPerBackEnd, UserDataWithoutUkAsksNoLivenessCheck) {
  sim.faults().root.withoutUk = true;
  AccountIdentity id = ReadIdentity(app, cookies, 3);
  EXPECT_EQ(id.userName, "victim");
  EXPECT_EQ(id.uk, "");
  EXPECT_NE(id.replyText.find("\"username\":\"victim\""), std::string::npos);
  EXPECT_EQ(id.replyText.find("\"uk\""), std::string::npos);
  EXPECT_EQ(sim.log().count("/mbox/relation/getfollowlist"), 0u);
}

// Replies that set cookies change nothing the program sends: every request carries
// the account's cookie string exactly as it was stored.
TEST_P(IdentityPerBackEnd, SetCookieRepliesLeaveTheCookieStringAsStored) {
  for (sim::EndpointFaults* f :
       {static_cast<sim::EndpointFaults*>(&sim.faults().root), &sim.faults().followList})
    f->setCookies = true;
  AccountIdentity first = ReadIdentity(app, cookies, 3);
  AccountIdentity second = ReadIdentity(app, cookies, 3);
  EXPECT_EQ(first.uk, "5501234567");
  EXPECT_EQ(second.uk, "5501234567");
  std::vector<sim::LoggedRequest> seen = sim.log().entries();
  ASSERT_GE(seen.size(), 4u);
  for (const sim::LoggedRequest& request : seen)
    EXPECT_EQ(request.cookies, cookies) << request.target;
  EXPECT_EQ(sim.log().rejected(), 0u);
}

INSTANTIATE_TEST_SUITE_P(BothBackEnds, IdentityPerBackEnd, testing::kBothBackEnds,
                         testing::BackEndName);

}  // namespace
}  // namespace pansift
