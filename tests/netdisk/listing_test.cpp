#include "netdisk/listing.h"

#include <gtest/gtest.h>

#include <set>

#include "net/http.h"
#include "support/back_ends.h"
#include "support/sim_app.h"
#include "util/codepage.h"
#include "util/files.h"
#include "util/text.h"

namespace pansift {
namespace {

TEST(ListingDir, StoredPathsAreDecodedThenEncoded) {
  struct Case {
    std::string stored;
    const char* dir;
  } cases[] = {
      {"/", "%2F"},
      {L8("/电影 2023"), "%2F%E7%94%B5%E5%BD%B1+2023"},
      {"/a%20b%7ec", "%2Fa%2520b%257ec"},  // a name's "%20" is part of the name
      {"/Tom&amp;Jerry&#44;(1)", "%2FTom%26Jerry%2C%281%29"},
      {"/x&amp;amp;y", "%2Fx%26amp%3By"},  // stored twice-encoded: one decode here
      {"/emoji\\ud83d\\ude00", "%2Femoji%F0%9F%98%80"},
      {"/it&apos;s/~", "%2Fit%27s%2F%7E"},
  };
  for (const Case& c : cases) EXPECT_EQ(FolderPathToDir(c.stored), c.dir) << c.stored;
  EXPECT_EQ(TreeNamesToDir({u"电影", u"a b/c"}), "%2F%E7%94%B5%E5%BD%B1%2Fa+b%2Fc");
}

TEST(ListingUrls, FollowTheSortOrder) {
  struct Case {
    ListingOrder order;
    const char* root;
    const char* node;
  } cases[] = {
      {{"name", "0"},
       "order=name&desc=0",
       "&t=0.9227398003716567&channel=chunlei&web=1&app_id=250528&bdstoken=&logid=&clienttype=0"},
      {{"name", "1"},
       "order=name&desc=1",
       "&t=0.9227398003716567&channel=chunlei&web=1&app_id=250528&bdstoken=&logid=&clienttype=0"},
      {{"time", "0"},
       "order=time&desc=0",
       "&t=0.9874196068828893&channel=chunlei&web=1&app_id=250528&bdstoken=&clienttype=0"},
      {{"time", "1"},
       "order=time&desc=1",
       "&t=0.9874196068828893&channel=chunlei&web=1&app_id=250528&bdstoken=&clienttype=0"},
  };
  for (const Case& c : cases) {
    const ListingOrder& order = c.order;
    EXPECT_EQ(ListTreeRootUrl(order),
              std::string("/api/list?") + c.root +
                  "&showempty=0&web=1&page=1&num=200&dir=%2F&t=0.18259558284517108"
                  "&channel=chunlei&web=1&app_id=250528&bdstoken=&logid=&clienttype=0");
    EXPECT_EQ(
        ListTreeNodePageUrl(order, "%2Fa", 3),
        std::string("/api/list?") + c.root + "&showempty=0&web=1&page=3&num=100&dir=%2Fa" + c.node);
  }
  EXPECT_EQ(
      ListFolderPageUrl(ListingOrder{}, 2, "%2F"),
      "/api/list?order=time&desc=1&showempty=0&web=1&page=2&num=100&dir=%2F&t=0.9874196068828893"
      "&channel=chunlei&web=1&app_id=250528&bdstoken=&clienttype=0");
}

class ListingTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(env.started);
    cookies = env.sim.addAccount({.userName = "lister"});
    account = {"lister", cookies, {}};
  }
  testing::SimApp env;
  std::string cookies;
  Credentials account;
};

TEST_F(ListingTest, FolderPagesReachTheServiceWithDecodedNames) {
  env.sim.addFile("lister", "/Tom & Jerry, 1~2/电影 a.mp4", 10);
  env.sim.addFile("lister", "/Tom & Jerry, 1~2/😀.txt", 20);
  std::string reply =
      ListFolderPage(env.app, account, ListingOrder{"name", "0"}, "/Tom &amp; Jerry&#44; 1~2", 0);
  EXPECT_EQ(env.sim.log().last("/api/list")->query,
            "order=name&desc=0&showempty=0&web=1&page=1&num=100&dir=%2FTom+%26+Jerry%2C+1%7E2"
            "&t=0.9874196068828893&channel=chunlei&web=1&app_id=250528&bdstoken=&clienttype=0");
  std::vector<NetdiskEntry> entries = ReadEntries(reply);
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(entries[0].serverFilename, L8("电影 a.mp4"));
  EXPECT_FALSE(entries[0].isdir);
  EXPECT_EQ(entries[0].size, "10");
  EXPECT_EQ(entries[0].path, L8("/Tom & Jerry, 1~2/电影 a.mp4"));
  EXPECT_EQ(entries[0].fsId,
            std::to_string(env.sim.find("lister", "/Tom & Jerry, 1~2/电影 a.mp4")->fsId));
  EXPECT_EQ(entries[1].serverFilename, "\\ud83d\\ude00.txt");  // not in GBK: kept as escapes
  EXPECT_EQ(env.sim.log().rejected(), 0);
}

