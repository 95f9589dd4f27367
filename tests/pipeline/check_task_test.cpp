#include "pipeline/check_task.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <new>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "pipeline/catalogue_db.h"
#include "pipeline/locked_catalogue.h"
#include "pipeline/task_rig.h"
#include "pipeline/worker_pool.h"
#include "support/wait_until.h"
#include "util/codepage.h"
#include "util/escapes.h"
#include "util/text.h"

namespace pansift {
namespace {

using testing::HookClock;
using testing::kUser;
using testing::Latch;
using testing::Rows;
using testing::TaskRig;
using namespace std::chrono_literals;

const std::string kMarkBlocked = "已和谐";
const std::string kMarkNormal = "正常";
const char* kSummary = "已检测完成，总检测文件数量： ";

// Marks by fs_id, from the catalogue file.
std::map<std::string, std::string> Marks(const TaskRig& rig) {
  std::map<std::string, std::string> marks;
  for (const auto& row : rig.rows()) marks[row[kColTarget]] = row[kColOther1];
  return marks;
}

// The summary line of the log (without stamp and line end), or "".
std::string SummaryLine(const TaskRig& rig) {
  std::string log = rig.log();
  size_t at = log.find(kSummary);
  if (at == std::string::npos) return {};
  return log.substr(at, log.find("\r\n", at) - at);
}

// Each case once with each way of searching a refused batch (false: file by file).
template <class Case>
std::vector<std::pair<const Case*, bool>> CasesByBothSearches(const std::vector<Case>& cases) {
  std::vector<std::pair<const Case*, bool>> runs;
  for (bool halving : {false, true}) {
    for (const Case& c : cases) runs.emplace_back(&c, halving);
  }
  return runs;
}

TEST(CheckTask, StartChecksTheSettingsInOrder) {
  struct Case {
    const char* what;
    std::function<void(TaskRig&)> arrange;
    std::vector<std::string> prompts;
    const char* checkThreadsAfter;
  };
  const std::vector<Case> cases = {
      {"no account",
       [](TaskRig& r) { r.app.currentCookies.set(""); },
       {"请选切换要操作的cookies."},
       "3"},
      {"nothing selected",
       [](TaskRig& r) { r.tree.select(kNoNode); },
       {"没有选择要检查的目录。"},
       "3"},
      {"a file selected",
       [](TaskRig& r) { r.tree.select(r.tree.addNode(r.root, u"a.txt", 1, kNodeFile)); },
       {"选择的不是目录。"},
       "3"},
      {"no depth",
       [](TaskRig& r) { r.form.setText(FormText::kDepth, ""); },
       {"请设置要检查的深度。"},
       "3"},
      {"8 threads, answered No",
       [](TaskRig& r) {
         r.form.setText(FormText::kCheckThreads, "8");
         r.platform.answerNext(kIdNo);
       },
       {"当前设置的检测线程数（ 8 ）过大，可能会导致检测频繁，是否继续？"},
       "8"},
      {"8 threads, Yes, then no depth",
       [](TaskRig& r) {
         r.form.setText(FormText::kCheckThreads, "8");
         r.form.setText(FormText::kDepth, "");
         r.platform.answerNext(kIdYes);
       },
       {"当前设置的检测线程数（ 8 ）过大，可能会导致检测频繁，是否继续？", "请设置要检查的深度。"},
       "3"},
      {"5 threads, Yes, then no depth",
       [](TaskRig& r) {
         r.form.setText(FormText::kCheckThreads, "5");
         r.form.setText(FormText::kDepth, "");
         r.platform.answerNext(kIdYes);
       },
       {"当前设置的检测线程数（ 5 ）过大，可能会导致检测频繁，是否继续？", "请设置要检查的深度。"},
       "5"},
      {"empty thread box, no depth",
       [](TaskRig& r) {
         r.form.setText(FormText::kCheckThreads, "");
         r.form.setText(FormText::kDepth, "");
       },
       {"请设置要检查的深度。"},
       "3"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    FakeClock clock;
    TaskRig rig(clock);
    rig.select(u"/d");
    c.arrange(rig);
    rig.task->startCheck();
    EXPECT_EQ(rig.promptTexts(), c.prompts);
    EXPECT_EQ(rig.form.text(FormText::kCheckThreads), c.checkThreadsAfter);
    EXPECT_TRUE(rig.form.enabled(FormButton::kStartCheck));
    EXPECT_FALSE(rig.task->active());
  }
}

TEST(CheckTask, PrereadThreadsAreCappedAt30AndSetThePoolsMaximum) {
  for (auto [typed, box, max] : std::vector<std::tuple<const char*, const char*, int>>{
           {"45", "30", 30}, {"0", "0", 1}, {"12", "12", 12}}) {
    SCOPED_TRACE(typed);
    FakeClock clock;
    TaskRig rig(clock);
    rig.select(u"/d");
    rig.form.setText(FormText::kDepth, "");
    rig.form.setText(FormText::kPrereadThreads, typed);
    rig.task->startCheck();
    EXPECT_EQ(rig.form.text(FormText::kPrereadThreads), box);
    EXPECT_EQ(rig.task->context().pool.maxThreads(), max);
  }
}

// A tree of about 10 000 entries with blocked files at known places, listed by 10
// crawl threads through slow, empty and cut-off replies.
TEST(CheckTask, CataloguesAWholeTreeOnceAndMarksEveryFile) {
  testing::ScaledClock clock;
  TaskRig rig(clock);
  sim::GenerateOptions generate;
  generate.files = 9900;
  generate.depth = 3;
  generate.fanout = 4;
  generate.blocked = 0;
  generate.seed = 7;
  generate.under = "/big";
  rig.sim().generate(kUser, generate);
  // Two blocked files share a batch; one is alone in its batch.
  const std::vector<std::string> blockedPaths = {"/big/blocked top.bin", "/big/zz/mixed/b050.bin",
                                                 "/big/zz/mixed/b051.bin"};
  for (int i = 1; i <= 150; ++i) {
    char name[32];
    std::snprintf(name, sizeof name, "/big/zz/mixed/b%03d.bin", i);
    rig.sim().addFile(kUser, name, static_cast<std::uint64_t>(i));
  }
  for (const std::string& path : blockedPaths) rig.sim().addFile(kUser, path, 1, true);

  sim::Faults& faults = rig.sim().faults();
  faults.list.latencyMs = 1;
  faults.list.emptyProbability = 0.05;
  faults.list.cutProbability = 0.05;
  rig.form.setText(FormText::kPrereadThreads, "10");
  rig.form.setText(FormText::kCheckThreads, "5");
  rig.platform.answerNext(kIdYes);
  rig.form.setText(FormText::kFilesPerBatch, "20");
  rig.select(u"/big");
  rig.runToEnd();

  // Every entry of the simulated tree exactly once, by fs_id: the generated tree holds
  // names that differ only by an entity word or literal "\u0031" text, which no
  // decoding of the stored path done here could tell apart.
  std::multiset<std::string> catalogued;
  for (const auto& row : rig.rows()) catalogued.insert(row[kColTarget]);
  std::set<std::string> expected;
  rig.sim().withTree(kUser, [&](sim::FileTree& tree) {
    std::vector<std::string> folders = {"/big"};
    while (!folders.empty()) {
      std::string folder = folders.back();
      folders.pop_back();
      std::vector<sim::EntryInfo> entries;
      tree.list(folder, "name", false, 1, 1000000, entries);
      for (const auto& e : entries) {
        expected.insert(std::to_string(e.fsId));
        if (e.isdir) folders.push_back(e.path);
      }
    }
  });
  ASSERT_GE(expected.size(), 10000u);
  EXPECT_EQ(catalogued.size(), expected.size());
  EXPECT_EQ(std::set<std::string>(catalogued.begin(), catalogued.end()), expected);
  EXPECT_EQ(rig.errors(), "");

  std::set<std::string> blockedIds;
  for (const std::string& path : blockedPaths)
    blockedIds.insert(std::to_string(rig.sim().find(kUser, path)->fsId));
  size_t normal = 0;
  for (const auto& [id, mark] : Marks(rig)) {
    if (blockedIds.count(id)) {
      EXPECT_EQ(mark, kMarkBlocked) << id;
    } else {
      EXPECT_EQ(mark, kMarkNormal) << id;
      ++normal;
    }
  }
  EXPECT_EQ(normal, expected.size() - blockedPaths.size());
  // Reported once each, with the path as catalogued.
  std::multiset<std::string> reported;
  for (const auto& [id, path] : rig.blockedFiles()) {
    reported.insert(id);
    auto info = rig.sim().find(
        kUser, UnicodeToUtf8(DecodeUnicodeEscapes(DecodeEntities(DecodeEntities(path)))));
    ASSERT_TRUE(info) << LocalToUtf8(path);
    EXPECT_EQ(info->fsId, std::stoull(id));
  }
  EXPECT_EQ(reported, std::multiset<std::string>(blockedIds.begin(), blockedIds.end()));
  EXPECT_EQ(rig.app.blockedCount.load(), 3);
  EXPECT_EQ(SummaryLine(rig), kSummary + std::to_string(expected.size()) +
                                  " ，其中被和谐文件(禁止下载的文件)数量： 3");
  EXPECT_EQ(rig.status(), "检查任务完成。");
  EXPECT_EQ(rig.promptTexts().back(), "检查任务已完成。");
  EXPECT_TRUE(rig.form.enabled(FormButton::kStartCheck));
}

// Whatever keeps the probe from an answer, no file is called normal without one,
// whichever way a refused batch is searched.
TEST(CheckTask, FilesTheProbeCouldNotDecideStayUnmarkedAndAreCounted) {
  struct Case {
    const char* what;
    std::function<void(sim::Faults&)> arm;
  };
  const std::vector<Case> cases = {
      {"errno 2 throughout", [](sim::Faults& f) { f.download.errno2Probability = 1.0; }},
      {"rate limited", [](sim::Faults& f) { f.download.rateLimitRequests = 1; }},
      {"no sign", [](sim::Faults& f) { f.templateVariable.emptyProbability = 1.0; }},
  };
  for (const auto& [c, halving] : CasesByBothSearches(cases)) {
    SCOPED_TRACE(std::string(c->what) + (halving ? ", by halves" : ", file by file"));
    FakeClock clock;
    TaskRig rig(clock);
    for (int i = 1; i <= 30; ++i) rig.sim().addFile(kUser, "/p/f" + std::to_string(i), 1);
    rig.sim().addFile(kUser, "/p/bad", 1, true);
    c->arm(rig.sim().faults());
    rig.form.setText(FormText::kFilesPerBatch, "10");
    rig.form.setHalvingSearch(halving);
    rig.form.setText(FormText::kAutoDelay, "1");
    rig.select(u"/p");
    rig.runToEnd();

    // Every "正常" was said by a probe that asked about that file; the rest stay unmarked.
    std::set<std::string> saidNormal;
    for (const auto& entry : rig.sim().log().entries("/api/download")) {
      if (entry.reply.rfind("{\"errno\":0,", 0) != 0) continue;
      size_t from = entry.query.find("fidlist=%5B") + 11;
      std::string list = entry.query.substr(from, entry.query.find("%5D", from) - from);
      for (const std::string& id : SplitText(ReplaceText(list, "%2C", ","), ","))
        saidNormal.insert(id);
    }
    size_t unmarked = 0;
    for (const auto& [id, mark] : Marks(rig)) {
      if (mark == kMarkNormal) {
        EXPECT_TRUE(saidNormal.count(id)) << id;
      }
      if (mark == "<null>") ++unmarked;
    }
    EXPECT_GT(unmarked, 0u);
    EXPECT_EQ(SummaryLine(rig), kSummary +
                                    std::string("31 ，其中被和谐文件(禁止下载的文件)数量： ") +
                                    std::to_string(rig.app.blockedCount.load()) +
                                    "，未能检测的文件数量： " + std::to_string(unmarked));
  }
}

// The task acts for the account operating when it started: a switch of account while
// its first listing waits changes none of its requests, and the files are marked by
// the answers about the starting account's files. The other account holds the same
// paths, with another file blocked.
TEST(CheckTask, ASwitchOfAccountMidTaskLeavesTheTaskWithItsAccount) {
  FakeClock clock;
  TaskRig rig(clock);
  const std::string cookiesA = rig.app.currentCookies.get();
  rig.app.currentUserName.set(L8(kUser));
  rig.sim().addFile(kUser, "/d/a.txt", 1);
  rig.sim().addFile(kUser, "/d/bad.mkv", 1, true);
  rig.sim().addFile(kUser, "/d/sub/c.txt", 1);
  const char* userB = "乙&amp;用户";
  const std::string cookiesB = rig.sim().addAccount({.userName = userB, .bdstoken = "tokB"});
  rig.sim().addFile(userB, "/d/a.txt", 1, true);
  rig.sim().addFile(userB, "/d/bad.mkv", 1);
  std::vector<std::string> reportedFor;
  std::mutex reportedMutex;
  rig.task = std::make_unique<CheckTask>(
      rig.app, rig.form, rig.tree,
      [&](const Credentials& account, const std::string&, const std::string&) {
        std::lock_guard lock(reportedMutex);
        reportedFor.push_back(LocalToUtf8(account.userName) + " " + account.cookies);
      },
      CataloguePath(rig.dir.path()));
  rig.select(u"/d");

  rig.sim().faults().holdRequestsOf(cookiesA, "/api/list");
  rig.task->startCheck();
  ASSERT_TRUE(testing::WaitUntil([&] { return rig.sim().faults().heldRequests() == 1; }));
  rig.app.currentUserName.set(L8(userB));
  rig.app.currentCookies.set(cookiesB);
  rig.app.currentBdstoken.set("tokB");
  rig.sim().faults().releaseHeld();
  rig.waitForEnd();

  std::map<std::string, std::set<std::string>> accountsByEndpoint;
  for (const sim::LoggedRequest& r : rig.sim().log().entries())
    accountsByEndpoint[r.endpoint].insert(r.account);
  const std::set<std::string> onlyA = {kUser};
  EXPECT_EQ(
      accountsByEndpoint,
      (std::map<std::string, std::set<std::string>>{
          {"/api/download", onlyA}, {"/api/gettemplatevariable", onlyA}, {"/api/list", onlyA}}));
  std::map<std::string, std::string> expected;
  for (const auto& [path, mark] :
       std::vector<std::pair<const char*, std::string>>{{"/d/a.txt", kMarkNormal},
                                                        {"/d/bad.mkv", kMarkBlocked},
                                                        {"/d/sub/c.txt", kMarkNormal},
                                                        {"/d/sub", kMarkNormal}})
    expected[std::to_string(rig.sim().find(kUser, path)->fsId)] = mark;
  EXPECT_EQ(Marks(rig), expected);
  EXPECT_EQ(reportedFor, std::vector<std::string>{kUser + (" " + cookiesA)});
  EXPECT_EQ(SummaryLine(rig), kSummary + std::string("4 ，其中被和谐文件(禁止下载的文件)数量： 1"));
}

struct HeldTask {
  HookClock clock;
  TaskRig rig{clock};
  Latch latch;
};

TEST(CheckTask, StopWhileDispatchingStillEndsWithTheSummary) {
  HeldTask held;
  TaskRig& rig = held.rig;
  for (const char* path :
       {"/s/a.txt", "/s/b.txt", "/s/one/x1", "/s/one/x2", "/s/one/x3", "/s/two/y1", "/s/three/z1"})
    rig.sim().addFile(kUser, path, 1);
  rig.form.setText(FormText::kPrereadThreads, "1");
  rig.select(u"/s");
  // Five entries at the top; the seventh entry wait is inside a sub-folder's crawl.
  std::atomic<int> entryWaits{0};
  held.clock.setHook([&](std::chrono::milliseconds d) {
    if (d == 5ms && ++entryWaits == 7) held.latch.arriveAndWait();
  });
  rig.task->startCheck();
  ASSERT_TRUE(held.latch.waitForArrival());
  rig.platform.answerNext(kIdYes);
  rig.task->stopCheck();
  EXPECT_TRUE(rig.form.enabled(FormButton::kStartCheck));
  // The stopped task still drains: a new start is refused and changes nothing.
  rig.app.blockedCount = 5;
  rig.task->startCheck();
  EXPECT_EQ(rig.app.blockedCount.load(), 5);
  EXPECT_TRUE(rig.app.stopRequested.load());
  rig.app.blockedCount = 0;
  held.latch.open();
  rig.waitForEnd();

  // Every folder row was taken; no row was checked.
  for (const auto& row : rig.rows()) {
    if (row[kColType] == "1") {
      EXPECT_EQ(row[kColQueried], "1");
    }
    EXPECT_EQ(row[kColOther1], "<null>");
  }
  const size_t rows = rig.rows().size();
  EXPECT_EQ(SummaryLine(rig),
            kSummary + std::to_string(rows) +
                " ，其中被和谐文件(禁止下载的文件)数量： 0，未能检测的文件数量： " +
                std::to_string(rows));
  EXPECT_EQ(rig.promptTexts(),
            (std::vector<std::string>{"确定停止检查任务？", "当前有读取任务在运行中。",
                                      "检查任务已完成。"}));
  EXPECT_EQ(rig.sim().log().count("/api/download"), 0u);
}

// A task thread that ends by an exception ends its task: the log and the status bar
// say so, 按钮_开始检查 is free again, and the next task runs to its end.
TEST(CheckTask, ATaskThreadThatThrowsEndsItsTaskAndTheNextTaskRuns) {
  struct Case {
    const char* what;
    std::function<void(HeldTask&, const std::atomic<bool>& armed)> arm;
    std::string shown;
  };
  const std::vector<Case> cases = {
      {"the crawl of the selected folder runs out of memory",
       [](HeldTask& held, const std::atomic<bool>& armed) {
         // Only the selected folder's crawl waits between entries here: it has no subfolders.
         held.clock.setHook([&armed](std::chrono::milliseconds d) {
           if (armed && d == 5ms) throw std::bad_alloc();
         });
       },
       "后台任务“检查任务”出错，已中止：std::bad_alloc"},
      {"the dispatcher fails",
       [](HeldTask& held, const std::atomic<bool>& armed) {
         TaskContext& context = held.rig.task->context();
         context.afterDispatch = [&armed, then = context.afterDispatch] {
           if (armed) throw std::runtime_error("dispatch \"failed\" &amp;");
           then();
         };
       },
       "后台任务“检查任务”出错，已中止：dispatch \"failed\" &amp;"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    HeldTask held;
    TaskRig& rig = held.rig;
    for (const char* path : {"/e/a.txt", "/e/b.txt", "/e/c.txt"}) rig.sim().addFile(kUser, path, 1);
    rig.select(u"/e");
    std::atomic<bool> armed{true};
    c.arm(held, armed);
    rig.runToEnd();
    EXPECT_FALSE(rig.task->active());
    EXPECT_TRUE(rig.form.enabled(FormButton::kStartCheck));
    EXPECT_EQ(rig.status(), c.shown);
    EXPECT_NE(rig.log().find(c.shown), std::string::npos);
    EXPECT_EQ(SummaryLine(rig), "");

    armed = false;
    rig.runToEnd();
    EXPECT_EQ(SummaryLine(rig),
              kSummary + std::string("3 ，其中被和谐文件(禁止下载的文件)数量： 0"));
    EXPECT_EQ(rig.status(), "检查任务完成。");
    EXPECT_EQ(Marks(rig).size(), 3u);
  }
}

TEST(CheckTask, StopWhileCheckingEndsTheRemainingBatchesAtOnce) {
  HeldTask held;
  TaskRig& rig = held.rig;
  for (int i = 1; i <= 40; ++i) rig.sim().addFile(kUser, "/c/f" + std::to_string(i), 1);
  rig.form.setText(FormText::kFilesPerBatch, "10");
  rig.form.setText(FormText::kCheckThreads, "1");
  rig.select(u"/c");
  // Held at the check dispatcher's second wait: one batch has been posted.
  std::atomic<int> dispatchWaits{0};
  held.clock.setHook([&](std::chrono::milliseconds d) {
    if (d == 100ms && ++dispatchWaits == 2) held.latch.arriveAndWait();
  });
  rig.task->startCheck();
  ASSERT_TRUE(held.latch.waitForArrival());
  rig.platform.answerNext(kIdYes);
  rig.task->stopCheck();
  held.latch.open();
  rig.waitForEnd();

  size_t normal = 0, unmarked = 0;
  for (const auto& [id, mark] : Marks(rig)) (mark == kMarkNormal ? normal : unmarked) += 1;
  EXPECT_LE(normal, 10u);
  EXPECT_EQ(normal + unmarked, 40u);
  EXPECT_EQ(SummaryLine(rig),
            kSummary +
                std::string("40 ，其中被和谐文件(禁止下载的文件)数量： 0，未能检测的文件数量： ") +
                std::to_string(unmarked));
  EXPECT_NE(rig.log().find("已手动停止。"), std::string::npos);
  EXPECT_EQ(rig.promptTexts().back(), "检查任务已完成。");
}

// A task stopped at each point of its way, then started again on the same folder,
// account and depth and resumed: the catalogue ends with every entry once and every
// file marked by an answer, the resumed run asks about no file the stopped one had
// marked, and the summary counts the whole task.
TEST(CheckTask, AStoppedTaskResumedEndsWithTheWholeTask) {
  struct Case {
    const char* what;
    std::chrono::milliseconds wait;  // stopped at the `at`th wait of this length
    int at;
    const char* phase;  // the phase the catalogue records at the stop
  } cases[] = {
      // 22 entries at the top go in by 20: two are left out.
      {"in the selected folder's own listing", 5ms, 21, "list"},
      // The dispatcher takes every folder left after the stop, listing none of them.
      {"while a folder below is listed", 5ms, 25, "crawl"},
      {"in the check phase", 100ms, 3, "check"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    HeldTask held;
    TaskRig& rig = held.rig;
    rig.app.currentUk.set("1098765432");
    rig.sim().addFile(kUser, "/r/a.txt", 1);
    rig.sim().addFile(kUser, "/r/坏.mp4", 1, true);
    for (int i = 1; i <= 17; ++i) rig.sim().addFile(kUser, "/r/f" + std::to_string(100 + i), 1);
    rig.sim().addFile(kUser, "/r/one/x1", 1);
    rig.sim().addFile(kUser, "/r/one/坏2", 1, true);
    rig.sim().addFile(kUser, "/r/two/y1", 1);
    rig.sim().addFile(kUser, "/r/two/deep/z1", 1);
    rig.sim().addFile(kUser, "/r/three/z2", 1);
    rig.form.setText(FormText::kPrereadThreads, "1");
    rig.form.setText(FormText::kFilesPerBatch, "5");
    rig.select(u"/r");
    std::atomic<int> waits{0};
    held.clock.setHook([&](std::chrono::milliseconds d) {
      if (d == c.wait && ++waits == c.at) held.latch.arriveAndWait();
    });
    rig.task->startCheck();
    ASSERT_TRUE(held.latch.waitForArrival());
    rig.platform.answerNext(kIdYes);
    rig.task->stopCheck();
    held.latch.open();
    rig.waitForEnd();
    held.clock.setHook(nullptr);
    EXPECT_EQ(testing::CatalogueRows(rig.dir.file("vintrel.db"),
                                     "select phase from task where listing is null"),
              (Rows{{c.phase}}));
    std::set<std::string> markedAtStop;
    for (const auto& [id, mark] : Marks(rig)) {
      if (mark != "<null>") markedAtStop.insert(id);
    }
    const size_t rowsAtStop = rig.rows().size();
    const size_t logFrom = rig.log().size();
    rig.sim().log().clear();

    rig.platform.answerNext(kIdYes);
    rig.runToEnd();
    const std::vector<std::string> prompts = rig.promptTexts();
    EXPECT_NE(std::find(prompts.begin(), prompts.end(),
                        "上次对该目录的检查未完成（已检查 " + std::to_string(markedAtStop.size()) +
                            " / " + std::to_string(rowsAtStop) + " 个文件），是否继续上次的检查？"),
              prompts.end());
    std::multiset<std::string> catalogued;
    for (const auto& row : rig.rows()) catalogued.insert(row[kColTarget]);
    std::multiset<std::string> expected;
    for (const char* path :
         {"/r/a.txt", "/r/坏.mp4", "/r/one", "/r/one/x1", "/r/one/坏2", "/r/two", "/r/two/y1",
          "/r/two/deep", "/r/two/deep/z1", "/r/three", "/r/three/z2"})
      expected.insert(std::to_string(rig.sim().find(kUser, path)->fsId));
    for (int i = 1; i <= 17; ++i)
      expected.insert(
          std::to_string(rig.sim().find(kUser, "/r/f" + std::to_string(100 + i))->fsId));
    EXPECT_EQ(catalogued, expected);
    const std::set<std::string> blocked = {
        std::to_string(rig.sim().find(kUser, "/r/坏.mp4")->fsId),
        std::to_string(rig.sim().find(kUser, "/r/one/坏2")->fsId)};
    for (const auto& [id, mark] : Marks(rig))
      EXPECT_EQ(mark, blocked.count(id) ? kMarkBlocked : kMarkNormal) << id;
    for (const sim::LoggedRequest& probe : rig.sim().log().entries("/api/download")) {
      const std::string list =
          probe.query.substr(probe.query.find("fidlist=%5B") + 11,
                             probe.query.find("%5D") - probe.query.find("fidlist=%5B") - 11);
      for (const std::string& id : SplitText(list, "%2C"))
        EXPECT_FALSE(markedAtStop.count(id)) << "asked again: " << id;
    }
    const std::string log = rig.log().substr(logFrom);
    EXPECT_NE(log.find(kSummary + std::to_string(expected.size()) +
                       " ，其中被和谐文件(禁止下载的文件)数量： 2\r\n"),
              std::string::npos)
        << log;
    EXPECT_EQ(testing::CatalogueRows(rig.dir.file("vintrel.db"),
                                     "select phase from task where listing is null"),
              (Rows{{"done"}}));
  }
}

TEST(CheckTask, PauseFreezesTheCrawlAndResumeContinues) {
  HeldTask held;
  TaskRig& rig = held.rig;
  for (int i = 1; i <= 30; ++i) rig.sim().addFile(kUser, "/z/f" + std::to_string(i), 1);
  rig.select(u"/z");
  std::atomic<int> entryWaits{0};
  std::atomic<int> pauseWaits{0};
  Latch frozen;
  held.clock.setHook([&](std::chrono::milliseconds d) {
    if (d == 5ms && ++entryWaits == 7) held.latch.arriveAndWait();
    if (d == 1000ms && rig.app.paused.load() && ++pauseWaits == 5) frozen.arriveAndWait();
  });
  rig.task->startCheck();
  ASSERT_TRUE(held.latch.waitForArrival());
  EXPECT_EQ(LocalToUtf8(rig.form.caption(FormButton::kPauseCheck)), "暂停");
  rig.task->togglePause();
  EXPECT_EQ(LocalToUtf8(rig.form.caption(FormButton::kPauseCheck)), "继续");
  EXPECT_TRUE(rig.form.enabled(FormButton::kPauseCheck));
  held.latch.open();
  // Five seconds of pause later the crawl has not moved on.
  ASSERT_TRUE(frozen.waitForArrival());
  EXPECT_EQ(rig.app.prereadCount.load(), 7);
  rig.task->togglePause();
  EXPECT_EQ(LocalToUtf8(rig.form.caption(FormButton::kPauseCheck)), "暂停");
  frozen.open();
  rig.waitForEnd();
  EXPECT_EQ(rig.rows().size(), 30u);
  EXPECT_EQ(rig.app.prereadCount.load(), 30);
  EXPECT_EQ(SummaryLine(rig),
            kSummary + std::string("30 ，其中被和谐文件(禁止下载的文件)数量： 0"));
}

}  // namespace
}  // namespace pansift

namespace pansift {
namespace {

struct SearchRun {
  std::map<std::string, std::string> marksByPath;
  std::multiset<std::string> blockedLines;  // the log's "文件已被和谐：" lines, unstamped
  std::multiset<std::string> reported;      // stored paths handed to the blocked list
  std::string summary;
  size_t probes = 0;
};

// Files /p/f01../p/fNN, the numbered ones blocked; the catalogue gives f01 id 1 and
// so on, so batch edges fall where the numbers say.
void AddNumberedFiles(TaskRig& rig, int files, const std::set<int>& blocked) {
  for (int i = 1; i <= files; ++i) {
    char name[16];
    std::snprintf(name, sizeof name, "/p/f%02d", i);
    rig.sim().addFile(kUser, name, 1, blocked.count(i) > 0);
  }
  rig.select(u"/p");
}

std::string NumberedPath(int i) {
  char name[16];
  std::snprintf(name, sizeof name, "f%02d", i);
  return name;
}

// The mark of each numbered file, by number.
std::map<int, std::string> MarksByNumber(const TaskRig& rig) {
  std::map<int, std::string> marks;
  for (const auto& row : rig.rows()) {
    const std::string& path = row[kColFolder];
    marks[std::stoi(path.substr(path.rfind('f') + 1))] = row[kColOther1];
  }
  return marks;
}

// A check of /p (files f01.. in batches of `batch`, the numbered ones blocked) by one
// of the two ways of searching a refused batch.
SearchRun RunSearch(bool halving, int files, const std::set<int>& blocked, int batch) {
  FakeClock clock;
  TaskRig rig(clock);
  AddNumberedFiles(rig, files, blocked);
  rig.form.setText(FormText::kFilesPerBatch, std::to_string(batch));
  rig.form.setHalvingSearch(halving);
  rig.runToEnd();

  SearchRun run;
  for (const auto& row : rig.rows()) {
    run.marksByPath[row[kColFolder]] = row[kColOther1];
    EXPECT_NE(row[kColFolder].find(NumberedPath(std::stoi(row[kColId]))), std::string::npos)
        << row[kColFolder] << " has id " << row[kColId];
  }
  for (const std::string& line : SplitText(rig.log(), "\r\n")) {
    size_t at = line.find("文件已被和谐：");
    if (at != std::string::npos) run.blockedLines.insert(line.substr(at));
  }
  for (const auto& [fsId, path] : rig.blockedFiles()) run.reported.insert(path);
  run.summary = SummaryLine(rig);
  run.probes = rig.sim().log().count("/api/download");
  EXPECT_EQ(rig.sim().log().rejected(), 0u);
  return run;
}

TEST(CheckTask, HalvingMarksExactlyTheFilesTheFileByFileSearchMarks) {
  struct Case {
    const char* what;
    int files;
    std::set<int> blocked;
  } cases[] = {
      // Batches of 10: blocked files at the first and last place of batches, two
      // side by side across a batch edge, a whole batch, and the last short batch.
      {"edges", 47, {1, 10, 11, 20, 21, 22, 23, 24, 25, 26, 27, 28, 29, 30, 46, 47}},
      {"side by side inside a batch, odd batch", 9, {4, 5}},
      {"none", 23, {}},
      {"all", 12, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12}},
      {"one alone", 31, {31}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    SearchRun byFile = RunSearch(false, c.files, c.blocked, 10);
    SearchRun byHalves = RunSearch(true, c.files, c.blocked, 10);
    EXPECT_EQ(byHalves.marksByPath, byFile.marksByPath);
    EXPECT_EQ(byHalves.blockedLines, byFile.blockedLines);
    EXPECT_EQ(byHalves.reported, byFile.reported);
    EXPECT_EQ(byHalves.summary, byFile.summary);
    EXPECT_EQ(byFile.reported.size(), c.blocked.size());
    size_t marked = 0;
    for (const auto& [path, mark] : byFile.marksByPath) {
      if (mark == kMarkBlocked || mark == kMarkNormal) ++marked;
    }
    EXPECT_EQ(marked, static_cast<size_t>(c.files));
  }
}

TEST(CheckTask, HalvingFindsOneBlockedFileInABatchOf50WithFewProbes) {
  for (int blocked : {1, 25, 26, 37, 50}) {
    SCOPED_TRACE(blocked);
    SearchRun byFile = RunSearch(false, 50, {blocked}, 50);
    SearchRun byHalves = RunSearch(true, 50, {blocked}, 50);
    EXPECT_EQ(byHalves.marksByPath, byFile.marksByPath);
    EXPECT_EQ(byHalves.reported.size(), 1u);
    EXPECT_EQ(byFile.probes, 51u);             // the batch, then every file
    EXPECT_LE(byHalves.probes, 2u * 6u + 1u);  // the batch, then 2 per halving
  }
}

// A batch of eight with f02 blocked, searched by halves. Its probes: [1-8] refused,
// [1-4] refused, [1,2] refused, [1] normal, [2] blocked, [3,4] normal, [5-8] normal;
// the task waits the submit interval (7 s here) after each but the first, and marks
// what a probe decided after that wait.
constexpr std::chrono::milliseconds kSubmitWait = 7s;

struct EightFiles {
  explicit EightFiles(bool halving) {
    AddNumberedFiles(held.rig, 8, {2});
    held.rig.form.setText(FormText::kFilesPerBatch, "10");
    held.rig.form.setText(FormText::kSubmitInterval, "7");
    held.rig.form.setHalvingSearch(halving);
  }
  size_t probes() { return held.rig.sim().log().count("/api/download"); }
  HeldTask held;
};

// A refused batch announces its split, and before each probe of the split the status
// says how far it has come: the file it asks about, or the first file of the half.
TEST(CheckTask, SplitProgressCountsTheFilesDecidedSoFar) {
  struct Case {
    bool halving;
    std::vector<int> shown;  // k of "  进度：k / 8" before the 2nd, 3rd, ... probe
  } cases[] = {
      {false, {1, 2, 3, 4, 5, 6, 7, 8}},
      {true, {1, 1, 1, 2, 3, 5}},
  };
  const std::string splitting = "当前文件组中有和谐文件，正在分开对比中。";
  for (const Case& c : cases) {
    SCOPED_TRACE(c.halving);
    EightFiles eight(c.halving);
    TaskRig& rig = eight.held.rig;
    std::mutex mutex;
    std::vector<std::string> shown;
    Subscription watch = rig.app.status.subscribe([&](const StatusChanged& change) {
      const std::string text = LocalToUtf8(change.text);
      if (text.rfind(splitting, 0) != 0) return;
      std::lock_guard lock(mutex);
      shown.push_back(text.substr(splitting.size()) + " after " + std::to_string(eight.probes()));
    });
    rig.runToEnd();
    std::vector<std::string> expected = {" after 1"};
    for (size_t i = 0; i < c.shown.size(); ++i) {
      expected.push_back("  进度：" + std::to_string(c.shown[i]) + " / 8 after " +
                         std::to_string(i + 1));
    }
    std::lock_guard lock(mutex);
    EXPECT_EQ(shown, expected);
  }
}

// Whatever happens between two probes of the search, a row is marked only by an
// answer about a group it belongs to, and the search goes no further than it may.
TEST(CheckTask, HalvingMarksOnlyWhatAProbeAnsweredAndHoldsAtTheGates) {
  enum class Act { kUndecided, kStop, kPause };
  struct Case {
    const char* what;
    int atWait;  // the submit wait (1: after the second probe) at which the test acts
    Act act;
    std::set<int> unmarked;
    bool blockedFound;
    size_t probes;
    int submitWaits;  // one after every probe but the batch's, one at the end; none once stopped
  } cases[] = {
      {"a half of two undecided", 1, Act::kUndecided, {1, 2}, false, 5, 5},
      {"a single normal file undecided", 2, Act::kUndecided, {1}, true, 7, 7},
      {"the blocked file undecided", 3, Act::kUndecided, {2}, false, 7, 7},
      {"the last half undecided", 5, Act::kUndecided, {5, 6, 7, 8}, true, 7, 7},
      {"stopped after a single file's probe", 3, Act::kStop, {2, 3, 4, 5, 6, 7, 8}, false, 4, 3},
      {"paused after a single file's probe", 3, Act::kPause, {}, true, 7, 7},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EightFiles eight(true);
    TaskRig& rig = eight.held.rig;
    std::atomic<int> submitWaits{0};
    std::atomic<int> pausedWaits{0};
    eight.held.clock.setHook([&](std::chrono::milliseconds d) {
      if (d == kSubmitWait && ++submitWaits == c.atWait) eight.held.latch.arriveAndWait();
      if (d == 1000ms && rig.app.paused.load()) ++pausedWaits;
    });
    rig.task->startCheck();
    ASSERT_TRUE(eight.held.latch.waitForArrival());
    const size_t probesBefore = eight.probes();
    switch (c.act) {
      case Act::kUndecided:
        rig.sim().faults().download.unknownReplies = 1;
        break;
      case Act::kStop:
        rig.platform.answerNext(kIdYes);
        rig.task->stopCheck();
        break;
      case Act::kPause:
        rig.task->togglePause();
        break;
    }
    eight.held.latch.open();
    if (c.act == Act::kPause) {
      ASSERT_TRUE(testing::WaitUntil([&] { return pausedWaits.load() >= 3; }));
      EXPECT_EQ(eight.probes(), probesBefore);
      rig.task->togglePause();
    }
    rig.waitForEnd();

    std::map<int, std::string> expected;
    for (int i = 1; i <= 8; ++i) {
      expected[i] = c.unmarked.count(i) ? "<null>" : i == 2 ? kMarkBlocked : kMarkNormal;
    }
    EXPECT_EQ(MarksByNumber(rig), expected);
    EXPECT_EQ(rig.blockedFiles().size(), c.blockedFound ? 1u : 0u);
    EXPECT_EQ(rig.log().find("文件已被和谐：") != std::string::npos, c.blockedFound);
    EXPECT_EQ(eight.probes(), c.probes);
    EXPECT_EQ(submitWaits.load(), c.submitWaits);
    if (c.act == Act::kUndecided) {
      EXPECT_NE(rig.log().find("检测文件和谐状态时返回了未知的结果"), std::string::npos);
      EXPECT_EQ(SummaryLine(rig), kSummary +
                                      std::string("8 ，其中被和谐文件(禁止下载的文件)数量： ") +
                                      (c.blockedFound ? "1" : "0") + "，未能检测的文件数量： " +
                                      std::to_string(c.unmarked.size()));
    }
  }
}

// A task's catalogue that another program keeps locked, from three points on: each
// step is given up after its tries, the log names the file and SQLite's words, and
// the task ends with a summary that says the catalogue failed instead of waiting
// for ever. The catalogue writes through a log, so the lock holds the writes only:
// reads go on.
TEST(CheckTask, ACatalogueThatStaysLockedEndsTheTaskAndSaysWhy) {
  struct Case {
    const char* what;
    std::chrono::milliseconds atFirstWait;  // the catalogue is locked at the first such wait
  } cases[] = {
      {"while the top folder's entries go in", 5ms},
      {"when the next folder is to be handed out", 20ms},
      {"when the check begins", 100ms},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    HeldTask held;
    TaskRig& rig = held.rig;
    for (const char* path : {"/k/a.txt", "/k/sub/b.txt", "/k/sub/c.txt"})
      rig.sim().addFile(kUser, path, 1);
    rig.select(u"/k");
    const std::string path = rig.dir.file("vintrel.db");
    std::unique_ptr<testing::LockedByAnotherProgram> other;
    std::atomic<int> retryWaits{0};
    held.clock.setHook([&](std::chrono::milliseconds d) {
      if (d == c.atFirstWait && !other)
        other = std::make_unique<testing::LockedByAnotherProgram>(path);
      if (d == kCatalogueRetryWait) ++retryWaits;
    });
    rig.runToEnd();
    ASSERT_TRUE(other && other->locked());
    other->unlock();

    const std::string failure =
        "检查数据库 " + path + " 读写失败（已试 10 次）：database is locked";
    int failures = 0;
    for (const std::string& line : SplitText(rig.log(), "\r\n"))
      failures += line.find(failure) != std::string::npos ? 1 : 0;
    EXPECT_GE(failures, 1) << rig.log();
    EXPECT_EQ(retryWaits.load(), failures * (kCatalogueTries - 1));
    EXPECT_NE(SummaryLine(rig).find("，检查数据库读写失败次数： " + std::to_string(failures)),
              std::string::npos)
        << SummaryLine(rig);
    EXPECT_EQ(rig.promptTexts().back(), "检查任务已完成。");
    EXPECT_TRUE(rig.form.enabled(FormButton::kStartCheck));
    EXPECT_FALSE(rig.task->active());
    // Nothing was marked: every mark is a write.
    for (const auto& row : rig.rows()) EXPECT_EQ(row[kColOther1], "<null>") << row[kColFolder];
  }
}

// The program ends while a refused batch is being split: the check phase closes the
// catalogue, and the batch's next mark must give up rather than try again for ever.
TEST(CheckTask, DestroyingTheTaskInTheMiddleOfASplitBatchReturns) {
  EightFiles eight(true);
  TaskRig& rig = eight.held.rig;
  // Held after the probe that found f01 normal, before its mark is written.
  std::atomic<int> submitWaits{0};
  eight.held.clock.setHook([&](std::chrono::milliseconds d) {
    if (d == kSubmitWait && ++submitWaits == 3) eight.held.latch.arriveAndWait();
  });
  rig.task->startCheck();
  ASSERT_TRUE(eight.held.latch.waitForArrival());
  std::atomic<bool> destroyed{false};
  std::thread closing([&] {
    rig.task.reset();
    destroyed = true;
  });
  ASSERT_TRUE(testing::WaitUntil([&] {
    std::lock_guard lock(rig.app.catalogueLock);
    return !rig.app.catalogue->isOpen();
  }));
  eight.held.latch.open();
  const bool returned = testing::WaitUntil([&] { return destroyed.load(); });
  EXPECT_TRUE(returned);
  // Unstuck so the test itself can end: with the catalogue back, the mark succeeds.
  if (!returned) rig.app.catalogue->openCatalogue(CataloguePath(rig.dir.path()));
  closing.join();
  EXPECT_EQ(MarksByNumber(rig)[1], "<null>");
  EXPECT_EQ(rig.log().find("读写失败"), std::string::npos);  // a stop is no failure
}

// The log pane shows names as it always has: in local text, which has no emoji,
// and blocked files with the catalogue's entity words decoded once. A front end
// that shows Unicode gets each such line with the names as they really are; and the
// task counts the folders among the entries it checks.
TEST(CheckTask, LogLinesCarryTheNamesAsTheyAreForUnicodeFrontEnds) {
  FakeClock clock;
  TaskRig rig(clock);
  rig.sim().addFile(kUser, "/d 😀/R&amp;D & 😈.mp4", 1, true);
  rig.sim().addFile(kUser, "/d 😀/sub/plain.txt", 1);
  rig.select(Utf8ToUnicode("/d 😀"));
  std::mutex mutex;
  std::vector<std::string> exact;  // unstamped
  Subscription lines = rig.app.log.subscribe([&](const LogAppended& change) {
    std::lock_guard lock(mutex);
    if (!change.exactUtf8.empty()) exact.push_back(change.exactUtf8.substr(9));
  });
  rig.runToEnd();
  std::lock_guard lock(mutex);
  EXPECT_EQ(exact, (std::vector<std::string>{"正在读取选择目录下的文件明细：/d 😀\r\n",
                                             "开始检测：/d 😀\r\n",
                                             "文件已被和谐：/d 😀/R&amp;D & 😈.mp4\r\n"}));
  EXPECT_NE(rig.log().find("文件已被和谐：/d ?/R&amp;amp;D &amp; ?.mp4\r\n"), std::string::npos)
      << rig.log();
  EXPECT_EQ(rig.task->context().checkTotal.load(), 3);
  EXPECT_EQ(rig.task->context().checkFolders.load(), 1);
}

// A catalogue that cannot be made refuses the start, and the log names the file and
// the reason.
TEST(CheckTask, ACatalogueThatCannotBeMadeRefusesTheStartNamingTheFileAndWhy) {
  namespace fs = std::filesystem;
  struct Case {
    const char* what;
    std::function<void(const std::string& dir)> place;
    const char* reason;
  };
  std::vector<Case> cases = {
      {"a folder at the catalogue's name",
       [](const std::string& dir) { fs::create_directories(dir + "/vintrel.db/inside"); },
       "Is a directory"},
  };
  // The superuser writes into any folder.
  if (geteuid() != 0) {
    cases.push_back({"a folder that cannot be written",
                     [](const std::string& dir) {
                       fs::permissions(dir, fs::perms::owner_read | fs::perms::owner_exec);
                     },
                     "Permission denied"});
  }
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    FakeClock clock;
    TaskRig rig(clock);
    rig.sim().addFile(kUser, "/d/a.txt", 1);
    rig.select(u"/d");
    c.place(rig.dir.path());
    rig.task->startCheck();
    fs::permissions(rig.dir.path(), fs::perms::owner_all);
    // The refusal keeps its words and adds the file and why.
    const std::string why = rig.dir.file("vintrel.db") + "：" + c.reason;
    EXPECT_EQ(rig.promptTexts(),
              (std::vector<std::string>{"初始化.db失败，一般重即软件即可。\r\n\r\n" + why}));
    EXPECT_NE(rig.log().find("无法创建检查数据库 " + why), std::string::npos) << rig.log();
    EXPECT_FALSE(rig.task->active());
    EXPECT_TRUE(rig.form.enabled(FormButton::kStartCheck));
    EXPECT_EQ(rig.sim().log().count("/api/list"), 0u);
  }
}

}  // namespace
}  // namespace pansift
