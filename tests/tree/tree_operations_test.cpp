#include "tree/tree_operations.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <new>
#include <thread>

#include "accounts/account_actions.h"
#include "accounts/account_store.h"
#include "core/main_form.h"
#include "core/worker_threads.h"
#include "support/sim_app.h"
#include "support/wait_until.h"
#include "tree/file_icon.h"
#include "util/codepage.h"
#include "util/text.h"

namespace pansift {
namespace {

constexpr const char* kUser = "网盘用户";  // UTF-8, as the simulator keeps it
constexpr const char* kUk = "1098765432";

// The query of a node listing in the default order (name, ascending).
std::string NodeListTarget(const std::string& dir, int page) {
  return "/api/list?order=name&desc=0&showempty=0&web=1&page=" + std::to_string(page) +
         "&num=100&dir=" + dir +
         "&t=0.9227398003716567&channel=chunlei&web=1&app_id=250528&bdstoken=&logid=&clienttype=0";
}

class TreeOperationsTest : public ::testing::Test {
 public:  // the cases' lambdas arrange through the fixture
  void SetUp() override {
    ASSERT_TRUE(env.started);
    cookies = env.sim.addAccount({.userName = kUser, .uk = kUk, .bdstoken = "tok123"});
    AccountRecord row;
    row.userName = L8(kUser);
    row.cookies = cookies;
    row.uk = kUk;
    accounts.appendAccountRow(row);
  }

  // The click on 按钮1: disabled, then the refresh on a worker, waited for.
  void refresh() {
    form.setEnabled(FormButton::kRefreshRoot, false);
    StartRootRefresh(env.app, form, accounts, tree, workers);
    workers.waitAll();
  }

  // The first node below `parent` whose text is `text`.
  NodeId child(NodeId parent, const std::u16string& text) const {
    for (NodeId id : tree.children(parent)) {
      if (tree.node(id)->text == text) return id;
    }
    return kNoNode;
  }

  // The tree's node event on `node`, as a double-click raises it, waited for.
  bool open(NodeId node) {
    tree.select(node);
    bool started = OpenOrFoldNode(env.app, form, tree, workers, listing);
    workers.waitAll();
    return started;
  }

  std::string status() const { return env.app.status.text(); }
  std::uint64_t listings() { return env.sim.log().count("/api/list"); }

