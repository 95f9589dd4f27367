// Each fault switch answers instead of the endpoint, on that endpoint only.
#include <gtest/gtest.h>

#include <functional>
#include <memory>

#include "codec.h"
#include "sim_client.h"
#include "simulator.h"

namespace pansift::sim {
namespace {

using testing::HttpReply;
using testing::SimClient;

class SimFaults : public testing::SimTest {
 protected:
  void SetUp() override {
    cookies = sim.addAccount({.userName = "fault*user"});
    fileId = std::to_string(sim.addFile("fault*user", "/a.txt", 1));
    ASSERT_TRUE(sim.start());
    client = std::make_unique<SimClient>(sim.netdiskOrigin(), sim.caFile());
  }
  HttpReply list() { return client->get(testing::ListTarget("%2F"), cookies); }
  bool listWorks() { return list().has("{\"errno\":0,\"guid_info\""); }

  std::string cookies;
  std::string fileId;  // of /a.txt: a download asks about the login's own file
  std::unique_ptr<SimClient> client;
};

TEST_F(SimFaults, EachSwitchAnswersInsteadOfTheEndpoint) {
  EndpointFaults& f = sim.faults().list;
  struct Case {
    const char* name;
    std::function<void()> arm;
    std::function<void(const HttpReply&)> check;
    const char* fault;
  } cases[] = {
      {"empty reply", [&] { f.emptyReplies = 1; },
       [](const HttpReply& r) {
         EXPECT_TRUE(r.ok);
         EXPECT_EQ(r.status, 200);
         EXPECT_EQ(r.body, "");
       },
       "empty"},
      {"dropped connection", [&] { f.dropConnections = 1; },
       [](const HttpReply& r) { EXPECT_FALSE(r.ok); }, "drop"},
      {"reply cut mid-body", [&] { f.cutReplies = 1; },
       [](const HttpReply& r) { EXPECT_FALSE(r.ok); }, "cut"},
      {"errno 2", [&] { f.errno2Replies = 1; },
       [](const HttpReply& r) { EXPECT_EQ(r.body.rfind("{\"errno\":2,", 0), 0u) << r.body; },
       "errno 2"},
      {"url length", [&] { f.maxUrlLength = 100; },
       [](const HttpReply& r) {
         EXPECT_EQ(r.status, 414);
         EXPECT_TRUE(r.has("<title>414 Request-URI Too Large</title>"));
       },
       "url length"},
      {"latency", [&] { f.latencyMs = 30; },
       [](const HttpReply& r) { EXPECT_TRUE(r.has("{\"errno\":0,\"guid_info\"")); }, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    f.reset();
    c.arm();
    c.check(list());
    EXPECT_EQ(sim.log().last("/api/list")->fault, c.fault);
    // Counted faults fire once; the URL limit stays until reset.
    f.maxUrlLength = 0;
    EXPECT_TRUE(listWorks());
  }
  // Other endpoints keep answering while one endpoint misbehaves.
  f.errno2Probability = 1.0;
  EXPECT_FALSE(listWorks());
  EXPECT_FALSE(listWorks());
  EXPECT_TRUE(client->get(testing::FollowListTarget(), cookies).has("errno\":0,"));
  f.errno2Probability = 0.0;
  EXPECT_TRUE(listWorks());
}

TEST_F(SimFaults, AFailingFolderAnswersEmptyUntilReset) {
  sim.addFile("fault*user", "/bad/b.txt", 1);
  sim.faults().failListing("/bad");
  for (int i = 0; i < 3; ++i) {
    HttpReply r = client->get(testing::ListTarget("%2Fbad"), cookies);
    EXPECT_EQ(r.status, 200);
    EXPECT_EQ(r.body, "");
    EXPECT_EQ(sim.log().last("/api/list")->fault, "failing folder");
  }
  EXPECT_TRUE(listWorks());
  sim.faults().reset();
  EXPECT_TRUE(client->get(testing::ListTarget("%2Fbad"), cookies).has("b.txt"));
}

TEST_F(SimFaults, ProbabilitiesAreDrawnPerRequest) {
  sim.faults().list.emptyProbability = 0.5;
  int empty = 0;
  for (int i = 0; i < 40; ++i) empty += list().body.empty() ? 1 : 0;
  EXPECT_GT(empty, 5);
  EXPECT_LT(empty, 35);
}

TEST_F(SimFaults, RateLimitAnswersWithTheEscapedMessage) {
  sim.faults().download.rateLimitRequests = 2;
  sim.faults().download.rateLimitWindowMs = 600000;
  std::string target = testing::DownloadTarget(fileId, "x", "1");
  client->get(target, cookies);
  client->get(target, cookies);
  HttpReply limited = client->get(target, cookies);
  // The message travels as \u escapes; decoded it is the text the program looks for.
  EXPECT_TRUE(limited.has(R"(\u64cd\u4f5c\u9891\u7387\u592a\u5feb\u4e86)")) << limited.body;
  JsonValue v;
  ASSERT_TRUE(ParseJson(limited.body, v));
  EXPECT_NE(v.string("show_msg").find("操作频率太快了"), std::string::npos);
  EXPECT_EQ(sim.log().last()->fault, "rate limit");
  EXPECT_EQ(sim.log().rejected(), 0u);
  EXPECT_TRUE(listWorks());  // counted per endpoint
}

TEST_F(SimFaults, OverlongRequestLinesGetThe414Page) {
  // Past the HTTP library's own limit the same page comes back.
  HttpReply r = client->get(testing::DownloadTarget(std::string(9000, '1'), "x", "1"), cookies);
  EXPECT_EQ(r.status, 414);
  EXPECT_TRUE(r.has("<title>414 Request-URI Too Large</title>"));
  sim.faults().download.maxUrlLength = 300;
  r = client->get(testing::DownloadTarget(std::string(300, '1'), "x", "1"), cookies);
  EXPECT_TRUE(r.has("<title>414 Request-URI Too Large</title>"));
}

}  // namespace
}  // namespace pansift::sim
