#include "blocked/blocked_list.h"

#include <gtest/gtest.h>

#include <new>
#include <string>
#include <thread>

#include "blocked/blocked_actions.h"
#include "blocked/record_blocked_file.h"
#include "core/app_state.h"
#include "core/headless_platform.h"
#include "core/main_form.h"
#include "support/app_rig.h"
#include "util/clock.h"
#include "util/codepage.h"

namespace pansift {
namespace {

class BlockedListTest : public ::testing::Test, protected testing::AppRig {
 protected:
  MainForm form;
  BlockedList list;
};

TEST_F(BlockedListTest, RowCellsComeFromThePath) {
  struct Case {
    const char* what;
    std::string path;
    std::u16string name;
    std::u16string location;
    std::string pathCell;
  };
  const Case cases[] = {
      {"nested", "/a/b/c.txt", u"c.txt", u"/a/b", "/a/b/c.txt"},
      {"in the root", "/c.txt", u"c.txt", u"/", "/c.txt"},
      {"escapes decoded in name and location, kept in path", "/\\u6587\\u4ef6/\\ud83d\\ude00.txt",
       u"\U0001F600.txt", u"/文件", "/\\u6587\\u4ef6/\\ud83d\\ude00.txt"},
      {"entity words stripped", "/x/a&amp;b.mp4", u"a&b.mp4", u"/x", "/x/a&b.mp4"},
      {"GBK name", L8("/电影/片.mkv"), u"片.mkv", u"/电影", L8("/电影/片.mkv")},
      {"a folder path ending in a slash has an empty name", "/a/", u"", u"/a", "/a/"},
  };
  app.taskStartedAt.set("12-01 10:00:00");
  // The row names the task's account, not the one operating now.
  app.currentUserName.set(L8("另一个用户"));
  const Credentials task{L8("网盘*用户"), "BDUSS=1", "tok"};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    BlockedRow row = BlockedRowFor(app, task, "123", c.path, LocalToUnicode(c.path));
    EXPECT_EQ(row.name, c.name);
    EXPECT_EQ(row.location, c.location);
    EXPECT_EQ(row.path, c.pathCell);
    EXPECT_EQ(row.fsid, "123");
    EXPECT_EQ(row.detectedAt, "12-01 10:00:00");
    EXPECT_EQ(row.account, L8("网盘*用户"));
    EXPECT_EQ(row.deleteStatus, L8("待处理"));
  }
}

TEST_F(BlockedListTest, TheSameFsidRecordedTwiceKeepsOneRowWithTheNewerData) {
  const Credentials first{"first", {}, {}};
  RecordBlockedFile(app, form, list, first, "1", "/a/one.txt", LocalToUnicode("/a/one.txt"));
  RecordBlockedFile(app, form, list, first, "2", "/a/two.txt", LocalToUnicode("/a/two.txt"));
  std::vector<BlockedRowId> ids = list.ids();
  ASSERT_EQ(ids.size(), 2u);
  list.setCell(ids[0], kBlockedDeleteStatus, L8("删除成功"));
  list.setCell(ids[0], kBlockedMoveStatus, L8("移动成功"));

  RecordBlockedFile(app, form, list, {"second", {}, {}}, "1", "/b/one-again.txt",
                    LocalToUnicode("/b/one-again.txt"));
  std::vector<BlockedRow> rows = list.rows();
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[0].id, ids[0]);
  EXPECT_EQ(rows[0].name, u"one-again.txt");
  EXPECT_EQ(rows[0].location, u"/b");
  EXPECT_EQ(rows[0].account, "second");
  EXPECT_EQ(rows[0].deleteStatus, L8("待处理"));
  EXPECT_EQ(rows[0].moveStatus, L8("移动成功"));  // the move status is not touched
  EXPECT_EQ(rows[0].ordinal, "2");                // the row count when written
  EXPECT_EQ(rows[1].ordinal, "2");
}

