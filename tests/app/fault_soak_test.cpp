// A whole check task, with delete on detection, against a service that fails in
// every way at once: slow, cut and dropped replies, empty replies, errno 2, refused
// signs, a rate limit and busy deletes; paused and resumed in the middle, then run
// again, stopped, and resumed to its end. Nothing may be lost, nothing marked
// without an answer, and nothing deleted that is not blocked — also where a blocked
// file stands beside a normal one whose name differs only by an entity word, a
// quote, a backslash, literal "\u0031" text, "%20" or a control character (the
// generated tree's folder of similar names). PANSIFT_SOAK_ENTRIES sets the size
// (small in ctest; scripts/soak runs 5 000).
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "blocked/blocked_list.h"
#include "blocked/record_blocked_file.h"
#include "codec.h"
#include "file_tree.h"
#include "pipeline/catalogue_db.h"
#include "pipeline/task_rig.h"
#include "support/clocks.h"
#include "support/wait_until.h"
#include "util/codepage.h"
#include "util/escapes.h"
#include "util/text.h"

namespace pansift {
namespace {

using testing::kUser;
using testing::TaskRig;

std::uint64_t SoakEntries() {
  const char* text = std::getenv("PANSIFT_SOAK_ENTRIES");
  const long long n = text ? std::atoll(text) : 0;
  return n > 0 ? static_cast<std::uint64_t>(n) : 300;
}

// Every fault at a rate a bad day of the real service might show.
void ArmEveryFault(sim::Faults& faults) {
  for (sim::EndpointFaults* f : {static_cast<sim::EndpointFaults*>(&faults.list),
                                 static_cast<sim::EndpointFaults*>(&faults.download),
                                 static_cast<sim::EndpointFaults*>(&faults.templateVariable),
                                 static_cast<sim::EndpointFaults*>(&faults.fileManager)}) {
    f->latencyMs = 2;
    f->dropProbability = 0.02;
    f->cutProbability = 0.02;
    f->emptyProbability = 0.02;
    f->errno2Probability = 0.02;
  }
  faults.download.refusedSigns = 3;
  faults.download.rateLimitRequests = 40;  // per second
  faults.fileManager.busyDeletes = 5;
}

// A folder path of err.txt, as the simulator names it (UTF-8). Only the drawn
// folders' names reach it; their names hold no entity words of their own.
std::string SimPath(const std::string& stored) {
  return UnicodeToUtf8(DecodeUnicodeEscapes(DecodeEntities(DecodeEntities(stored))));
}

// What is on the netdisk. Rows and files are matched by fs_id: the test does not
// read a path back from the catalogue the way the program does, so a program that
// confuses two similar names cannot make the test confuse them too.
struct Truth {
  std::map<std::string, bool> blockedByPath;  // every entry below the root: blocked?
  std::map<std::string, std::string> pathById;
  bool blockedId(const std::string& id) const { return blockedByPath.at(pathById.at(id)); }
};

Truth ReadTruth(sim::Simulator& sim, const std::string& root) {
  Truth truth;
  sim.withTree(kUser, [&](sim::FileTree& tree) {
    std::vector<std::string> folders = {root};
    while (!folders.empty()) {
      const std::string folder = folders.back();
      folders.pop_back();
      std::vector<sim::EntryInfo> entries;
      tree.list(folder, "name", false, 1, 1000000, entries);
      for (const sim::EntryInfo& e : entries) {
        truth.blockedByPath[e.path] = e.blocked;
        truth.pathById[std::to_string(e.fsId)] = e.path;
        if (e.isdir) folders.push_back(e.path);
      }
    }
  });
  return truth;
}

// The folders err.txt names as failed listings ("path----depth----reply" lines).
std::set<std::string> FailedFolders(const std::string& errors) {
  std::set<std::string> folders;
  for (const std::string& line : SplitText(errors, "\r\n")) {
    size_t cut = line.find("----");
    if (cut != std::string::npos) folders.insert(SimPath(Utf8ToLocal(line.substr(0, cut))));
  }
  return folders;
}

bool UnderAny(const std::string& path, const std::set<std::string>& folders) {
  for (const std::string& folder : folders) {
    if (path.size() > folder.size() && path.starts_with(folder + "/")) return true;
  }
  return false;
}

// Every row the catalogue holds and how it is marked, checked against the truth.
// Returns the fs_ids marked blocked.
std::set<std::string> CheckMarks(const TaskRig& rig, const Truth& truth) {
  std::set<std::string> marked;
  for (const auto& row : rig.rows()) {
    const std::string& id = row[kColTarget];
    const std::string stored = row[kColFolder];
    EXPECT_TRUE(truth.pathById.count(id)) << "catalogued but not on the netdisk: " << stored;
    if (!truth.pathById.count(id)) continue;
    const std::string& path = truth.pathById.at(id);
    const std::string& mark = row[kColOther1];
    if (mark == "已和谐") {
      EXPECT_TRUE(truth.blockedId(id)) << "marked blocked without being blocked: " << path;
      marked.insert(id);
    } else if (mark == "正常") {
      EXPECT_FALSE(truth.blockedId(id)) << "marked normal but blocked: " << path;
    } else {
      EXPECT_EQ(mark, "<null>") << path;
    }
  }
  return marked;
}

// Every normal file of the tree is still there.
void CheckNoNormalFileDeleted(sim::Simulator& sim, const Truth& truth, const char* when) {
  for (const auto& [path, blocked] : truth.blockedByPath) {
    if (!blocked) {
      EXPECT_TRUE(sim.find(kUser, path)) << "deleted but normal (" << when << "): " << path;
    }
  }
}

struct Summary {
  int lines = 0;
  long long total = -1, blocked = -1, undecided = 0;
};

// The task's summary lines in a piece of the log: "已检测完成，总检测文件数量： T ，其中
// 被和谐文件(禁止下载的文件)数量： B" and, when some files stayed undecided, "，未能检测的
// 文件数量： U". The numbers are those of the last line.
Summary ReadSummary(const std::string& log) {
  static const std::string kTotal = "已检测完成，总检测文件数量：";
  static const std::string kBlocked = "，其中被和谐文件(禁止下载的文件)数量：";
  static const std::string kUndecided = "，未能检测的文件数量：";
  Summary summary;
  for (const std::string& line : SplitText(log, "\r\n")) {
    const size_t at = line.find(kTotal);
    if (at == std::string::npos) continue;
    ++summary.lines;
    auto numberAfter = [&](const std::string& marker, long long fallback) {
      const size_t m = line.find(marker, at);
      return m == std::string::npos ? fallback : std::atoll(line.c_str() + m + marker.size());
    };
    summary.total = numberAfter(kTotal, -1);
    summary.blocked = numberAfter(kBlocked, -1);
    summary.undecided = numberAfter(kUndecided, 0);
  }
  return summary;
}

// The summary of the run whose log starts at `from` agrees with its catalogue: it
// counts every row and the rows marked blocked, and its undecided files are the
// rows left without a mark.
void CheckSummary(const TaskRig& rig, size_t from, const char* run) {
  SCOPED_TRACE(run);
  const Summary summary = ReadSummary(rig.log().substr(from));
  ASSERT_EQ(summary.lines, 1) << rig.log().substr(from);
  const auto rows = rig.rows();
  long long unmarked = 0, blocked = 0;
  for (const auto& row : rows) {
    if (row[kColOther1] == "<null>" || row[kColOther1] == "检查中") ++unmarked;
    if (row[kColOther1] == "已和谐") ++blocked;
  }
  EXPECT_EQ(summary.total, static_cast<long long>(rows.size()));
  EXPECT_EQ(summary.blocked, blocked);
  EXPECT_EQ(summary.undecided, unmarked);
  EXPECT_EQ(summary.undecided, rig.task->context().undecidedRows.load());
}

// Whether the service carried out a delete of `path` and its answer reached the
// program whole (no fault dropped, emptied or cut it).
bool DeleteAnsweredWhole(sim::Simulator& sim, const std::string& path) {
  for (const sim::LoggedRequest& request : sim.log().entries("/api/filemanager")) {
    if (!request.fault.empty() || request.reply.rfind("{\"errno\":0,", 0) != 0) continue;
    sim::JsonValue list;
    if (!sim::ParseJson(sim::QueryValue(sim::ParseQuery(request.body), "filelist"), list)) continue;
    for (const sim::JsonValue& item : list.items) {
      if (item.text == path) return true;
    }
  }
  return false;
}

struct SoakRig {
  SoakRig() : rig(clock) {
    rig.task = std::make_unique<CheckTask>(
        rig.app, rig.form, rig.tree,
        [this](const Credentials& account, const std::string& fsId, const std::string& path) {
          RecordBlockedFile(rig.app, rig.form, list, account, fsId, path,
                            NetdiskPathOfStored(path));
        },
        CataloguePath(rig.dir.path()));
    rig.task->context().onEarlierBlockedFiles =
        [this](const Credentials& account, const std::vector<MarkedBlockedFile>& files) {
          std::vector<EarlierBlockedFile> rows;
          for (const MarkedBlockedFile& file : files)
            rows.push_back({file.fsId, file.path, NetdiskPathOfStored(file.path)});
          ListEarlierBlockedFiles(rig.app, list, account, rows);
        };
    rig.app.currentBdstoken.set(rig.sim().account(kUser)->bdstoken);
    rig.app.currentUk.set(rig.sim().account(kUser)->uk);
    rig.form.setDeleteFiles(true);
    rig.form.setText(FormText::kPrereadThreads, "10");
    rig.form.setText(FormText::kFilesPerBatch, "20");
    // The pause after a rate-limit reply: 20 s on the scaled clock is 1 s of real
    // time, the simulator's window, so the next attempt meets a new window as it
    // would the service's.
    rig.form.setText(FormText::kAutoDelay, "20");
  }
  testing::ScaledClock clock;
  TaskRig rig;
  BlockedList list;
};

TEST(FaultSoak, EveryFaultAtOnceLosesNothingAndMarksNothingUnasked) {
  const std::uint64_t entries = SoakEntries();
  SoakRig soak;
  TaskRig& rig = soak.rig;
  sim::GenerateOptions generate;
  generate.files = entries;
  generate.depth = 2;
  generate.fanout = 5;
  generate.blocked = 0.03;
  generate.seed = 11;
  generate.under = "/soak";
  generate.siblingPairs = true;
  rig.sim().generate(kUser, generate);
  const Truth truth = ReadTruth(rig.sim(), "/soak");
  const std::string pairs = "/soak/" + std::string(sim::kSiblingFolder) + "/";
  for (const sim::SiblingPair& pair : sim::SiblingPairs()) {
    ASSERT_EQ(truth.blockedByPath.at(pairs + std::string(pair.tricky)), pair.trickyBlocked);
    ASSERT_EQ(truth.blockedByPath.at(pairs + std::string(pair.plain)), !pair.trickyBlocked);
  }
  ArmEveryFault(rig.sim().faults());
  rig.select(u"/soak");

  // Paused in the middle of the crawl: nothing moves until it resumes.
  rig.task->startCheck();
  ASSERT_TRUE(testing::WaitUntil([&] {
    return rig.app.prereadCount.load() * 3 > static_cast<long long>(truth.blockedByPath.size()) ||
           !rig.task->active();
  }));
  const bool pausedMidway = rig.task->active();
  if (pausedMidway) {
    rig.task->togglePause();
    // What was under way when the pause came ends at the next gate; then all is still.
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    const long long read = rig.app.prereadCount.load();
    const long long checked = rig.task->context().checkedRows.load();
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    EXPECT_EQ(rig.app.prereadCount.load(), read);
    EXPECT_EQ(rig.task->context().checkedRows.load(), checked);
    rig.task->togglePause();
  }
  rig.waitForEnd();

  // Every entry catalogued exactly once, unless its folder's listing failed and says so.
  const std::set<std::string> failed = FailedFolders(rig.errors());
  // The task's result names exactly those folders.
  std::set<std::string> named;
  for (const std::u16string& path : rig.task->context().failedFolders.list())
    named.insert(UnicodeToUtf8(path));
  EXPECT_EQ(named, failed);
  std::multiset<std::string> catalogued;
  for (const auto& row : rig.rows()) catalogued.insert(row[kColTarget]);
  for (const auto& [id, path] : truth.pathById) {
    if (UnderAny(path, failed)) continue;
    EXPECT_EQ(catalogued.count(id), 1u) << path;
  }
  EXPECT_LE(catalogued.size(), truth.pathById.size());

  // No mark without an answer, every blocked mark recorded once, only blocked files deleted.
  const std::set<std::string> marked = CheckMarks(rig, truth);
  std::multiset<std::string> recorded;
  for (const BlockedRow& row : soak.list.rows()) recorded.insert(row.fsid);
  EXPECT_EQ(recorded, std::multiset<std::string>(marked.begin(), marked.end()));
  CheckNoNormalFileDeleted(rig.sim(), truth, "first run");
  size_t deleted = 0;
  for (const std::string& id : marked) {
    if (!rig.sim().find(kUser, truth.pathById.at(id))) ++deleted;
  }
  EXPECT_GT(marked.size(), 0u);
  EXPECT_GT(deleted, 0u);
  for (const BlockedRow& row : soak.list.rows()) {
    // Deleted, or a failure the row says, never still waiting.
    EXPECT_NE(row.deleteStatus, L8("待处理")) << row.fsid;
    if (rig.sim().find(kUser, truth.pathById.at(row.fsid))) {
      EXPECT_NE(row.deleteStatus, L8("删除成功")) << row.fsid;
    }
  }
  CheckSummary(rig, 0, "first run");
  EXPECT_EQ(rig.promptTexts().back(), "检查任务已完成。");
  EXPECT_TRUE(rig.form.enabled(FormButton::kStartCheck));
  EXPECT_EQ(rig.sim().log().rejections(), std::vector<std::string>{}) << "first run";
  std::map<std::string, int> fired;
  for (const sim::LoggedRequest& request : rig.sim().log().entries()) {
    if (!request.fault.empty()) ++fired[request.fault];
  }
  std::string faultCounts;
  for (const auto& [fault, times] : fired) faultCounts += " " + fault + ":" + std::to_string(times);
  std::printf(
      "soak: %zu entries, %zu catalogued, %zu failed folders, %zu blocked marked, %zu "
      "deleted, paused midway: %s, %llu requests; faults:%s\n",
      truth.blockedByPath.size(), catalogued.size(), failed.size(), marked.size(), deleted,
      pausedMidway ? "yes" : "no", static_cast<unsigned long long>(rig.sim().log().total()),
      faultCounts.c_str());

  // Again on what is left, stopped in the middle of the check: the task ends with
  // its own summary, nothing is deleted after the stop, and what it marked still
  // rests on answers.
  const Truth left = ReadTruth(rig.sim(), "/soak");
  const size_t probesBefore = rig.sim().log().count("/api/download");
  const size_t logBefore = rig.log().size();
  const size_t rowsBefore = soak.list.rows().size();
  rig.task->startCheck();
  ASSERT_TRUE(testing::WaitUntil([&] {
    return rig.sim().log().count("/api/download") > probesBefore + 3 || !rig.task->active();
  }));
  const bool stoppedMidway = rig.task->active();
  rig.platform.answerNext(kIdYes);
  rig.task->stopCheck();
  // Only a delete already under way when the stop came may still reach the service
  // (deletes on detection go one at a time).
  const std::uint64_t deletesAtStop = rig.sim().log().count("/api/filemanager");
  const Truth atStop = ReadTruth(rig.sim(), "/soak");
  rig.waitForEnd();
  EXPECT_FALSE(rig.task->active());
  EXPECT_TRUE(rig.form.enabled(FormButton::kStartCheck));
  EXPECT_LE(rig.sim().log().count("/api/filemanager"), deletesAtStop + 1);
  const Truth atEnd = ReadTruth(rig.sim(), "/soak");
  EXPECT_LE(atStop.pathById.size(), atEnd.pathById.size() + 1) << "deleted after the stop";

  CheckMarks(rig, left);
  CheckNoNormalFileDeleted(rig.sim(), truth, "second run");
  CheckSummary(rig, logBefore, "second run");
  const std::vector<BlockedRow> rows = soak.list.rows();
  for (size_t i = rowsBefore; i < rows.size(); ++i) {
    const BlockedRow& row = rows[i];
    const std::string& path = left.pathById.at(row.fsid);
    const bool gone = !rig.sim().find(kUser, path);
    if (gone && row.deleteStatus == L8("待处理")) {
      // Waiting only when the stop cut its delete off before an answer arrived.
      EXPECT_FALSE(DeleteAnsweredWhole(rig.sim(), path)) << "deleted yet waiting: " << path;
    }
    if (!gone) {
      EXPECT_NE(row.deleteStatus, L8("删除成功")) << path;
    }
  }
  std::printf("soak: second run: stopped midway: %s, %zu blocked rows, %llu requests\n",
              stoppedMidway ? "yes" : "no", rows.size() - rowsBefore,
              static_cast<unsigned long long>(rig.sim().log().total()));
  if (!stoppedMidway) return;

  // The stopped check resumed, through the same faults: it lists nothing again,
  // asks about none of the files the stopped run marked, and ends with the
  // summary, marks and list of the whole check.
  std::set<std::string> markedAtStop;
  for (const auto& row : rig.rows()) {
    if (row[kColOther1] != "<null>") markedAtStop.insert(row[kColTarget]);
  }
  const size_t rowsAtStop = rig.rows().size();
  rig.sim().log().clear();
  rig.sim().log().setLimit(1000000);
  const size_t logBeforeResume = rig.log().size();
  rig.platform.answerNext(kIdYes);
  rig.task->startCheck();
  rig.waitForEnd();
  const std::vector<std::string> prompts = rig.promptTexts();
  EXPECT_NE(std::find(prompts.begin(), prompts.end(),
                      "上次对该目录的检查未完成（已检查 " + std::to_string(markedAtStop.size()) +
                          " / " + std::to_string(rowsAtStop) + " 个文件），是否继续上次的检查？"),
            prompts.end());
  EXPECT_EQ(rig.sim().log().count("/api/list"), 0u);
  size_t asked = 0;
  for (const sim::LoggedRequest& request : rig.sim().log().entries("/api/download")) {
    const std::string list = sim::QueryValue(sim::ParseQuery(request.query), "fidlist");
    if (list.size() < 2) continue;
    for (const std::string& id : SplitText(list.substr(1, list.size() - 2), ",")) {
      ++asked;
      EXPECT_FALSE(markedAtStop.count(id)) << "asked again: " << left.pathById.at(id);
    }
  }
  EXPECT_EQ(rig.rows().size(), rowsAtStop);
  const std::set<std::string> markedAtEnd = CheckMarks(rig, left);
  CheckNoNormalFileDeleted(rig.sim(), truth, "resumed run");
  CheckSummary(rig, logBeforeResume, "resumed run");
  // Every file the whole check marked blocked is listed, once.
  std::multiset<std::string> listed;
  for (const BlockedRow& row : soak.list.rows()) {
    if (markedAtEnd.count(row.fsid)) listed.insert(row.fsid);
  }
  EXPECT_EQ(listed, std::multiset<std::string>(markedAtEnd.begin(), markedAtEnd.end()));
  EXPECT_EQ(rig.promptTexts().back(), "检查任务已完成。");
  EXPECT_EQ(rig.sim().log().rejected(), 0u);
  std::printf(
      "soak: resumed run: %zu of %zu rows marked before, %zu ids asked about, %zu blocked\n",
      markedAtStop.size(), rowsAtStop, asked, markedAtEnd.size());
}

}  // namespace
}  // namespace pansift
