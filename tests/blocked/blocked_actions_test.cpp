// The blocked-file list's Netdisk actions against the simulator: deletes (from the
// menu and on detection) and the move, each with the right account and status.
#include "blocked/blocked_actions.h"

#include <gtest/gtest.h>

#include <thread>

#include "accounts/account_store.h"
#include "blocked/exports.h"
#include "blocked/record_blocked_file.h"
#include "core/main_form.h"
#include "support/sim_app.h"
#include "util/codepage.h"
#include "util/escapes.h"

namespace pansift {
namespace {

class BlockedActionsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(env.started);
    for (const char* user : {"alice", "bob"}) {
      std::string cookies =
          sim.addAccount({.userName = user, .bdstoken = std::string("tok-") + user});
      AccountRecord row;
      row.userName = user;
      row.cookies = cookies;
      row.bdstoken = std::string("tok-") + user;
      accounts.appendAccountRow(row);
    }
    // The operating account is bob's: nothing here may act for it but bob's rows.
    app.currentUserName.set("bob");
    app.currentCookies.set(accounts.cellText(1, kColumnCookies));
    app.currentBdstoken.set("tok-bob");
  }
  /// Records a file found by a task of `account` (an account without a row, too).
  BlockedRowId add(const std::string& account, const std::string& fsid, const std::string& path) {
    Credentials task = CredentialsOf(accounts, account);
    task.userName = account;
    // The path as the catalogue passes it, without entities: its escapes decoded.
    RecordBlockedFile(app, form, list, task, fsid, path, DecodeUnicodeEscapes(path));
    return list.ids().back();
  }
  std::string status(BlockedRowId id, int column) { return list.row(id)->localText(column); }

  testing::SimApp env;
  sim::Simulator& sim = env.sim;
  AppState& app = env.app;
  MainForm form;
  AccountStore accounts;
  BlockedList list;
  BlockedForm blockedForm;
};

TEST_F(BlockedActionsTest, MenuDeleteUsesTheRowsAccountAndSetsTheStatus) {
  sim.addFile("bob", "/x/b.txt", 1, true);
  sim.addFile("alice", "/x/b.txt", 1, true);
  BlockedRowId bobs = add("bob", "1", "/x/b.txt");
  BlockedRowId gone = add("bob", "2", "/x/gone.txt");
  BlockedRowId stranger = add("carol", "3", "/x/b.txt");

  DeleteBlockedRowFromNetdisk(app, accounts, list, bobs, DeleteMode::kSync);
  EXPECT_EQ(status(bobs, kBlockedDeleteStatus), L8("删除成功"));
  EXPECT_FALSE(sim.find("bob", "/x/b.txt"));
  EXPECT_TRUE(sim.find("alice", "/x/b.txt"));
  EXPECT_EQ(sim.log().last("/api/filemanager")->account, "bob");
  EXPECT_NE(app.log.text().find(L8("文件删除成功。")), std::string::npos);

  std::string logBefore = app.log.text();
  DeleteBlockedRowFromNetdisk(app, accounts, list, gone, DeleteMode::kSync);
  EXPECT_EQ(status(gone, kBlockedDeleteStatus), L8("文件不存在"));
  EXPECT_EQ(app.log.text(), logBefore);  // a missing file is no log line

  // No account row of that name: the request goes without login and fails.
  DeleteBlockedRowFromNetdisk(app, accounts, list, stranger, DeleteMode::kSync);
  std::string failed = status(stranger, kBlockedDeleteStatus);
  EXPECT_EQ(failed.rfind(L8("失败，code：200 结果：{"), 0), 0u) << LocalToUtf8(failed);
  EXPECT_EQ(failed.find("\r\n"), std::string::npos);
  EXPECT_TRUE(sim.find("alice", "/x/b.txt"));
  EXPECT_NE(app.log.text().find(L8("文件删除失败了。原因：")), std::string::npos);

  sim.faults().fileManager.identityCheck = true;
  sim.addFile("bob", "/y.txt", 1, true);
  BlockedRowId checked = add("bob", "4", "/y.txt");
  DeleteBlockedRowFromNetdisk(app, accounts, list, checked, DeleteMode::kSync);
  EXPECT_EQ(status(checked, kBlockedDeleteStatus), L8("需要身份安全验证"));
}