TEST_F(BlockedListTest, ConcurrentRecordsOfOneFsidMakeOneRow) {
  std::vector<std::thread> threads;
  for (int t = 0; t < 8; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < 50; ++i)
        RecordBlockedFile(app, form, list, {}, std::to_string(i), "/t" + std::to_string(t) + "/f",
                          LocalToUnicode("/t" + std::to_string(t) + "/f"));
    });
  }
  for (std::thread& t : threads) t.join();
  EXPECT_EQ(list.size(), 50u);
}

TEST_F(BlockedListTest, StatusesLandOnTheirRowAfterOthersWereRemoved) {
  BlockedRowId a = list.record(BlockedRowFor(app, {}, "1", "/a", LocalToUnicode("/a")));
  BlockedRowId b = list.record(BlockedRowFor(app, {}, "2", "/b", LocalToUnicode("/b")));
  BlockedRowId c = list.record(BlockedRowFor(app, {}, "3", "/c", LocalToUnicode("/c")));
  list.select(b);
  EXPECT_TRUE(list.remove(a));
  EXPECT_TRUE(list.setCell(c, kBlockedMoveStatus, "moved"));
  EXPECT_FALSE(list.setCell(a, kBlockedMoveStatus, "gone"));
  EXPECT_FALSE(list.setCell(c, kBlockedName, "unicode column"));
  EXPECT_EQ(list.row(c)->moveStatus, "moved");
  EXPECT_EQ(list.selected(), b);
  list.remove(b);
  EXPECT_EQ(list.selected(), kNoBlockedRow);
}

TEST_F(BlockedListTest, ClearButtonsRemoveExactlyTheirRows) {
  // name, delete status, move status
  const std::array<std::array<const char*, 3>, 5> rows = {{
      {"deleted", "删除成功", ""},
      {"moved", "待处理", "移动成功"},
      {"both", "删除成功", "移动成功"},
      {"neither", "失败，code：200 结果：x", "移动中"},
      {"almost", "删除成功 ", "移动成功。"},
  }};
  auto fill = [&] {
    list.clear();
    for (const auto& r : rows) {
      BlockedRow row;
      row.fsid = r[0];
      row.deleteStatus = L8(r[1]);
      row.moveStatus = L8(r[2]);
      list.append(row);
    }
  };
  auto fsids = [&] {
    std::vector<std::string> out;
    for (const BlockedRow& row : list.rows()) out.push_back(row.fsid);
    return out;
  };
  BlockedForm blockedForm;
  fill();
  ClearDeletedRows(app, list, blockedForm);
  EXPECT_EQ(fsids(), (std::vector<std::string>{"moved", "neither", "almost"}));
  EXPECT_TRUE(blockedForm.enabled(BlockedButton::kClearDeleted));
  fill();
  ClearMovedRows(app, list, blockedForm);
  EXPECT_EQ(fsids(), (std::vector<std::string>{"deleted", "neither", "almost"}));
  EXPECT_TRUE(blockedForm.enabled(BlockedButton::kClearMoved));
}

TEST_F(BlockedListTest, ChangesAreAnnounced) {
  std::vector<BlockedChanged::Kind> kinds;
  Subscription sub = list.subscribe([&](const BlockedChanged& c) { kinds.push_back(c.kind); });
  BlockedRowId id = list.record(BlockedRowFor(app, {}, "1", "/a", LocalToUnicode("/a")));
  list.record(BlockedRowFor(app, {}, "1", "/a", LocalToUnicode("/a")));
  list.setCell(id, kBlockedDeleteStatus, "x");
  list.setCell(id, kBlockedDeleteStatus, "x");  // unchanged: not announced
  list.select(id);
  list.remove(id);
  list.clear();
  // Many rows removed at once: one notice, then the selection's if it went with them.
  std::vector<BlockedRowId> ids;
  for (const char* fsid : {"1", "2", "3", "4"})
    ids.push_back(list.record(BlockedRowFor(app, {}, fsid, "/a", LocalToUnicode("/a"))));
  list.select(ids[2]);
  kinds.clear();
  EXPECT_EQ(list.removeIf([](const BlockedRow& row) { return row.fsid == "9"; }), 0);
  EXPECT_EQ(list.removeIf([](const BlockedRow& row) { return row.fsid != "3"; }), 3);
  EXPECT_EQ(list.removeIf([](const BlockedRow&) { return true; }), 1);
  using K = BlockedChanged::Kind;
  EXPECT_EQ(kinds, (std::vector<K>{K::kRemovedRows, K::kRemovedRows, K::kSelection}));
}

