#include "netdisk/identity.h"

#include <gtest/gtest.h>

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

TEST_F(IdentityTest, UnreachableServiceGivesNothing) {
  app.origins.netdisk = "https://127.0.0.1:1";
  AccountIdentity id = ReadIdentity(app, "BDUSS=x", 3);
  EXPECT_EQ(id.userName, "");
  EXPECT_EQ(id.uk, "");
  EXPECT_EQ(id.bdstoken, "");
  EXPECT_EQ(id.replyText, "");
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