TEST_F(BlockedActionsTest, DeleteOnDetectionUsesTheTasksAccountAndWaitsTheInterval) {
  form.setDeleteFiles(true);
  form.setText(FormText::kDeleteInterval, "3");
  sim.addFile("alice", "/\\u00e9/a.txt", 1, true);
  sim.addFile("alice", "/é/a.txt", 1, true);
  sim.addFile("bob", "/é/a.txt", 1, true);
  long long sleptBefore = env.clock.sleptMs();
  // Found by alice's task while bob operates: deleted in alice's Netdisk only.
  BlockedRowId row = add("alice", "1", "/\\u00e9/a.txt");
  EXPECT_EQ(status(row, kBlockedDeleteStatus), L8("删除成功"));
  EXPECT_EQ(status(row, kBlockedAccount), "alice");
  EXPECT_FALSE(sim.find("alice", "/é/a.txt"));
  EXPECT_TRUE(sim.find("bob", "/é/a.txt"));
  EXPECT_EQ(sim.log().last("/api/filemanager")->account, "alice");
  EXPECT_EQ(env.clock.sleptMs() - sleptBefore, 3000);
  EXPECT_FALSE(app.fileOpBusy);

  // A reply it does not know: "删除失败，原因：" with the reply, trimmed.
  BlockedRowId missing = add("alice", "2", "/nothing.txt");
  std::string failed = status(missing, kBlockedDeleteStatus);
  EXPECT_EQ(failed.rfind(L8("删除失败，原因：{\"errno\":12"), 0), 0u) << LocalToUtf8(failed);

  // A stop ends it before any request; the row stays pending.
  std::uint64_t deletes = sim.log().count("/api/filemanager");
  app.stopRequested = true;
  sim.addFile("alice", "/s.txt", 1, true);
  BlockedRowId stopped = add("alice", "3", "/s.txt");
  EXPECT_EQ(status(stopped, kBlockedDeleteStatus), L8("待处理"));
  EXPECT_EQ(sim.log().count("/api/filemanager"), deletes);
  EXPECT_TRUE(sim.find("alice", "/s.txt"));
  EXPECT_FALSE(app.fileOpBusy);
}

// A delete whose first attempt got no answer and whose retry hears "no such file"
// cannot know whether the file was there: the row says what the service said, and
// the button that clears deleted rows leaves it.
TEST_F(BlockedActionsTest, NoSuchFileAfterAnUnansweredTryReadsMissingNeverDeleted) {
  struct Case {
    const char* what;
    bool onDetection;
    bool fileExists;
    void (*arm)(sim::FileManagerFaults&);
  } cases[] = {
      {"from the menu, the path never existed", false, false,
       [](sim::FileManagerFaults& f) { f.dropConnections = 1; }},
      {"from the menu, the reply lost after the delete", false, true,
       [](sim::FileManagerFaults& f) { f.cutReplies = 1; }},
      {"on detection, the path never existed", true, false,
       [](sim::FileManagerFaults& f) { f.dropConnections = 1; }},
      {"on detection, the reply lost after the delete", true, true,
       [](sim::FileManagerFaults& f) { f.cutReplies = 1; }},
  };
  int n = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string path = "/x/no answer &amp; \"q\" " + std::to_string(++n) + ".txt";
    if (c.fileExists) sim.addFile("alice", path, 1, true);
    sim.faults().reset();
    c.arm(sim.faults().fileManager);
    const std::string logBefore = app.log.text();
    form.setDeleteFiles(c.onDetection);
    BlockedRowId row = add("alice", std::to_string(n), path);
    if (!c.onDetection) DeleteBlockedRowFromNetdisk(app, accounts, list, row, DeleteMode::kSync);
    EXPECT_EQ(status(row, kBlockedDeleteStatus), L8("文件不存在"));
    EXPECT_EQ(app.log.text().find(L8("文件删除成功。"), logBefore.size()), std::string::npos);
    EXPECT_EQ(sim.log().count("/api/filemanager"), 2u * static_cast<std::uint64_t>(n));
    EXPECT_FALSE(sim.find("alice", path));
  }
  ClearDeletedRows(app, list, blockedForm);
  EXPECT_EQ(list.size(), std::size(cases));
}

