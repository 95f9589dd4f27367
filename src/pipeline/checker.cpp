#include "pipeline/checker.h"

#include <mutex>
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

constexpr int kStatementRetryMs = 5;

// Waits out a pause; false when the task has been stopped (the status says so).
bool PauseGate(AppState& app) {
  WaitWhilePaused(app);
  return !StopSeen(app);
}

void WaitSubmitInterval(TaskContext& task) {
  WaitPumping(task.app.platform, task.form.number(FormText::kSubmitInterval), kWaitSeconds);
  ProcessEvents(task.app.platform);
}

// Runs a statement until it succeeds; each failure leaves it in err.txt.
void ExecuteUntilDone(TaskContext& task, const std::string& sql) {
  while (!task.catalogue.executeLogged(sql)) {
    WaitPumping(task.app.platform, kStatementRetryMs);
    ProcessEvents(task.app.platform);
  }
}

ProbeOutcome Probe(TaskContext& task, std::string_view fsIds) {
  MainForm& form = task.form;
  return ProbeDownload(task.app, fsIds, [&form] { return form.text(FormText::kAutoDelay); });
}

// The stored path of the file with this fs_id; empty when no row has it. A pause
// holds the lookup, a stop does not: the file is already marked blocked and must
// still be reported.
std::string StoredPathOf(TaskContext& task, const std::string& fsId) {
  std::lock_guard lock(task.app.catalogueLock);
  WaitWhilePaused(task.app);
  const std::string sql = RowByTargetQuery(fsId);
  CatalogueQuery query = task.catalogue.queryRows(sql);
  while (!query.prepared() && task.catalogue.isOpen()) {
    WaitWhilePaused(task.app);
    query = task.catalogue.queryRows(sql);
  }
  query.step();
  return query.text(kColFolder);
}

void ReportBlocked(TaskContext& task, const std::string& fsId, const std::string& path,
                   const std::string& shownPath) {
  AppendLog(task.app, L8("文件已被和谐：") + shownPath);
  task.app.blockedCount += 1;
  if (task.onBlockedFile) task.onBlockedFile(fsId, path);
}

}  // namespace

void CheckBatch(TaskContext& task, std::int32_t a, std::int32_t total) {
  AppState& app = task.app;
  if (app.stopRequested.load()) {
    AppendLog(app, StoppedText());
    SetStatus(app, StoppedText());
    return;
  }
  if (a > total) return;

  const long long size = task.form.number(FormText::kFilesPerBatch);
  const std::string select = UncheckedRangeQuery(a, a + size);
  std::vector<std::string> ids;
  {
    std::unique_lock lock(app.catalogueLock);
    CatalogueQuery query;
    do {
      if (!PauseGate(app)) return;
      query = task.catalogue.queryRows(select);
    } while (!query.prepared() && task.catalogue.isOpen());
    for (;;) {
      if (!PauseGate(app)) return;
      if (!query.step()) break;
      ids.push_back(query.text(kColTarget));
    }
  }

  // A range without unchecked rows asks nothing.
  std::string pending;
  if (!ids.empty()) {
    std::string list;
    for (const std::string& id : ids) {
      if (!list.empty()) list += ',';
      list += id;
    }
    const ProbeOutcome outcome = Probe(task, list);
    if (outcome == ProbeOutcome::kBlocked && ids.size() == 1) {
      ExecuteUntilDone(task, MarkBlockedStatement(ids[0]));
      task.checkedRows += 1;
      const std::string path = StoredPathOf(task, ids[0]);
      ReportBlocked(task, ids[0], path, StripEntityWords(UnescapeReplyText(path)));
      return;
    }
    if (outcome == ProbeOutcome::kBlocked) {
      static const std::string kSplitting = L8("当前文件组中有和谐文件，正在分开对比中。");
      SetStatus(app, kSplitting);
      const std::string of = " / " + std::to_string(ids.size());
      for (size_t k = 1; k <= ids.size(); ++k) {
        const std::string& id = ids[k - 1];
        SetStatus(app, kSplitting + L8("  进度：") + std::to_string(k) + of);
        if (!PauseGate(app)) return;
        std::string statement;
        switch (Probe(task, id)) {
          case ProbeOutcome::kBlocked: {
            statement = MarkBlockedStatement(id);
            const std::string path = StoredPathOf(task, id);
            ReportBlocked(task, id, path, DecodeEntities(UnescapeReplyText(path)));
            break;
          }
          case ProbeOutcome::kNotBlocked:
            statement = MarkNormalStatement(id);
            break;
          case ProbeOutcome::kUndecided:
            // Left unchecked: the summary counts it.
            break;
        }
        WaitSubmitInterval(task);
        if (statement.empty()) continue;
        ExecuteUntilDone(task, statement);
        task.checkedRows += 1;
      }
      WaitSubmitInterval(task);
      return;
    }
    // Only a probe that said "not blocked" marks the batch normal.
    if (outcome == ProbeOutcome::kNotBlocked) {
      for (const std::string& id : ids) pending += MarkNormalStatement(id);
    }
  }

  WaitSubmitInterval(task);
  if (pending.empty()) return;
  while (!task.catalogue.executeLogged(pending)) {
    if (!PauseGate(app)) return;
    WaitPumping(app.platform, kStatementRetryMs);
    ProcessEvents(app.platform);
  }
  task.checkedRows += static_cast<long long>(ids.size());
}

}  // namespace pansift
