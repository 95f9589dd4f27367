#include "netdisk/sign.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "codec.h"
#include "support/sim_app.h"

namespace pansift {
namespace {

TEST(ComputeSign, KnownVectorAndEveryPaddingAgreeWithTheService) {
  EXPECT_EQ(
      ComputeSign("d76e889b6aafd3087ac3bd56f4d4053a", "3fce7b5a87d8238bc7619ea3f592b5695dde7e3c"),
      "cQYtRX3fvPdf7ZYw2J34rCDfuznxe5KMPVIhP5k0sR5NVCMIr1qzMQ==");
  EXPECT_EQ(ComputeSign("key", ""), "");
  EXPECT_EQ(ComputeSign("", "data"), "");
  // The simulator's own implementation is the other side: lengths 1 to 9 cover
  // both kinds of filler and none, a one-byte key and keys longer than 256 bytes.
  const std::string data = "0123456789";
  for (const std::string& key :
       {std::string("k"), std::string("d76e889b"), std::string(300, 'z')}) {
    for (size_t n = 1; n < data.size(); ++n) {
      SCOPED_TRACE(key.size() * 100 + n);
      EXPECT_EQ(ComputeSign(key, data.substr(0, n)), sim::ComputeSign(key, data.substr(0, n)));
    }
  }
}

class SignTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(env.started);
    account = {"signer", env.sim.addAccount({.userName = "signer"}), {}};
  }
  std::uint64_t fetches() { return env.sim.log().count("/api/gettemplatevariable"); }

  testing::SimApp env;
  AppState& app = env.app;
  Credentials account;
};

TEST_F(SignTest, OneFetchServesUntilForcedOrCleared) {
  SignResult first = GetSign(app, account, false);
  ASSERT_TRUE(first.ok);
  EXPECT_EQ(first.sign, app.signCacheSign);
  EXPECT_EQ(first.timestamp, app.signCacheTimestamp);
  EXPECT_EQ(GetSign(app, account, false).sign, first.sign);
  EXPECT_EQ(fetches(), 1u);

  SignResult forced = GetSign(app, account, true);
  EXPECT_TRUE(forced.ok);
  EXPECT_NE(forced.sign, first.sign);
  EXPECT_EQ(fetches(), 2u);

  ClearSignCache(app);
  EXPECT_TRUE(app.signCacheSign.empty() && app.signCacheTimestamp.empty());
  EXPECT_TRUE(GetSign(app, account, false).ok);
  EXPECT_EQ(fetches(), 3u);
  auto request = env.sim.log().last("/api/gettemplatevariable");
  ASSERT_TRUE(request);
  EXPECT_NE(request->target.find("&fields=[%22sign1%22,%22sign2%22,%22sign3%22,%22timestamp%22]"),
            std::string::npos);
  EXPECT_EQ(env.sim.log().rejected(), 0u);
}

// A sign belongs to the login that fetched it: another account's request fetches
// its own, with its own cookies, and the first account's next request does too.
TEST_F(SignTest, TheCacheServesOnlyTheLoginThatFetchedIt) {
  const Credentials other{"other", env.sim.addAccount({.userName = "other"}), {}};
  ASSERT_TRUE(GetSign(app, account, false).ok);
  SignResult theirs = GetSign(app, other, false);
  ASSERT_TRUE(theirs.ok);
  EXPECT_EQ(fetches(), 2u);
  EXPECT_EQ(GetSign(app, other, false).sign, theirs.sign);
  EXPECT_EQ(fetches(), 2u);
  EXPECT_TRUE(GetSign(app, account, false).ok);
  EXPECT_EQ(fetches(), 3u);
  std::vector<std::string> fetchedBy;
  for (const sim::LoggedRequest& r : env.sim.log().entries("/api/gettemplatevariable"))
    fetchedBy.push_back(r.account);
  EXPECT_EQ(fetchedBy, (std::vector<std::string>{"signer", "other", "signer"}));
}

TEST_F(SignTest, FailedFetchesEmptyTheCache) {
  ASSERT_TRUE(GetSign(app, account, false).ok);
  // Empty replies: five attempts, no wait, nothing cached.
  env.sim.faults().templateVariable.emptyReplies = 5;
  SignResult empty = GetSign(app, account, true);
  EXPECT_FALSE(empty.ok);
  EXPECT_EQ(fetches(), 6u);
  EXPECT_TRUE(app.signCacheSign.empty() && app.signCacheTimestamp.empty());
  EXPECT_EQ(env.clock.sleptMs(), 0);
  // A reply without result stops the attempts and empties the cache as well.
  env.sim.faults().templateVariable.errno2Replies = 1;
  EXPECT_FALSE(GetSign(app, account, false).ok);
  EXPECT_EQ(fetches(), 7u);
  EXPECT_TRUE(GetSign(app, account, false).ok);
  EXPECT_EQ(fetches(), 8u);
}

TEST_F(SignTest, WorkersCallingTogetherShareOneFetch) {
  env.sim.faults().templateVariable.latencyMs = 100;
  std::vector<SignResult> results(5);
  std::vector<std::thread> workers;
  for (SignResult& result : results)
    workers.emplace_back([&] { result = GetSign(app, account, false); });
  for (std::thread& w : workers) w.join();
  EXPECT_EQ(fetches(), 1u);
  for (const SignResult& r : results) {
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(r.sign, results[0].sign);
  }
}

}  // namespace
}  // namespace pansift
