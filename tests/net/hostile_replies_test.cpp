// What the transport does when the other side misbehaves, against the simulator:
// redirects to a foreign host or to plain http (the login must not follow), replies
// cut off half-way, and bodies far larger than any real reply. Both back ends.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <memory>
#include <string>
#include <vector>

#include "net/http.h"
#include "simulator.h"
#include "support/back_ends.h"
#include "util/text.h"

namespace pansift {
namespace {

using sim::CutMode;
using sim::Origin;
using sim::RedirectAway;

constexpr const char* kListQuery =
    "/api/list?order=time&desc=1&showempty=0&web=1&page=1&num=100&dir=%2F"
    "&t=0.9874196068828893&channel=chunlei&web=1&app_id=250528&bdstoken=&clienttype=0";

class HostileReplies : public ::testing::TestWithParam<Transport> {
 protected:
  static void SetUpTestSuite() {
    sim_ = new sim::Simulator();
    ASSERT_TRUE(sim_->start());
    setenv("PANSIFT_CA_FILE", sim_->caFile().c_str(), 1);
    cookies_ = new std::string(sim_->addAccount({.userName = "hostile"}));
    for (int i = 0; i < 30; ++i) sim_->addFile("hostile", "/f" + std::to_string(i) + ".txt", 1);
  }
  static void TearDownTestSuite() {
    CloseIdleConnections();  // else the simulator's stop waits for each to time out
    delete sim_;
    delete cookies_;
    sim_ = nullptr;
  }
  void SetUp() override {
    sim_->faults().reset();
    sim_->log().clear();
  }
  // The simulator serves the whole suite: each test answers for its own requests,
  // every one of which the service must take.
  void TearDown() override {
    std::vector<std::string> rejected;
    for (const sim::LoggedRequest& r : sim_->log().entries()) {
      if (!r.rejection.empty()) rejected.push_back(r.target + ": " + r.rejection);
    }
    EXPECT_EQ(rejected, std::vector<std::string>{});
  }

  HttpResponse list(int timeoutMs = 0) {
    HttpRequest request;
    request.url = sim_->netdiskOrigin() + kListQuery;
    request.cookies = *cookies_;
    request.timeoutMs = timeoutMs;
    return SendRequestVia(GetParam(), request);
  }
  // Every request a bystander got, and the cookies it carried.
  static std::vector<sim::LoggedRequest> bystanderRequests() {
    return sim_->log().entries("bystander");
  }
  bool curl() const { return GetParam() == Transport::Curl; }

  static sim::Simulator* sim_;
  static std::string* cookies_;
};

sim::Simulator* HostileReplies::sim_ = nullptr;
std::string* HostileReplies::cookies_ = nullptr;

TEST_P(HostileReplies, ARedirectToAForeignHostIsFollowedWithoutTheLogin) {
  sim_->faults().list.redirectAway = RedirectAway::Foreign;
  HttpResponse response = list();
  EXPECT_EQ(response.status, 200);
  EXPECT_EQ(response.body, "bystander");
  std::vector<sim::LoggedRequest> seen = bystanderRequests();
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0].origin, Origin::Foreign);
  EXPECT_EQ(seen[0].cookies, "") << "the login went to another host";
  // The service itself still got the cookies with the first request.
  EXPECT_EQ(sim_->log().last("/api/list")->cookies, *cookies_);
}

TEST_P(HostileReplies, ARedirectDownToPlainHttpIsNotFollowed) {
  sim_->faults().list.redirectAway = RedirectAway::PlainHttp;
  HttpResponse response = list();
  EXPECT_EQ(response.status, 302);
  EXPECT_EQ(FindText(TextBetween(response.headers, "Location: ", "\r\n"), "http://"), 1);
  EXPECT_TRUE(bystanderRequests().empty());
}

TEST_P(HostileReplies, ARedirectLoopIsAFailedTransfer) {
  sim_->faults().list.redirectAway = RedirectAway::Loop;
  HttpResponse response = list();
  EXPECT_EQ(response.status, 0);
  EXPECT_EQ(response.body, "");
  EXPECT_GT(sim_->log().count("/api/list"), 5u);
}

// A reply cut off after half of its body: no part of it comes back, so callers
// retry instead of reading a truncated listing as a complete one.
TEST_P(HostileReplies, AReplyCutOffHalfWayGivesNoBody) {
  struct Case {
    const char* what;
    CutMode mode;
    int timeoutMs;
  } cases[] = {
      {"reset", CutMode::Reset, 0},
      {"stall until the time-out", CutMode::Stall, 400},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    sim_->faults().list.cutMode = c.mode;
    sim_->faults().list.cutReplies = 1;
    HttpResponse response = list(c.timeoutMs);
    EXPECT_EQ(response.status, 0);
    EXPECT_EQ(response.body, "");
    EXPECT_EQ(response.headers, "");
    EXPECT_EQ(response.cookies, curl() ? *cookies_ : "");
    EXPECT_NE(sim_->log().last("/api/list")->fault.find("cut"), std::string::npos);
    // The next, whole reply is read as usual.
    EXPECT_EQ(FindText(list().body, "{\"errno\":0,"), 1);
  }
}

TEST_P(HostileReplies, BodiesAreCappedAfterDecompression) {
  // Gzip-encoded for the curl back end (a few kilobytes on the wire), plain for
  // the other.
  sim_->faults().list.inflatedBytes = 1 << 20;
  HttpResponse fits = list(60000);
  EXPECT_EQ(fits.status, 200);
  EXPECT_EQ(fits.body.size(), 1u << 20);
  EXPECT_EQ(FindText(fits.body, "{\"errno\":0,"), 1);

  sim_->faults().list.inflatedBytes = kMaxReplyBodyBytes + 1;
  HttpResponse tooLarge = list(60000);
  EXPECT_EQ(tooLarge.status, 0);
  EXPECT_EQ(tooLarge.body, "");
  EXPECT_EQ(tooLarge.headers, "");
}

INSTANTIATE_TEST_SUITE_P(BothBackEnds, HostileReplies, testing::kBothBackEnds,
                         testing::BackEndName);

}  // namespace
}  // namespace pansift
