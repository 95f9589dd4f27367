#include "blocked/history.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>
#include <vector>

#include "blocked/blocked_actions.h"
#include "blocked/blocked_list.h"
#include "support/temp_dir.h"
#include "util/codepage.h"

namespace pansift {
namespace {

TEST(FindingState, TheLastDeleteOrMoveInWordsForScripts) {
  struct Case {
    const char* deleteStatus;
    const char* moveStatus;
    const char* state;
  } cases[] = {
      {"", "", "pending"},
      {"待处理", "", "pending"},
      {"删除中", "", "pending"},
      {"删除成功", "", "deleted"},
      {"文件不存在", "", "deleted"},
      {"删除失败，原因：errno -8", "", "delete_failed"},
      {"需要身份安全验证", "", "delete_failed"},
      {"待处理", "移动中", "pending"},
      {"待处理", "移动成功", "moved"},
      {"删除失败，原因：x", "移动成功", "moved"},
      {"待处理", "移动失败，原因：y", "move_failed"},
      {"删除成功", "移动失败，原因：y", "deleted"},
  };
  for (const Case& c : cases) {
    BlockedRow row;
    row.deleteStatus = L8(c.deleteStatus);
    row.moveStatus = L8(c.moveStatus);
    EXPECT_EQ(FindingState(row), c.state) << c.deleteStatus << " / " << c.moveStatus;
  }
}

TEST(FindingsHistory, KeepsEachFindingOnceAcrossRunsWithItsFirstAndLastSighting) {
  testing::TempDir dir;
  const std::string file = dir.file(kHistoryFileName);
  // Names that break statements and files that are built as text.
  const std::string account = "网盘'用户\"; DROP TABLE finding;--";
  const std::string odd = "/a/R&amp;D \\u0031 \"q\" 'x' \x01 😀.mp4";
  {
    FindingsHistory history(file);
    ASSERT_TRUE(history.ok()) << history.error();
    EXPECT_EQ(history.recordFound(account, "1", "/a/x.mp4", 100), FindingsHistory::Found::kNew);
    EXPECT_EQ(history.recordFound(account, "2", odd, 100), FindingsHistory::Found::kNew);
    EXPECT_EQ(history.recordFound("other", "1", "/b.mp4", 150), FindingsHistory::Found::kNew);
    EXPECT_TRUE(history.recordState(account, "2", "deleted"));
    EXPECT_TRUE(history.recordState(account, "9", "deleted"));  // never found: no record
  }
  FindingsHistory history(file);  // a later run
  ASSERT_TRUE(history.ok());
  EXPECT_EQ(history.recordFound(account, "1", "/a/renamed.mp4", 200),
            FindingsHistory::Found::kKnown);

  std::vector<Finding> all = history.list("", 0);
  ASSERT_EQ(all.size(), 3u);
  EXPECT_EQ(all[0].account, account);
  EXPECT_EQ(all[0].fsid, "1");
  EXPECT_EQ(all[0].path, "/a/renamed.mp4");
  EXPECT_EQ(all[0].firstSeen, 100);
  EXPECT_EQ(all[0].lastSeen, 200);
  EXPECT_EQ(all[0].state, "pending");
  EXPECT_EQ(all[1].path, odd);
  EXPECT_EQ(all[1].state, "deleted");
  EXPECT_EQ(all[2].account, "other");

  EXPECT_EQ(history.list(account, 0).size(), 2u);
  std::vector<Finding> recent = history.list("", 150);
  ASSERT_EQ(recent.size(), 2u);
  EXPECT_EQ(recent[0].fsid, "1");
  EXPECT_EQ(recent[1].account, "other");
  EXPECT_FALSE(history.find(account, "9"));
  ASSERT_TRUE(history.find(account, "2"));
  EXPECT_EQ(history.find(account, "2")->path, odd);
}

TEST(FindingsHistory, AFileThatCannotBeOpenedSaysWhy) {
  testing::TempDir dir;
  mkdir(dir.file("a folder").c_str(), 0700);
  FindingsHistory history(dir.file("a folder"));
  EXPECT_FALSE(history.ok());
  EXPECT_FALSE(history.error().empty());
  EXPECT_EQ(history.recordFound("a", "1", "/x", 1), FindingsHistory::Found::kFailed);
  EXPECT_TRUE(history.list("", 0).empty());
}

}  // namespace
}  // namespace pansift