TEST_F(BlockedActionsTest, DeletesOnDetectionFromManyWorkersAllHappenOneAtATime) {
  form.setDeleteFiles(true);
  for (int i = 0; i < 12; ++i) sim.addFile("alice", "/m/" + std::to_string(i), 1, true);
  std::vector<std::thread> workers;
  for (int t = 0; t < 4; ++t) {
    workers.emplace_back([&, t] {
      for (int i = t; i < 12; i += 4)
        RecordBlockedFile(app, form, list, CredentialsOf(accounts, "alice"), std::to_string(i),
                          "/m/" + std::to_string(i), u"/m/" + LocalToUnicode(std::to_string(i)));
    });
  }
  for (std::thread& w : workers) w.join();
  ASSERT_EQ(list.size(), 12u);
  for (const BlockedRow& row : list.rows()) EXPECT_EQ(row.deleteStatus, L8("删除成功"));
  EXPECT_FALSE(app.fileOpBusy);
}

TEST_F(BlockedActionsTest, MoveChecksTheFolderOncePerChangeOfAccount) {
  // a3's name lies outside GBK: the listing's "\u" escapes carry it, and the moved
  // file keeps it.
  for (const char* f : {"/a1.txt", "/a2.txt", "/😀 a3.txt"}) sim.addFile("alice", f, 1, true);
  sim.addFile("bob", "/b1.txt", 1, true);
  sim.addFolder("bob", "/abc");  // bob has the folder, alice gets it made
  BlockedRowId a1 = add("alice", "1", "/a1.txt");
  BlockedRowId a2 = add("alice", "2", "/a2.txt");
  BlockedRowId b1 = add("bob", "3", "/b1.txt");
  BlockedRowId a3 = add("alice", "4", "/\\ud83d\\ude00 a3.txt");
  BlockedRowId done = add("alice", "5", "/done.txt");
  list.setCell(done, kBlockedMoveStatus, L8("移动成功"));
  BlockedRow empty;
  empty.fsid = "6";
  empty.account = "alice";
  BlockedRowId noPath = list.append(empty);

  blockedForm.setTargetFolder("abc");
  ASSERT_TRUE(blockedForm.claim(BlockedButton::kMove));
  MoveListedFiles(app, accounts, list, blockedForm);

  EXPECT_EQ(blockedForm.targetFolder(), "/abc");
  for (BlockedRowId id : {a1, a2, b1, a3, done})
    EXPECT_EQ(status(id, kBlockedMoveStatus), L8("移动成功")) << id;
  EXPECT_EQ(status(noPath, kBlockedMoveStatus), L8("path不能为空"));
  EXPECT_TRUE(sim.find("alice", "/abc/a1.txt"));
  EXPECT_TRUE(sim.find("alice", "/abc/😀 a3.txt"));
  EXPECT_TRUE(sim.find("bob", "/abc/b1.txt"));
  // alice, bob, alice: three checks; alice's first made the folder, the third found it.
  EXPECT_EQ(sim.log().count("/api/list"), 3u);
  EXPECT_EQ(sim.log().count("/api/create"), 1u);
  EXPECT_EQ(sim.log().count("/api/filemanager"), 4u);  // the moved row is skipped
  for (const sim::LoggedRequest& r : sim.log().entries("/api/filemanager"))
    EXPECT_EQ(r.account, r.body.find("b1.txt") != std::string::npos ? "bob" : "alice");
  ASSERT_FALSE(env.platform.prompts().empty());
  EXPECT_EQ(env.platform.prompts().back().text, L8("移动完成！"));
  EXPECT_EQ(env.platform.prompts().back().timeoutMs, 10000);
  EXPECT_TRUE(blockedForm.enabled(BlockedButton::kMove));
}