  testing::SimApp env;
  MainForm form;
  AccountStore accounts;
  FolderTree tree;
  TreeListingThread listing;
  WorkerThreads workers{ReportToLog(env.app)};  // last: its threads end before the models go
  std::string cookies;
};

TEST(ReadSortOrder, FollowsTheRadioButtons) {
  MainForm form;
  struct Case {
    SortOrder sort;
    const char* order;
    const char* desc;
  } cases[] = {{SortOrder::kNameAscending, "name", "0"},
               {SortOrder::kNameDescending, "name", "1"},
               {SortOrder::kTimeAscending, "time", "0"},
               {SortOrder::kTimeDescending, "time", "1"}};
  for (const Case& c : cases) {
    form.setSortOrder(c.sort);
    ListingOrder order = ReadSortOrder(form);
    EXPECT_EQ(order.order, c.order);
    EXPECT_EQ(order.desc, c.desc);
  }
}

TEST_F(TreeOperationsTest, RootRefreshTakesTheFirstAccountAndShowsTheFirst200Entries) {
  for (int i = 0; i < 250; ++i) env.sim.addFile(kUser, "/f" + std::to_string(1000 + i) + ".mp4", 1);
  ASSERT_TRUE(form.refreshHintVisible());
  refresh();

  EXPECT_EQ(env.app.currentCookies.get(), cookies);
  EXPECT_EQ(env.app.currentUserName.get(), L8(kUser));
  EXPECT_EQ(env.app.currentBdstoken.get(), "tok123");
  EXPECT_FALSE(form.refreshHintVisible());
  EXPECT_TRUE(form.enabled(FormButton::kRefreshRoot));
  EXPECT_TRUE(tree.picturesSet());

  FolderTree::Snapshot snap = tree.snapshot();
  ASSERT_EQ(tree.children(kNoNode).size(), 1u);
  const TreeNode& root = snap.nodes.front();
  EXPECT_EQ(root.text, u"网盘用户的网盘");
  EXPECT_EQ(root.picture, kPictureAccount);
  EXPECT_EQ(root.value, kNodeAccountRoot);
  EXPECT_TRUE(root.expanded);
  ASSERT_EQ(root.children.size(), 200u);
  EXPECT_EQ(tree.node(root.children.front())->text, u"f1000.mp4");
  EXPECT_EQ(tree.node(root.children.back())->text, u"f1199.mp4");
  EXPECT_EQ(status(), L8("网盘用户 获取成功"));
  EXPECT_EQ(listings(), 1u);
  EXPECT_EQ(
      env.sim.log().last("/api/list")->target,
      "/api/list?order=name&desc=0&showempty=0&web=1&page=1&num=200&dir=%2F&t=0.18259558284517108"
      "&channel=chunlei&web=1&app_id=250528&bdstoken=&logid=&clienttype=0");
  EXPECT_EQ(env.sim.log().rejected(), 0u);

  // A second refresh starts from an empty tree again.
  refresh();
  EXPECT_EQ(tree.children(kNoNode).size(), 1u);
  EXPECT_EQ(tree.size(), 201u);
}

TEST_F(TreeOperationsTest, FirstLevelNodesTakeKindPictureAndDecodedEscapesButKeepEntities) {
  env.sim.addFolder(kUser, "/电影");
  env.sim.addFolder(kUser, "/R&amp;D");
  env.sim.addFile(kUser, "/Movie.MP4", 1);
  env.sim.addFile(kUser, "/README", 1);
  env.sim.addFile(kUser, "/archive.tar.gz", 1);
  env.sim.addFile(kUser, "/😀 smile.txt", 1);
  refresh();
  NodeId root = tree.root();
  struct Case {
    std::u16string text;
    int picture;
    int value;
  } cases[] = {
      {u"电影", kPictureFolder, kNodeFolder},
      {u"R&amp;D", kPictureFolder, kNodeFolder},
      {u"Movie.MP4", kPictureVideo, kNodeFile},
      {u"README", kPictureFolder, kNodeFile},
      {u"archive.tar.gz", kPictureOtherFile, kNodeFile},
      {u"😀 smile.txt", kPictureText, kNodeFile},
  };
  EXPECT_EQ(tree.children(root).size(), std::size(cases));
  for (const Case& c : cases) {
    NodeId id = child(root, c.text);
    ASSERT_NE(id, kNoNode) << UnicodeToUtf8(c.text);
    EXPECT_EQ(tree.node(id)->picture, c.picture) << UnicodeToUtf8(c.text);
    EXPECT_EQ(tree.node(id)->value, c.value) << UnicodeToUtf8(c.text);
  }
}

TEST_F(TreeOperationsTest, RootRefreshFailuresEnableTheButtonAndSay) {
  struct Case {
    const char* name;
    std::function<void(TreeOperationsTest&)> arrange;
    size_t nodes;
    const char* status;  // UTF-8; the status starts with it
  } cases[] = {
      {"expired login",
       [](TreeOperationsTest& t) { t.env.sim.setLogin(kUser, sim::LoginState::Expired); }, 1,
       "cookies可能无效,请重新登陆"},
      {"listing fails", [](TreeOperationsTest& t) { t.env.sim.faults().list.emptyReplies = 1; }, 1,
       "获取失败目录列表，请重试"},
      {"unknown login", [](TreeOperationsTest& t) { t.env.app.currentCookies.set("BDUSS=nobody"); },
       0,
       "获取用户名失败，可能是cookies失效，或百度网盘已更新。如果一直出现则联系更新，"
       "请到 PanSift 项目页面提交问题。\r\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    env.sim.setLogin(kUser, sim::LoginState::Live);
    env.sim.faults().reset();
    env.app.currentCookies.set("");
    tree.addNode(kNoNode, u"stale", 6, kNodeAccountRoot);
    size_t promptsBefore = env.platform.prompts().size();
    c.arrange(*this);
    refresh();
    EXPECT_TRUE(form.enabled(FormButton::kRefreshRoot));
    EXPECT_EQ(tree.size(), c.nodes);
    EXPECT_EQ(status().rfind(L8(c.status), 0), 0u) << status();
    if (c.nodes == 1) {
      EXPECT_EQ(tree.node(tree.root())->text, u"网盘用户的网盘");
    }
    if (c.nodes == 0) {
      // The reply text of the identity read is shown and ends the status line.
      std::vector<RecordedPrompt> prompts = env.platform.prompts();
      ASSERT_EQ(prompts.size(), promptsBefore + 1);
      EXPECT_EQ(prompts.back().caption, L8("提示"));
      EXPECT_EQ(prompts.back().timeoutMs, 15000);
      EXPECT_EQ(prompts.back().style, kStyleInformation);
      EXPECT_EQ(status(), L8(c.status) + prompts.back().text);
    } else {
      EXPECT_EQ(env.platform.prompts().size(), promptsBefore);
    }
  }
}

TEST_F(TreeOperationsTest, NoAccountSaysSoAndShowsTheFirstTab) {
  accounts.removeRow(0);
  form.setSelectedTab(kTabClean);
  refresh();
  std::vector<RecordedPrompt> prompts = env.platform.prompts();
  ASSERT_EQ(prompts.size(), 1u);
  EXPECT_EQ(prompts[0].caption, L8("提示："));
  EXPECT_EQ(prompts[0].text, L8("没有可操作的百度帐号，请通过左下方 '帐号登陆' 先进行登陆。"));
  EXPECT_EQ(prompts[0].timeoutMs, 15000);
  EXPECT_EQ(prompts[0].style, kStyleWarning);
  EXPECT_EQ(form.selectedTab(), kTabAccounts);
  EXPECT_TRUE(form.enabled(FormButton::kRefreshRoot));
  EXPECT_TRUE(form.refreshHintVisible());
  EXPECT_EQ(env.sim.log().total(), 0u);
}

TEST_F(TreeOperationsTest, ARenamedAccountRowIsFoundByUkAndAFailedReadRenamesNothing) {
  accounts.setAccountCell(0, kColumnUserName, L8("旧名字"));
  AccountRecord other;
  other.userName = L8("无uk");
  other.cookies = "BDUSS=nobody";
  accounts.appendAccountRow(other);
  refresh();
  EXPECT_EQ(accounts.cellText(0, kColumnUserName), L8(kUser));
  EXPECT_EQ(accounts.cellText(0, kColumnBdstoken), "tok123");

  // The second row's login is unknown: its identity has neither name nor uk, and
  // must not be matched against the row without a uk.
  env.app.currentUserName.set(L8("无uk"));
  env.app.currentCookies.set("BDUSS=nobody");
  refresh();
  EXPECT_EQ(accounts.cellText(1, kColumnUserName), L8("无uk"));
  EXPECT_EQ(accounts.cellText(0, kColumnUserName), L8(kUser));
}

TEST_F(TreeOperationsTest, FoldersArePagedWhileAPageHoldsMoreThan99Entries) {
  struct Case {
    int entries;
    std::uint64_t requests;
  } cases[] = {{0, 1}, {99, 1}, {100, 2}, {250, 3}};
  for (const Case& c : cases) env.sim.addFolder(kUser, "/n" + std::to_string(c.entries));
  for (const Case& c : cases) {
    for (int i = 0; i < c.entries; ++i)
      env.sim.addFile(kUser, "/n" + std::to_string(c.entries) + "/x" + std::to_string(1000 + i), 1);
  }
  refresh();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.entries);
    NodeId folder = child(tree.root(), u"n" + Utf8ToUnicode(std::to_string(c.entries)));
    ASSERT_NE(folder, kNoNode);
    std::uint64_t before = listings();
    EXPECT_TRUE(open(folder));
    EXPECT_EQ(listings() - before, c.requests);
    std::vector<sim::LoggedRequest> log = env.sim.log().entries("/api/list");
    EXPECT_EQ(log.back().target,
              NodeListTarget("%2Fn" + std::to_string(c.entries), static_cast<int>(c.requests)));
    EXPECT_EQ(tree.children(folder).size(), static_cast<size_t>(c.entries));
    EXPECT_TRUE(tree.node(folder)->expanded);
    EXPECT_EQ(status(), L8("获取成功。  本次获取数量：") + std::to_string(c.entries));
  }
  EXPECT_EQ(env.sim.log().rejected(), 0u);
}

TEST_F(TreeOperationsTest, NamesReachTheServiceEncodedAndTheTreeDecoded) {
  env.sim.addFile(kUser, "/Tom & Jerry ~1/😀 表情/深 处.txt", 1);
  env.sim.addFile(kUser, "/Tom & Jerry ~1/plain", 1);
  refresh();
  NodeId top = child(tree.root(), u"Tom & Jerry ~1");
  ASSERT_NE(top, kNoNode);
  open(top);
  EXPECT_EQ(env.sim.log().last("/api/list")->target, NodeListTarget("%2FTom+%26+Jerry+%7E1", 1));
  NodeId emoji = child(top, u"😀 表情");
  ASSERT_NE(emoji, kNoNode);
  EXPECT_EQ(tree.node(emoji)->value, kNodeFolder);
  EXPECT_EQ(tree.node(child(top, u"plain"))->value, kNodeFile);
  open(emoji);
  EXPECT_EQ(env.sim.log().last("/api/list")->target,
            NodeListTarget("%2FTom+%26+Jerry+%7E1%2F%F0%9F%98%80+%E8%A1%A8%E6%83%85", 1));
  NodeId deep = child(emoji, u"深 处.txt");
  ASSERT_NE(deep, kNoNode);
  EXPECT_EQ(tree.node(deep)->picture, kPictureText);
  EXPECT_EQ(tree.netdiskPath(deep), u"/Tom & Jerry ~1/😀 表情/深 处.txt");
  EXPECT_EQ(env.sim.log().rejected(), 0u);
}

TEST_F(TreeOperationsTest, NamesAreShownExactlyAtEveryLevel) {
  env.sim.addFile(kUser, "/R&amp;D/x&amp;y.doc", 1);
  env.sim.addFile(kUser, "/R&amp;D/a&#126;b", 1);
  refresh();
  NodeId top = child(tree.root(), u"R&amp;D");
  ASSERT_NE(top, kNoNode);
  open(top);
  // The first level keeps the name as the service has it, so it is found again.
  EXPECT_EQ(env.sim.log().last("/api/list")->target, NodeListTarget("%2FR%26amp%3BD", 1));
  // Below it too: a name holding an entity word is not its sibling's name.
  NodeId doc = child(top, u"x&amp;y.doc");
  ASSERT_NE(doc, kNoNode);
  EXPECT_EQ(tree.node(doc)->picture, kPictureWordDocument);
  EXPECT_NE(child(top, u"a&#126;b"), kNoNode);
  EXPECT_EQ(tree.netdiskPath(doc), u"/R&amp;D/x&amp;y.doc");
}

TEST_F(TreeOperationsTest, OpeningAFileOrTheRootDoesNothing) {
  env.sim.addFile(kUser, "/a.txt", 1);
  refresh();
  NodeId file = child(tree.root(), u"a.txt");
  std::string statusBefore = status();
  std::uint64_t before = listings();
  for (NodeId node : {file, tree.root()}) {
    EXPECT_TRUE(open(node));
    EXPECT_EQ(listings(), before);
    EXPECT_EQ(status(), statusBefore);
    EXPECT_EQ(tree.size(), 2u);
  }
  EXPECT_TRUE(env.platform.prompts().empty());
}

TEST_F(TreeOperationsTest, FoldingALoadedCollapsedFolderDropsItsChildrenAndReopeningListsAgain) {
  for (int i = 0; i < 120; ++i) env.sim.addFile(kUser, "/box/f" + std::to_string(1000 + i), 1);
  refresh();
  NodeId box = child(tree.root(), u"box");
  open(box);
  ASSERT_EQ(tree.children(box).size(), 120u);
  std::uint64_t before = listings();

  open(box);  // loaded and expanded: nothing
  EXPECT_EQ(tree.children(box).size(), 120u);
  EXPECT_EQ(listings(), before);

  NodeId child = tree.children(box).front();
  tree.setExpanded(box, false);  // the user folds it
  tree.select(child);
  OpenOrFoldNode(env.app, form, tree, workers, listing);  // on the selected child: a file
  workers.waitAll();
  EXPECT_EQ(tree.children(box).size(), 120u);
  open(box);
  EXPECT_TRUE(tree.children(box).empty());
  EXPECT_FALSE(tree.contains(child));
  EXPECT_EQ(listings(), before);

  open(box);
  EXPECT_EQ(tree.children(box).size(), 120u);
  EXPECT_EQ(listings() - before, 2u);
  std::vector<sim::LoggedRequest> log = env.sim.log().entries("/api/list");
  EXPECT_EQ(log[log.size() - 2].target, NodeListTarget("%2Fbox", 1));
  EXPECT_EQ(log.back().target, NodeListTarget("%2Fbox", 2));
}

TEST_F(TreeOperationsTest, ALaterPageThatFailsKeepsTheNodesOfTheEarlierOnes) {
  struct Case {
    const char* name;
    std::function<void(TreeOperationsTest&)> breakIt;  // runs when page 1 is in the tree
    const char* status;
    bool prompt;
  } cases[] = {
      {"folder gone",
       [](TreeOperationsTest& t) {
         t.env.sim.withTree(kUser, [](sim::FileTree& ft) { ft.remove("/box"); });
       },
       "当前目录已不存在（已被删除或改名），需要重新刷新。", false},
      {"listing fails", [](TreeOperationsTest& t) { t.env.sim.faults().list.emptyReplies = 2; },
       "获取目录列表时失败：", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    env.sim.faults().reset();
    for (int i = 0; i < 150; ++i) env.sim.addFile(kUser, "/box/f" + std::to_string(1000 + i), 1);
    refresh();
    NodeId box = child(tree.root(), u"box");
    std::once_flag once;
    Subscription sub = tree.subscribe([&](const TreeChanged& change) {
      if (change.kind == TreeChanged::Kind::kNodeAdded && tree.children(box).size() == 100)
        std::call_once(once, [&] { c.breakIt(*this); });
    });
    size_t promptsBefore = env.platform.prompts().size();
    open(box);
    EXPECT_EQ(tree.children(box).size(), 100u);
    EXPECT_FALSE(tree.node(box)->expanded);
    EXPECT_EQ(status(), L8(c.status));
    std::vector<RecordedPrompt> prompts = env.platform.prompts();
    ASSERT_EQ(prompts.size(), promptsBefore + (c.prompt ? 1 : 0));
    if (c.prompt) {
      EXPECT_EQ(prompts.back().caption, L8("提示："));
      EXPECT_EQ(prompts.back().text, L8("获取失败，请重试。\r\n\r\n失败原因："));
      EXPECT_EQ(prompts.back().timeoutMs, 15000);
    }
  }
}

TEST_F(TreeOperationsTest, ASecondNodeEventWhileOneRunsIsRefusedWithAMessage) {
  env.sim.addFile(kUser, "/box/a", 1);
  refresh();
  NodeId box = child(tree.root(), u"box");
  tree.select(box);
  {
    // The worker waits for listLock, which a test thread holds like another worker.
    std::unique_lock lock(env.app.listLock);
    ASSERT_TRUE(OpenOrFoldNode(env.app, form, tree, workers, listing));
    EXPECT_TRUE(listing.running());
    EXPECT_FALSE(OpenOrFoldNode(env.app, form, tree, workers, listing));
    std::vector<RecordedPrompt> prompts = env.platform.prompts();
    ASSERT_EQ(prompts.size(), 1u);
    EXPECT_EQ(prompts[0].caption, L8("提示："));
    EXPECT_EQ(prompts[0].text, L8("当前有获取目录列表的任务，请等待完成后再获取。"));
    EXPECT_EQ(prompts[0].timeoutMs, 5000);
    EXPECT_EQ(prompts[0].style, kStyleInformation);
  }
  workers.waitAll();
  EXPECT_EQ(tree.children(box).size(), 1u);
  // A finished worker counts as idle.
  EXPECT_FALSE(listing.running());
  tree.setExpanded(box, false);
  EXPECT_TRUE(OpenOrFoldNode(env.app, form, tree, workers, listing));
  workers.waitAll();
  EXPECT_TRUE(tree.children(box).empty());
  EXPECT_EQ(env.platform.prompts().size(), 1u);
}

// A listing or a refresh that ends by an exception (here the tree's mirror runs out
// of memory) leaves nothing claimed: listLock is free, the node event starts the
// next listing, 按钮1 is enabled again, and the log and the status bar say so.
TEST_F(TreeOperationsTest, WorkThatThrowsLeavesNoListingRunningAndTheButtonEnabled) {
  env.sim.addFile(kUser, "/box/a", 1);
  refresh();
  NodeId box = child(tree.root(), u"box");
  std::atomic<bool> armed{true};
  // Only the workers' changes fail; the test's own selection goes through.
  const std::thread::id self = std::this_thread::get_id();
  Subscription failing = tree.subscribe([&armed, self](const auto&) {
    if (armed && std::this_thread::get_id() != self) throw std::bad_alloc();
  });
  EXPECT_TRUE(open(box));
  EXPECT_FALSE(listing.running());
  ASSERT_TRUE(env.app.listLock.try_lock());
  env.app.listLock.unlock();
  EXPECT_EQ(LocalToUtf8(status()), "后台任务“获取目录列表”出错，已中止：std::bad_alloc");

  form.setEnabled(FormButton::kRefreshRoot, false);
  StartRootRefresh(env.app, form, accounts, tree, workers);
  workers.waitAll();
  EXPECT_TRUE(form.enabled(FormButton::kRefreshRoot));
  EXPECT_EQ(LocalToUtf8(status()), "后台任务“刷新目录”出错，已中止：std::bad_alloc");

  armed = false;
  refresh();
  box = child(tree.root(), u"box");
  EXPECT_TRUE(open(box));
  EXPECT_EQ(tree.children(box).size(), 1u);
}

TEST_F(TreeOperationsTest, OverlappingRefreshesLeaveExactlyOneRoot) {
  for (int i = 0; i < 30; ++i) env.sim.addFile(kUser, "/f" + std::to_string(i), 1);
  for (int round = 0; round < 5; ++round) {
    StartRootRefresh(env.app, form, accounts, tree, workers);
    StartRootRefresh(env.app, form, accounts, tree, workers);
    workers.waitAll();
    ASSERT_EQ(tree.children(kNoNode).size(), 1u);
    EXPECT_EQ(tree.children(tree.root()).size(), 30u);
  }
}

TEST_F(TreeOperationsTest, ARefreshOvertakenByAnAccountSwitchChangesNothing) {
  // Account X's refresh waits for the service; meanwhile the user switches to Y,
  // whose refresh ends first. X's late answer must not bring back X's root, name
  // or token beside Y's cookies.
  env.sim.addFile(kUser, "/x-file", 1);
  const std::string other =
      env.sim.addAccount({.userName = "第二用户", .uk = "2222", .bdstoken = "tokY"});
  env.sim.addFile("第二用户", "/y-file", 1);
  AccountRecord row;
  row.userName = L8("第二用户");
  row.cookies = other;
  row.uk = "2222";
  accounts.appendAccountRow(row);

  env.sim.faults().holdRequestsOf(cookies);
  form.setEnabled(FormButton::kRefreshRoot, false);
  StartRootRefresh(env.app, form, accounts, tree, workers);
  ASSERT_TRUE(testing::WaitUntil([&] { return env.sim.faults().heldRequests() > 0; }));
  accounts.setSelectedRow(1);
  ASSERT_TRUE(SwitchOperatingAccount(env.app, accounts));
  StartRootRefresh(env.app, form, accounts, tree, workers);
  ASSERT_TRUE(testing::WaitUntil([&] { return status() == L8("第二用户 获取成功"); }));
  env.sim.faults().releaseHeld();
  workers.waitAll();
  std::vector<sim::LoggedRequest> requests = env.sim.log().entries();
  ASSERT_FALSE(requests.empty());
  ASSERT_EQ(requests.back().cookies, cookies) << "X's request should have ended last";

  EXPECT_EQ(env.app.currentCookies.get(), other);
  EXPECT_EQ(env.app.currentUserName.get(), L8("第二用户"));
  EXPECT_EQ(env.app.currentBdstoken.get(), "tokY");
  ASSERT_EQ(tree.children(kNoNode).size(), 1u);
  EXPECT_EQ(tree.node(tree.root())->text, u"第二用户的网盘");
  ASSERT_EQ(tree.children(tree.root()).size(), 1u);
  EXPECT_EQ(tree.node(tree.children(tree.root())[0])->text, u"y-file");
  EXPECT_EQ(status(), L8("第二用户 获取成功"));
  EXPECT_TRUE(form.enabled(FormButton::kRefreshRoot));
  EXPECT_EQ(accounts.cellText(0, kColumnUserName), L8(kUser));
}

}  // namespace
}  // namespace pansift
