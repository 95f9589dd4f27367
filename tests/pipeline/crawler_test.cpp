#include "pipeline/crawler.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "pipeline/catalogue_db.h"
#include "pipeline/task_rig.h"
#include "util/codepage.h"

namespace pansift {
namespace {

using testing::HookClock;
using testing::kUser;
using testing::Latch;
using testing::Rows;
using testing::TaskRig;
using namespace std::chrono_literals;

std::string Three(int n) {
  char text[8];
  std::snprintf(text, sizeof text, "%03d", n);
  return text;
}

std::string FsId(TaskRig& rig, const std::string& path) {
  auto info = rig.sim().find(kUser, path);
  return info ? std::to_string(info->fsId) : "";
}

TEST(Crawler, AFolderOf250EntriesTakesThreePagesWithPositionsPerPage) {
  FakeClock clock;
  TaskRig rig(clock);
  for (int i = 1; i <= 250; ++i) rig.sim().addFile(kUser, "/big/f" + Three(i) + ".txt", i);
  rig.form.setText(FormText::kDepth, "1");
  rig.select(u"/big");
  rig.runToEnd();

  Rows rows = rig.rows();
  ASSERT_EQ(rows.size(), 250u);
  for (int i = 1; i <= 250; ++i) {
    const auto& row = rows[i - 1];
    SCOPED_TRACE(i);
    const int onPage = (i - 1) % 100 + 1;
    const std::string path = "/big/f" + Three(i) + ".txt";
    EXPECT_EQ(row[kColId], std::to_string(i));
    EXPECT_EQ(row[kColFolder], path);
    EXPECT_EQ(row[kColFilename], "f" + Three(i) + ".txt");
    EXPECT_EQ(row[kColOrder], "01");
    EXPECT_EQ(row[kColType], "0");
    EXPECT_EQ(row[kColSize], std::to_string(i));
    EXPECT_EQ(row[kColOrdersign], Three(onPage));
    EXPECT_EQ(row[kColQueried], "0");
    EXPECT_EQ(row[kColCount], std::to_string(onPage));
    EXPECT_EQ(row[kColLowernum], "02");
    EXPECT_EQ(row[kColTarget], FsId(rig, path));
    EXPECT_NE(row[kColTime].find("年"), std::string::npos);
  }
  // Pages 1 and 2 are full, page 3 holds 50: no fourth request.
  std::vector<std::string> pages;
  for (const auto& entry : rig.sim().log().entries("/api/list")) {
    size_t at = entry.query.find("&page=");
    pages.push_back(entry.query.substr(at + 6, entry.query.find('&', at + 1) - at - 6));
  }
  EXPECT_EQ(pages, (std::vector<std::string>{"1", "2", "3"}));
  EXPECT_NE(rig.status(), "");
}

TEST(Crawler, DepthLimitsTheLevelsCatalogued) {
  struct Case {
    std::string depth;  // local text, as typed into the box
    std::set<std::string> names;
  };
  const std::vector<Case> cases = {
      {"1", {"a.txt", "sub"}},
      {"2", {"a.txt", "sub", "b.txt", "deeper"}},
      {"0", {"a.txt", "sub", "b.txt", "deeper", "c.txt"}},
      // Full-width digits typed with a Chinese input method limit the walk the same.
      {L8("１"), {"a.txt", "sub"}},
      {L8("２"), {"a.txt", "sub", "b.txt", "deeper"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.depth);
    FakeClock clock;
    TaskRig rig(clock);
    rig.sim().addFile(kUser, "/d/a.txt", 1);
    rig.sim().addFile(kUser, "/d/sub/b.txt", 2);
    rig.sim().addFile(kUser, "/d/sub/deeper/c.txt", 3);
    rig.form.setText(FormText::kDepth, c.depth);
    rig.select(u"/d");
    rig.runToEnd();
    std::set<std::string> names;
    for (const auto& row : rig.rows()) {
      names.insert(row[kColFilename]);
      // Every folder row was taken by the dispatcher, also those beyond the limit.
      if (row[kColType] == "1") {
        EXPECT_EQ(row[kColQueried], "1") << row[kColFilename];
      }
      if (row[kColFilename] == "sub") {
        EXPECT_EQ(row[kColLowernum], "02");
      }
      if (row[kColFilename] == "b.txt") {
        EXPECT_EQ(row[kColOrder], "02");
        EXPECT_EQ(row[kColLowernum], "03");
      }
    }
    EXPECT_EQ(names, c.names);
  }
}

TEST(Crawler, NamesWithQuotesAndAmpersandsAreStoredEncodedTwiceAndListed) {
  FakeClock clock;
  TaskRig rig(clock);
  rig.sim().addFile(kUser, "/q/it's & co/x'y.txt", 7);
  rig.select(u"/q");
  rig.runToEnd();
  Rows rows = rig.rows();
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[0][kColFolder], "/q/it&amp;apos;s &amp;amp; co");
  EXPECT_EQ(rows[0][kColFilename], "it&amp;apos;s &amp;amp; co");
  EXPECT_EQ(rows[1][kColFolder], "/q/it&amp;apos;s &amp;amp; co/x&amp;apos;y.txt");
  EXPECT_EQ(rows[1][kColOrdersign], "001001");
  EXPECT_EQ(rig.sim().log().rejected(), 0u);
}

TEST(Crawler, AnEmptyFolderGivesACheckPhaseWithATotalOfZero) {
  FakeClock clock;
  TaskRig rig(clock);
  rig.sim().addFolder(kUser, "/empty");
  rig.select(u"/empty");
  rig.runToEnd();
  EXPECT_TRUE(rig.rows().empty());
  EXPECT_NE(
      rig.log().find("已检测完成，总检测文件数量： 0 ，其中被和谐文件(禁止下载的文件)数量： 0\r\n"),
      std::string::npos)
      << rig.log();
  EXPECT_EQ(rig.sim().log().count("/api/download"), 0u);
}

TEST(Crawler, AFolderWhoseListingFailsTenTimesIsSkippedAndRecordedInErrTxt) {
  FakeClock clock;
  TaskRig rig(clock);
  rig.sim().addFile(kUser, "/e/a.txt", 1);
  rig.sim().addFile(kUser, "/e/bad/lost.txt", 1);
  rig.sim().addFile(kUser, "/e/good/found.txt", 1);
  rig.sim().faults().failListing("/e/bad");
  rig.select(u"/e");
  rig.runToEnd();
  std::set<std::string> names;
  for (const auto& row : rig.rows()) names.insert(row[kColFilename]);
  EXPECT_EQ(names, (std::set<std::string>{"a.txt", "bad", "good", "found.txt"}));
  EXPECT_EQ(rig.errors(), "/e/bad----0----\r\n");
  size_t badRequests = 0;
  for (const auto& entry : rig.sim().log().entries("/api/list"))
    if (entry.fault == "failing folder") ++badRequests;
  EXPECT_EQ(badRequests, 10u);
  // The task's result names the folder, and its summary counts it.
  EXPECT_EQ(rig.task->context().failedFolders.list(), (std::vector<std::u16string>{u"/e/bad"}));
  EXPECT_NE(rig.log().find("，未能读取的目录数量： 1\r\n"), std::string::npos) << rig.log();
}

TEST(Crawler, StatementsNotYetWrittenAreDroppedByAStop) {
  HookClock clock;
  TaskRig rig(clock);
  // 17 entries: groups of 10, so a stop after entry 15 leaves 5 statements unwritten.
  for (int i = 1; i <= 17; ++i) rig.sim().addFile(kUser, "/s/f" + Three(i), 1);
  rig.select(u"/s");
  Latch latch;
  std::atomic<int> entryWaits{0};
  clock.setHook([&](std::chrono::milliseconds d) {
    if (d == 5ms && ++entryWaits == 15) latch.arriveAndWait();
  });
  rig.task->startCheck();
  ASSERT_TRUE(latch.waitForArrival());
  rig.platform.answerNext(kIdYes);
  rig.task->stopCheck();
  latch.open();
  rig.waitForEnd();

  EXPECT_EQ(rig.rows().size(), 10u);
  EXPECT_EQ(rig.status(), "已手动停止。");
  // No dispatcher and no check phase after a stop while scanning.
  EXPECT_EQ(rig.log().find("开始检测："), std::string::npos);
  EXPECT_TRUE(rig.form.enabled(FormButton::kStartCheck));
  EXPECT_EQ(rig.promptTexts(), (std::vector<std::string>{"确定停止检查任务？"}));
}

TEST(FolderQueue, RefusesAnItemEqualToOneStillWaiting) {
  FolderQueue queue;
  EXPECT_TRUE(queue.push("a"));
  EXPECT_FALSE(queue.push("a"));
  EXPECT_TRUE(queue.push("b"));
  EXPECT_EQ(queue.pop(), "a");
  EXPECT_TRUE(queue.push("a"));
  EXPECT_EQ(queue.pop(), "b");
  EXPECT_EQ(queue.pop(), "a");
  EXPECT_EQ(queue.pop(), std::nullopt);
  EXPECT_EQ(FolderItem("12", "3", "/a/it&amp;apos;s", "03", "001003"),
            "12-|||||-3-|||||-/a/it&apos;s-|||||-03-|||||-001003");
}

}  // namespace
}  // namespace pansift