TEST_F(ListingTest, TenFailuresCostTenWaitsAndOneErrorLine) {
  env.app.depthText.set("3");
  env.sim.faults().list.errno2Replies = 100;
  EXPECT_EQ(ListFolderPage(env.app, account, ListingOrder{}, "/gone", 1), "");
  EXPECT_EQ(env.sim.log().count("/api/list"), 10);
  EXPECT_EQ(env.clock.sleptMs(), 10 * 500);
  const std::string log = ReadFileBytes(env.dir.file("err.txt")).bytes;
  EXPECT_EQ(log.rfind("/gone----3----{\"errno\":2", 0), 0u) << log;
  EXPECT_EQ(SplitText(log, "\r\n").size(), 1u);
}

TEST_F(ListingTest, ARecoveringListingStopsAtTheFirstSuccess) {
  env.sim.faults().list.emptyReplies = 2;
  EXPECT_NE(ListFolderPage(env.app, account, ListingOrder{}, "/", 1), "");
  EXPECT_EQ(env.sim.log().count("/api/list"), 3);
  EXPECT_EQ(env.clock.sleptMs(), 2 * 500);
}

TEST_F(ListingTest, TreeRootShowsTheFirst200AndClassifiesErrors) {
  for (int i = 0; i < 250; ++i) env.sim.addFile("lister", "/f" + std::to_string(1000 + i), 1);
  TreeListing root = ListTreeRoot(env.app, cookies, ListingOrder{"name", "0"});
  EXPECT_EQ(root.outcome, ListingOutcome::kSuccess);
  EXPECT_EQ(ReadEntries(root.reply).size(), 200u);

  env.sim.setLogin("lister", sim::LoginState::Expired);
  EXPECT_EQ(ListTreeRoot(env.app, cookies, ListingOrder{}).outcome,
            ListingOutcome::kCookiesInvalid);
  // A node listing does not look for -6: it just failed.
  EXPECT_EQ(ListTreeNodePage(env.app, cookies, ListingOrder{}, "%2Ff1000", 1).outcome,
            ListingOutcome::kFailed);
}

TEST_F(ListingTest, NodePagesRetryOnlyAnEmptyReply) {
  env.sim.addFolder("lister", "/box");
  env.sim.faults().list.emptyReplies = 1;
  EXPECT_EQ(ListTreeNodePage(env.app, cookies, ListingOrder{}, "%2Fbox", 1).outcome,
            ListingOutcome::kSuccess);
  EXPECT_EQ(env.sim.log().count("/api/list"), 2);
  env.sim.faults().list.errno2Replies = 1;
  EXPECT_EQ(ListTreeNodePage(env.app, cookies, ListingOrder{}, "%2Fbox", 1).outcome,
            ListingOutcome::kFailed);
  EXPECT_EQ(env.sim.log().count("/api/list"), 3);
  EXPECT_EQ(ListTreeNodePage(env.app, cookies, ListingOrder{}, "%2Fmissing", 1).outcome,
            ListingOutcome::kFolderGone);
}

}  // namespace
}  // namespace pansift

namespace pansift {
namespace {

// The crawler's listing through each back end, against a service that cuts replies
// off half-way: never a short list.
class ListingPerBackEnd : public ::testing::TestWithParam<Transport> {
 protected:
  void SetUp() override {
    ASSERT_TRUE(env.started);
    before = SelectedTransport();
    SelectTransport(GetParam() == Transport::Curl);
    account = {"big", env.sim.addAccount({.userName = "big"}), {}};
    env.app.depthText.set("2");
    env.sim.withTree("big", [](sim::FileTree& tree) {
      for (int i = 0; i < 1000; ++i)
        tree.addFile("/big/f" + std::to_string(10000 + i), 1, false, 0);
    });
  }
  void TearDown() override { SelectTransport(before == Transport::Curl); }
  std::string errorLog() const { return ReadFileBytes(env.dir.file("err.txt")).bytes; }

  testing::SimApp env;
  Credentials account;
  Transport before = Transport::Platform;
};

TEST_P(ListingPerBackEnd, EveryTenthReplyCutOffStillGivesEveryEntry) {
  env.sim.faults().list.cutEvery = 10;
  std::set<std::string> ids;
  int pages = 0;
  for (int page = 1;; ++page) {
    std::vector<NetdiskEntry> entries =
        ReadEntries(ListFolderPage(env.app, account, ListingOrder{}, "/big", page));
    ++pages;
    for (const NetdiskEntry& entry : entries) ids.insert(entry.fsId);
    if (entries.size() < static_cast<size_t>(kFolderPageSize) || pages > 20) break;
  }
  EXPECT_EQ(ids.size(), 1000u);
  EXPECT_EQ(pages, 11);
  EXPECT_EQ(errorLog(), "");
  // Each cut reply cost one retry and its wait.
  std::uint64_t requests = env.sim.log().count("/api/list");
  EXPECT_EQ(requests, 11u + requests / 10);
  EXPECT_EQ(env.clock.sleptMs(), static_cast<long long>(requests / 10) * 500);
  EXPECT_EQ(env.sim.log().rejected(), 0u);
}

TEST_P(ListingPerBackEnd, RepliesAlwaysCutOffEndInTheErrorLine) {
  env.sim.faults().list.cutEvery = 1;
  EXPECT_EQ(ListFolderPage(env.app, account, ListingOrder{}, "/big", 1), "");
  EXPECT_EQ(env.sim.log().count("/api/list"), 10u);
  EXPECT_EQ(errorLog().rfind("/big----2----", 0), 0u) << errorLog();
}

INSTANTIATE_TEST_SUITE_P(BothBackEnds, ListingPerBackEnd, testing::kBothBackEnds,
                         testing::BackEndName);

}  // namespace
}  // namespace pansift