// Rows read back from a table export act on exactly their own file: the delete and
// the move, beside siblings whose names differ only by an entity word, a literal "\u",
// a quote or a backslash.
TEST_F(BlockedActionsTest, ImportedRowsDeleteAndMoveExactlyTheirOwnFile) {
  const std::pair<std::u16string, std::u16string> pairs[] = {
      {u"/p/Tom &amp; Jerry.mp4", u"/p/Tom & Jerry.mp4"},
      {u"/p/movie\\u0031.mp4", u"/p/movie1.mp4"},
      {u"/p/q\"],[\"v.mp4", u"/p/v.mp4"},
      {u"/p/it&apos;s\\.mp4", u"/p/it's.mp4"},
  };
  std::vector<BlockedRow> exported;
  for (const auto& [path, sibling] : pairs) {
    for (const std::u16string& p : {path, sibling}) sim.addFile("alice", UnicodeToUtf8(p), 1, true);
    BlockedRow row;
    row.fsid = UnicodeToUtf8(path);
    row.account = "alice";
    row.path = UnicodeToEscapedLocal(path);
    row.netdiskPath = path;
    exported.push_back(row);
  }
  for (BlockedRow& row : ParseTable(TableText(exported))) list.append(std::move(row));
  ASSERT_EQ(list.size(), std::size(pairs));

  DeleteBlockedRowFromNetdisk(app, accounts, list, list.ids()[0], DeleteMode::kSync);
  DeleteBlockedRowFromNetdisk(app, accounts, list, list.ids()[1], DeleteMode::kSync);
  list.setCell(list.ids()[0], kBlockedMoveStatus, L8("移动成功"));
  list.setCell(list.ids()[1], kBlockedMoveStatus, L8("移动成功"));
  blockedForm.setTargetFolder("/to");
  MoveListedFiles(app, accounts, list, blockedForm);

  for (size_t i = 0; i < std::size(pairs); ++i) {
    const std::string path = UnicodeToUtf8(pairs[i].first);
    SCOPED_TRACE(path);
    EXPECT_FALSE(sim.find("alice", path));
    EXPECT_TRUE(sim.find("alice", UnicodeToUtf8(pairs[i].second)));
    // The first two were deleted, the others moved under their own names.
    EXPECT_EQ(sim.find("alice", "/to" + path.substr(2)).has_value(), i >= 2);
  }
  EXPECT_EQ(sim.log().rejected(), 0u);
}

TEST_F(BlockedActionsTest, MoveStatusesForMissingFilesAndFailedCreates) {
  sim.addFile("alice", "/a.txt", 1, true);
  BlockedRowId gone = add("alice", "1", "/gone.txt");
  BlockedRowId a = add("alice", "2", "/a.txt");
  sim.faults().create.emptyReplies = 3;  // every try of the create fails
  MoveListedFiles(app, accounts, list, blockedForm);
  EXPECT_EQ(blockedForm.targetFolder(), L8("/a-已和谐文件列表"));
  EXPECT_EQ(status(gone, kBlockedMoveStatus), L8("文件不存在"));
  // The folder is missing and could not be made: the move into it fails.
  std::string failed = status(a, kBlockedMoveStatus);
  EXPECT_EQ(failed.rfind(L8("失败，code:200 errno:"), 0), 0u) << LocalToUtf8(failed);
}

}  // namespace
}  // namespace pansift