// Removing many rows keeps the others in order, each row still found by its id, and
// a `match` that throws leaves the list as it was.
TEST_F(BlockedListTest, RemoveIfKeepsTheOthersInOrder) {
  std::vector<BlockedRowId> ids;
  for (int i = 0; i < 1000; ++i) {
    BlockedRow row;
    row.fsid = std::to_string(i);
    ids.push_back(list.append(row));
  }
  list.select(ids[500]);
  int asked = 0;
  EXPECT_THROW(list.removeIf([&](const BlockedRow&) {
    if (++asked == 600) throw std::bad_alloc();
    return true;
  }),
               std::bad_alloc);
  EXPECT_EQ(list.ids(), ids);

  // Every third row and a run at the end go.
  auto goes = [](int i) { return i % 3 == 0 || i >= 990; };
  std::vector<BlockedRowId> left;
  for (int i = 0; i < 1000; ++i) {
    if (!goes(i)) left.push_back(ids[static_cast<size_t>(i)]);
  }
  EXPECT_EQ(list.removeIf([&](const BlockedRow& row) { return goes(std::stoi(row.fsid)); }),
            static_cast<int>(ids.size() - left.size()));
  EXPECT_EQ(list.ids(), left);
  for (int i = 0; i < 1000; ++i)
    EXPECT_EQ(list.row(ids[static_cast<size_t>(i)]).has_value(), !goes(i));
  EXPECT_EQ(list.selected(), ids[500]);
  EXPECT_TRUE(list.setCell(ids[989], kBlockedMoveStatus, "x"));
  EXPECT_FALSE(list.setCell(ids[990], kBlockedMoveStatus, "x"));
}

// A clear that ends by an exception (here the window's mirror runs out of memory)
// still frees its button.
TEST_F(BlockedListTest, AClearThatThrowsEnablesItsButtonAgain) {
  BlockedRow row;
  row.deleteStatus = L8("删除成功");
  list.append(row);
  BlockedForm blockedForm;
  ASSERT_TRUE(blockedForm.claim(BlockedButton::kClearDeleted));
  Subscription failing = list.subscribe([](const BlockedChanged&) { throw std::bad_alloc(); });
  EXPECT_THROW(ClearDeletedRows(app, list, blockedForm), std::bad_alloc);
  EXPECT_TRUE(blockedForm.enabled(BlockedButton::kClearDeleted));
  EXPECT_EQ(list.size(), 0u);
}

TEST(BlockedForm, TargetFolderNormalisation) {
  struct Case {
    const char* typed;
    const char* becomes;
  };
  const Case cases[] = {
      {"", "/a-已和谐文件列表"},
      {"/", "/a-已和谐文件列表"},
      {"abc", "/abc"},
      {"/abc", "/abc"},
      {"//x", "//x"},
      {"中文", "/中文"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.typed);
    EXPECT_EQ(NormaliseTargetFolder(L8(c.typed)), L8(c.becomes));
  }
  BlockedForm form;
  EXPECT_EQ(form.targetFolder(), L8("/a-已和谐文件列表"));
  EXPECT_TRUE(form.claim(BlockedButton::kMove));
  EXPECT_FALSE(form.claim(BlockedButton::kMove));
}

}  // namespace
}  // namespace pansift
