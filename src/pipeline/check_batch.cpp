#include "pipeline/check_batch.h"

#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "core/app_state.h"
#include "core/log.h"
#include "core/main_form.h"
#include "core/platform.h"
#include "netdisk/probe.h"
#include "pipeline/catalogue_db.h"
#include "util/codepage.h"
#include "util/escapes.h"
#include "util/text.h"

namespace pansift {
namespace {

// Waits out a pause; false when the task has been stopped (the status says so).
bool PauseGate(AppState& app) {
  WaitWhilePaused(app);
  return !StopSeen(app);
}

void WaitSubmitInterval(TaskContext& task) {
  WaitPumping(task.app.platform, std::chrono::seconds(task.form.number(FormText::kSubmitInterval)));
  ProcessEvents(task.app.platform);
}

// Runs a statement, trying again while it fails (each failure leaves it in err.txt)
// as CatalogueDb::retry allows; false when it was given up or the task stopped first,
// and the rows it marks then stay unchecked.
bool ExecuteWithRetries(TaskContext& task, const std::string& sql) {
  return task.catalogue.retry([&] { return task.catalogue.executeLogged(sql); },
                              [&task] { return RetriesEnd(task); });
}

ProbeOutcome Probe(TaskContext& task, std::string_view fsIds) {
  MainForm& form = task.form;
  return ProbeDownload(task.app, task.account, fsIds,
                       [&form] { return form.text(FormText::kAutoDelay); });
}

// The stored path of the file with this fs_id; empty when no row has it or the
// catalogue could not be read. A pause holds the lookup, a stop does not: the file
// is blocked and must still be reported; only the end of the program ends the tries.
std::string StoredPathOf(TaskContext& task, const std::string& fsId) {
  WaitWhilePaused(task.app);
  const std::string sql = RowByTargetQuery(fsId);
  std::string path;
  task.catalogue.retry(
      [&] {
        std::lock_guard lock(task.app.catalogueLock);
        CatalogueQuery query = task.catalogue.queryRows(sql);
        query.step();
        path = query.text(kColFolder);
        return !query.failed();
      },
      [&task] {
        WaitWhilePaused(task.app);
        return task.closing.load();
      });
  return path;
}

void ReportBlocked(TaskContext& task, const std::string& fsId, const std::string& path,
                   const std::string& shownPath) {
  static const std::string kBlocked = "文件已被和谐：";
  AppendLog(task.app, L8(kBlocked) + shownPath,
            kBlocked + UnicodeToUtf8(NetdiskPathOfStored(path)));
  task.app.blockedCount += 1;
  if (task.onBlockedFile) task.onBlockedFile(task.account, fsId, path);
}

const std::string& SplittingText() {
  static const std::string text = L8("当前文件组中有和谐文件，正在分开对比中。");
  return text;
}

void ShowSplitProgress(AppState& app, size_t done, size_t total) {
  SetStatus(
      app, SplittingText() + L8("  进度：") + std::to_string(done) + " / " + std::to_string(total));
}

// The statement that marks a file by the answer to its own probe, "" when the
// probe could not decide (the row stays unchecked; the summary counts it). A
// blocked file is reported at once.
std::string DecideFile(TaskContext& task, const std::string& id, ProbeOutcome outcome) {
  switch (outcome) {
    case ProbeOutcome::kBlocked: {
      const std::string path = StoredPathOf(task, id);
      ReportBlocked(task, id, path, DecodeEntities(UnescapeReplyText(path)));
      return MarkBlockedStatement(id);
    }
    case ProbeOutcome::kNotBlocked:
      return MarkNormalStatement(id);
    case ProbeOutcome::kUndecided:
      break;
  }
  return {};
}

void MarkRows(TaskContext& task, const std::string& statements, size_t rows) {
  if (statements.empty()) return;
  if (ExecuteWithRetries(task, statements)) task.checkedRows += static_cast<long long>(rows);
}

std::string JoinIds(std::span<const std::string> ids) {
  std::string list;
  for (const std::string& id : ids) {
    if (!list.empty()) list += ',';
    list += id;
  }
  return list;
}

struct SplitProgress {
  size_t decided;
  size_t total;
};

// One step of FindBlockedByHalves: asks about both halves of `ids`, splitting a
// refused half again. False when the task was stopped.
bool SearchHalves(TaskContext& task, std::span<const std::string> ids, SplitProgress& progress) {
  const size_t firstHalf = (ids.size() + 1) / 2;
  for (std::span<const std::string> part : {ids.first(firstHalf), ids.subspan(firstHalf)}) {
    ShowSplitProgress(task.app, progress.decided + 1, progress.total);
    if (!PauseGate(task.app)) return false;
    const ProbeOutcome outcome = Probe(task, JoinIds(part));
    if (part.size() == 1) {
      std::string statement = DecideFile(task, part[0], outcome);
      WaitSubmitInterval(task);
      MarkRows(task, statement, 1);
    } else if (outcome == ProbeOutcome::kBlocked) {
      WaitSubmitInterval(task);
      if (!SearchHalves(task, part, progress)) return false;
      continue;
    } else {
      std::string statements;
      if (outcome == ProbeOutcome::kNotBlocked) {
        for (const std::string& id : part) statements += MarkNormalStatement(id);
      }
      WaitSubmitInterval(task);
      MarkRows(task, statements, part.size());
    }
    progress.decided += part.size();
  }
  return true;
}

// Finds the blocked files among `ids`, which the service refused together, by
// asking about halves: a half it accepts is marked normal, a refused half is split
// again, a single file is decided by its own probe, an undecided half stays
// unchecked. One blocked file among N costs 2 * ceil(log2 N) probes instead of N,
// and every mark still rests on an answer about a group the row belongs to. False
// when the task was stopped.
bool FindBlockedByHalves(TaskContext& task, std::span<const std::string> ids) {
  SplitProgress progress{0, ids.size()};
  return SearchHalves(task, ids, progress);
}

// Finds the blocked files among `ids`, which the service refused together, by
// asking about each file on its own. False when the task was stopped.
bool FindBlockedOneByOne(TaskContext& task, std::span<const std::string> ids) {
  for (size_t k = 1; k <= ids.size(); ++k) {
    ShowSplitProgress(task.app, k, ids.size());
    if (!PauseGate(task.app)) return false;
    const std::string& id = ids[k - 1];
    std::string statement = DecideFile(task, id, Probe(task, id));
    WaitSubmitInterval(task);
    MarkRows(task, statement, 1);
  }
  return true;
}

// The fs_ids of the unchecked rows with from < id <= to, read from the catalogue
// under its lock; nothing when the task was stopped while reading or the catalogue
// could not be read. A pause holds the read.
std::optional<std::vector<std::string>> ReadUncheckedIds(TaskContext& task, long long from,
                                                         long long to) {
  AppState& app = task.app;
  const std::string select = UncheckedRangeQuery(from, to);
  std::vector<std::string> ids;
  const bool read = task.catalogue.retry(
      [&] {
        ids.clear();
        std::lock_guard lock(app.catalogueLock);
        CatalogueQuery query = task.catalogue.queryRows(select);
        for (;;) {
          // A stop ends the try as failed; the retry then sees the stop.
          if (!PauseGate(app)) return false;
          if (!query.step()) break;
          ids.push_back(query.text(kColTarget));
        }
        return !query.failed();
      },
      [&task] { return RetriesEnd(task); });
  if (!read) return std::nullopt;
  return ids;
}

// A batch of one that the service refused: that file is blocked, marked and
// reported at once (reported also when the mark could not be written).
void MarkLoneBlockedFile(TaskContext& task, const std::string& id) {
  if (ExecuteWithRetries(task, MarkBlockedStatement(id))) task.checkedRows += 1;
  const std::string path = StoredPathOf(task, id);
  ReportBlocked(task, id, path, StripEntityWords(UnescapeReplyText(path)));
}

// Marks every file of a batch the service accepted as a whole "正常"; a stop ends
// the retries of the statement, leaving the rows unchecked.
void MarkBatchNormal(TaskContext& task, std::span<const std::string> ids) {
  std::string statements;
  for (const std::string& id : ids) statements += MarkNormalStatement(id);
  MarkRows(task, statements, ids.size());
}

}  // namespace

void CheckBatch(TaskContext& task, std::int32_t from, std::int32_t to) {
  AppState& app = task.app;
  // A range handed out just before a stop: the dispatcher's log line says so.
  if (StopSeen(app)) return;

  const std::optional<std::vector<std::string>> ids = ReadUncheckedIds(task, from, to);
  if (!ids) return;
  // A range without unchecked rows asks nothing.
  if (ids->empty()) {
    WaitSubmitInterval(task);
    return;
  }
  const ProbeOutcome outcome = Probe(task, JoinIds(*ids));
  if (outcome == ProbeOutcome::kBlocked) {
    if (ids->size() == 1) {
      MarkLoneBlockedFile(task, ids->front());
      return;
    }
    SetStatus(app, SplittingText());
    const bool searched = task.form.halvingSearch() ? FindBlockedByHalves(task, *ids)
                                                    : FindBlockedOneByOne(task, *ids);
    if (searched) WaitSubmitInterval(task);
    return;
  }
  WaitSubmitInterval(task);
  // Only a probe that said "not blocked" marks the batch normal.
  if (outcome == ProbeOutcome::kNotBlocked) MarkBatchNormal(task, *ids);
}

}  // namespace pansift
