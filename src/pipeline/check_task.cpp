#include "pipeline/check_task.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <limits>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "core/app_state.h"
#include "core/log.h"
#include "core/main_form.h"
#include "core/platform.h"
#include "netdisk/sign.h"
#include "pipeline/catalogue_db.h"
#include "pipeline/check_batch.h"
#include "pipeline/crawler.h"
#include "pipeline/worker_pool.h"
#include "tree/folder_tree.h"
#include "util/codepage.h"
#include "util/text.h"
#include "util/time.h"

namespace pansift {
namespace {

constexpr int kBusyPromptMs = 10000;
constexpr int kFinishedPromptMs = 10000;
constexpr int kMaxCheckThreads = 5;
constexpr int kDefaultCheckThreads = 3;
constexpr int kMaxPrereadThreads = 30;
constexpr int kDefaultFilesPerBatch = 50;
constexpr std::chrono::milliseconds kStopSettle{3000};
constexpr std::chrono::milliseconds kPauseToggle{1000};
constexpr std::chrono::milliseconds kCheckDispatchPace{100};

auto Prompt(AppState& app, const char* caption, std::string_view text, int timeoutMs,
            MessageBoxStyle style) {
  return TimedMessageBox(app.platform, L8(caption), text, timeoutMs, style);
}

// Month-day and time of a task's start ("2024-03-05 14:07:09"): "03-05 14:07:09".
std::string TaskStamp(const std::string& startedAt) {
  size_t dash = startedAt.find('-');
  return dash == std::string::npos ? startedAt : startedAt.substr(dash + 1);
}

std::string CheckedOfText(const StoredTask& stored) {
  return std::to_string(stored.checked) + " / " + std::to_string(stored.rows);
}

// The number of catalogue rows `query` (UncheckedRowsQuery by default) matches; 0
// when the catalogue could not be read (the log says why).
long long UncheckedRows(TaskContext& task, const std::string& query = UncheckedRowsQuery()) {
  long long count = -1;
  task.catalogue.retry(
      [&] {
        std::lock_guard lock(task.app.catalogueLock);
        count = task.catalogue.queryRows(query).count();
        return count >= 0;
      },
      [&task] { return RetriesEnd(task); });
  return std::max(count, 0LL);
}

}  // namespace

SelectedPath SelectedTreePath(const FolderTree& tree) {
  SelectedPath selected;
  std::optional<TreeNode> node = tree.node(tree.selected());
  if (!node) return selected;
  selected.isFolder = node->value == kNodeFolder || node->value == kNodeAccountRoot;
  selected.unicodePath = node->value == kNodeAccountRoot ? u"/" : tree.netdiskPath(node->id);
  selected.path = UnicodeToLocal(selected.unicodePath);
  return selected;
}

std::string ListingPathOf(std::u16string_view unicodePath) {
  return EncodeEntities(UnicodeToEscapedLocal(unicodePath));
}

CheckTask::CheckTask(AppState& app, MainForm& form, const FolderTree& tree,
                     BlockedFileHandler onBlockedFile, std::string cataloguePath)
    : app_(app),
      form_(form),
      tree_(tree),
      cataloguePath_(std::move(cataloguePath)),
      context_{app,
               form,
               CreateWorkerPool(app),
               Catalogue(app),
               FolderQueueOf(app),
               std::move(onBlockedFile),
               [this](std::function<void()> work) { startTaskThread(std::move(work)); },
               [this] {
                 runCheckPhase();
                 finishTask();
               },
               {}},
      threads_(ReportToLog(app)) {}

CheckTask::~CheckTask() {
  if (active()) {
    // Everything the task's routines wait for ends now; the loops leave at once.
    context_.closing = true;
    app_.stopRequested = true;
    app_.paused = false;
  }
  threads_.waitAll();
  while (!context_.pool.isIdle()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

bool CheckTask::active() const {
  std::lock_guard lock(stateMutex_);
  return state_ != State::kIdle;
}

bool CheckTask::running() const {
  return state_ == State::kScanning || state_ == State::kChecking;
}

bool CheckTask::running(std::uint64_t number) const {
  return running() && taskNumber_ == number;
}

bool CheckTask::waitFor(std::chrono::milliseconds timeout) {
  return threads_.waitAllFor(timeout) && context_.pool.isIdle();
}

StartOutcome CheckTask::startCheck(ResumeChoice choice) {
  WorkerPool& pool = context_.pool;
  // A task still runs or drains: nothing of it (stamp, count, flags, button) changes.
  if (form_.taskRunning() || active() || !pool.isIdle() || !form_.claim(FormButton::kStartCheck)) {
    Prompt(app_, "提示", L8("当前有读取任务在运行中。"), kBusyPromptMs, kStyleInformation);
    return StartOutcome::kRefused;
  }
  const std::string startedAt = FormatLocalTime(std::time(nullptr), TimeStyle::kDashes);
  app_.taskStartedAt.set(TaskStamp(startedAt));
  app_.blockedCount = 0;
  app_.stopRequested = false;
  context_.checkTotal = -1;
  context_.checkFolders = -1;
  context_.checkedRows = 0;
  context_.undecidedRows = 0;
  context_.failedFolders.clear();

  if (form_.number(FormText::kCheckThreads) >= kMaxCheckThreads) {
    const std::string question = L8("当前设置的检测线程数（ ") +
                                 form_.text(FormText::kCheckThreads) +
                                 L8(" ）过大，可能会导致检测频繁，是否继续？");
    if (Prompt(app_, "提示：", question, kPromptTimeoutMs, kStyleYesNoQuestion) != kIdYes) {
      refuseStart({});
      return StartOutcome::kRefused;
    }
  }
  const int checkThreads = form_.number(FormText::kCheckThreads);
  if (checkThreads < 1 || checkThreads > kMaxCheckThreads)
    form_.setText(FormText::kCheckThreads, std::to_string(kDefaultCheckThreads));

  const SelectedPath selected = SelectedTreePath(tree_);
  // The task acts for this account to its end, whichever account operates meanwhile.
  Credentials account = app_.operatingAccount();
  if (account.cookies.empty()) {
    form_.setSelectedTab(kTabAccounts);
    refuseStart(L8("请选切换要操作的cookies."));
    return StartOutcome::kRefused;
  }
  if (selected.path.empty()) {
    refuseStart(L8("没有选择要检查的目录。"));
    return StartOutcome::kRefused;
  }
  if (!selected.isFolder) {
    refuseStart(L8("选择的不是目录。"));
    return StartOutcome::kRefused;
  }
  if (form_.number(FormText::kPrereadThreads) >= kMaxPrereadThreads)
    form_.setText(FormText::kPrereadThreads, std::to_string(kMaxPrereadThreads));
  pool.setMaxThreads(form_.number(FormText::kPrereadThreads));

  app_.depthText.set(form_.text(FormText::kDepth));
  if (app_.depthText.get().empty()) {
    refuseStart(L8("请设置要检查的深度。"));
    return StartOutcome::kRefused;
  }
  if (context_.catalogue.claim(cataloguePath_) == CatalogueDb::Claim::kHeldElsewhere) {
    refuseStart(L8("另一个正在运行的检查任务在使用检查数据库 ") +
                Utf8ToLocal(CatalogueFile(cataloguePath_)) +
                L8("，不能同时使用。请等它结束，或在另一个目录中启动本程序。"));
    return StartOutcome::kRefused;
  }
  // Every check has passed and the catalogue is this task's: a task it holds
  // unfinished for the same account, folder and depth may go on.
  std::optional<StoredTask> unfinished;
  if (choice != ResumeChoice::kAnew) unfinished = unfinishedTask(selected.unicodePath);
  bool resume = false;
  if (unfinished) {
    resume = choice == ResumeChoice::kResume ||
             Prompt(app_, "提示",
                    L8("上次对该目录的检查未完成（已检查 ") + CheckedOfText(*unfinished) +
                        L8(" 个文件），是否继续上次的检查？"),
                    kPromptTimeoutMs, kStyleYesNoQuestion) == kIdYes;
  }
  // The refusals name the file and why it failed, or a restart is all one can try.
  if (!resume && !context_.catalogue.createCatalogue(cataloguePath_)) {
    context_.catalogue.release();
    refuseStart(L8("初始化.db失败，一般重即软件即可。\r\n\r\n") + context_.catalogue.lastFailure());
    return StartOutcome::kRefused;
  }
  if (!context_.catalogue.openCatalogue(cataloguePath_)) {
    context_.catalogue.release();
    refuseStart(L8("连接vintrel.db失败。\r\n\r\n") + context_.catalogue.lastFailure());
    return StartOutcome::kRefused;
  }
  if (resume) {
    record_ = unfinished->record;
    resumedRows_ = unfinished->rows;
    // The files its earlier runs found keep the stamp of the task's start.
    app_.taskStartedAt.set(TaskStamp(record_.startedAt));
    static const std::string kGoingOn = "继续上次未完成的检查（已检查 ";
    const std::string counts = CheckedOfText(*unfinished);
    AppendLog(app_, L8(kGoingOn) + counts + L8(" 个文件）：") + UnicodeToLocal(record_.folder),
              kGoingOn + LocalToUtf8(counts) + " 个文件）：" + UnicodeToUtf8(record_.folder));
  } else {
    record_ = {app_.currentUk.get(), selected.unicodePath, ParseBoxNumber(app_.depthText.get()),
               TaskPhase::kList, startedAt};
    resumedRows_ = 0;
    static const std::string kReading = "正在读取选择目录下的文件明细：";
    AppendLog(app_, L8(kReading) + selected.path, kReading + UnicodeToUtf8(selected.unicodePath));
  }
  context_.resumed = resume;
  context_.account = std::move(account);
  {
    std::lock_guard lock(stateMutex_);
    state_ = State::kScanning;
    ++taskNumber_;
  }
  startTaskThread([this] { runScanTask(); });
  return resume ? StartOutcome::kResumed : StartOutcome::kStartedAnew;
}

std::optional<StoredTask> CheckTask::unfinishedTask(const std::u16string& folder) const {
  // Without the account's uk no task can be told to be its own.
  const std::string uk = app_.currentUk.get();
  if (uk.empty()) return std::nullopt;
  std::optional<StoredTask> stored = ReadStoredTask(cataloguePath_);
  if (!stored) return std::nullopt;
  const TaskRecord& record = stored->record;
  if (record.phase == TaskPhase::kDone || record.uk != uk || record.folder != folder ||
      record.depth != ParseBoxNumber(app_.depthText.get()))
    return std::nullopt;
  return stored;
}

void CheckTask::refuseStart(std::string_view message) {
  form_.setEnabled(FormButton::kStartCheck, true);
  if (!message.empty()) Prompt(app_, "提示", message, kPromptTimeoutMs, kStyleInformation);
}

void CheckTask::endWithoutCheck() {
  context_.catalogue.release();
  endTask();
}

void CheckTask::endTask() {
  {
    std::lock_guard lock(stateMutex_);
    state_ = State::kIdle;
    // The next task must not start paused.
    app_.paused = false;
    form_.setCaption(FormButton::kPauseCheck, L8("暂停"));
  }
  form_.setEnabled(FormButton::kPauseCheck, true);
  form_.setEnabled(FormButton::kStartCheck, true);
}

void CheckTask::startTaskThread(std::function<void()> work) {
  std::uint64_t number = 0;
  {
    std::lock_guard lock(stateMutex_);
    number = taskNumber_;
  }
  const bool started = threads_.start(
      [this, number, work = std::move(work)] {
        try {
          work();
        } catch (...) {
          abandonTask(number);
          throw;  // reported by threads_
        }
      },
      "检查任务");
  if (!started) abandonTask(number);
}

void CheckTask::abandonTask(std::uint64_t number) {
  {
    std::lock_guard lock(stateMutex_);
    if (state_ == State::kIdle || taskNumber_ != number) return;
    app_.stopRequested = true;
  }
  // The task's pool tasks see the stop and end before the catalogue closes under them.
  while (!context_.pool.isIdle() && !context_.closing.load())
    WaitPumping(app_.platform, std::chrono::milliseconds(10));
  context_.catalogue.closeCatalogue();
  context_.catalogue.release();
  endTask();
}

void CheckTask::runScanTask() {
  if (context_.resumed.load()) {
    resumeScanTask();
    return;
  }
  const SelectedPath selected = SelectedTreePath(tree_);
  std::string refusal;
  // The account was taken at the start; only the selection can have changed since.
  if (selected.path.empty()) {
    refusal = L8("没有选择要导出的目录。");
  } else if (!selected.isFolder) {
    refusal = L8("选择的不是目录。");
  }
  if (!refusal.empty()) {
    endWithoutCheck();
    Prompt(app_, "提示", refusal, kPromptTimeoutMs, kStyleInformation);
    return;
  }
  app_.prereadCount = 0;
  app_.selectedFolderPath.set(selected.path);
  context_.folderPath.set(UnicodeToUtf8(selected.unicodePath));
  {
    // Items a stopped task left behind would be crawled into this task's catalogue.
    std::lock_guard lock(app_.folderQueueLock);
    context_.folders.clear();
  }
  // The folder listed is the one selected now.
  record_.folder = selected.unicodePath;
  context_.catalogue.recordTask(record_);
  startTaskThread([this, path = ListingPathOf(selected.unicodePath)] {
    // Stopped before the listing was complete: no dispatch and no check phase follow.
    if (!CrawlFolder(context_, path, "01", "", true)) endWithoutCheck();
  });
}

void CheckTask::resumeScanTask() {
  // The task's folder, whatever the tree selects by now.
  app_.prereadCount = resumedRows_;
  app_.selectedFolderPath.set(UnicodeToLocal(record_.folder));
  {
    std::lock_guard lock(app_.folderQueueLock);
    context_.folders.clear();
  }
  // The folders whose listing was cut short are handed out again.
  const std::string reopen = ReopenUnlistedFoldersStatement();
  context_.catalogue.retry([&] { return context_.catalogue.executeLogged(reopen); },
                           [this] { return RetriesEnd(context_); });
  switch (record_.phase) {
    case TaskPhase::kList:
      // The selected folder's own listing was cut short: listed again, with no entry
      // added twice, then its folders.
      if (!CrawlFolder(context_, ListingPathOf(record_.folder), "01", "", true)) endWithoutCheck();
      return;
    case TaskPhase::kCrawl:
      DispatchFolders(context_);
      return;
    case TaskPhase::kCheck:
    case TaskPhase::kDone:
      SetStatus(app_, L8("正在开启检查任务"));
      if (context_.afterDispatch) context_.afterDispatch();
      return;
  }
}

std::optional<CheckTask::EarlierWork> CheckTask::takeUpEarlierWork() {
  EarlierWork earlier;
  std::vector<MarkedBlockedFile> blocked;
  const bool read = context_.catalogue.retry(
      [&] {
        std::lock_guard lock(app_.catalogueLock);
        blocked.clear();
        CatalogueQuery counts = context_.catalogue.queryRows(RowCountsQuery());
        if (!counts.step()) return false;
        earlier.marked = std::atoll(counts.text(1).c_str());
        earlier.lastId = std::atoll(counts.text(3).c_str());
        counts.close();
        CatalogueQuery rows = context_.catalogue.queryRows(BlockedRowsQuery());
        while (rows.step()) blocked.push_back({rows.text(0), rows.text(1)});
        return !rows.failed();
      },
      [this] { return RetriesEnd(context_); });
  if (!read) return std::nullopt;
  // Counted and listed again as found: the service is not asked about them again.
  app_.blockedCount += static_cast<int>(blocked.size());
  if (!blocked.empty() && context_.onEarlierBlockedFiles)
    context_.onEarlierBlockedFiles(context_.account, blocked);
  return earlier;
}

void CheckTask::runCheckPhase() {
  WorkerPool& pool = context_.pool;
  {
    std::lock_guard lock(stateMutex_);
    if (state_ == State::kScanning) state_ = State::kChecking;
  }
  // The first probe of the phase fetches fresh signing values.
  ClearSignCache(app_);
  static const std::string kStarting = "开始检测：";
  AppendLog(app_, L8(kStarting) + app_.selectedFolderPath.get(),
            kStarting + context_.folderPath.get());
  long long total = UncheckedRows(context_);
  context_.checkFolders = UncheckedRows(context_, FolderRowsQuery());
  // Ranges are handed out up to the highest id; the rows of a new task are 1 to total.
  long long lastId = total;
  long long marked = 0;
  if (context_.resumed.load()) {
    // The phase counts the whole task, the rows an earlier run marked included;
    // only the rows left unmarked are asked about.
    if (const std::optional<EarlierWork> earlier = takeUpEarlierWork()) {
      marked = earlier->marked;
      lastId = std::max(earlier->lastId, total);
      total += marked;
    }
  }
  context_.checkedRows = marked;
  context_.checkTotal = total;
  const int threads = form_.number(FormText::kCheckThreads);
  pool.setMaxThreads(threads);
  if (form_.number(FormText::kFilesPerBatch) <= 0)
    form_.setText(FormText::kFilesPerBatch, std::to_string(kDefaultFilesPerBatch));

  static const std::string kProgress = L8("正在检查中，  进度：");
  long long from = 0;
  // Every range is posted before the phase may end: a batch that finished quickly
  // must not make the pool look done while ranges are still unposted. Without a
  // worker allowed, with a batch size of 0 or after a stop, nothing more is posted.
  bool posting = threads >= 1;
  bool stopSeen = false;
  while (!context_.closing.load()) {
    WaitPumping(app_.platform, kCheckDispatchPace);
    if (!stopSeen && app_.stopRequested.load()) {
      // The ranges not yet handed out are dropped at once, and the stop is said once.
      stopSeen = true;
      posting = false;
      AppendLog(app_, StoppedText());
      SetStatus(app_, StoppedText());
    }
    if (posting && pool.queuedCount() < 1 && pool.busyCount() < threads && from <= lastId) {
      // The box is read once per range and the range carries its end: a change of
      // the box can neither skip ids nor hand one id to two batches.
      const int step = form_.number(FormText::kFilesPerBatch);
      if (step <= 0) {
        posting = false;
      } else {
        const long long to =
            std::min<long long>(from + step, std::numeric_limits<std::int32_t>::max());
        pool.post([this](std::int32_t a, std::int32_t b) { CheckBatch(context_, a, b); },
                  static_cast<std::int32_t>(from), static_cast<std::int32_t>(to), "检查批次");
        from = to;
        SetStatus(app_, kProgress + std::to_string(std::min(from, lastId)) + " / " +
                            std::to_string(lastId));
      }
    }
    ProcessEvents(app_.platform);
    if (pool.isIdle() && (!posting || from > lastId)) break;
  }

  const long long undecided = UncheckedRows(context_);
  context_.undecidedRows = undecided;
  // Ran to its end: nothing of it is left to resume.
  if (!stopSeen && !app_.stopRequested.load() && !context_.closing.load())
    context_.catalogue.recordPhase(TaskPhase::kDone);
  context_.catalogue.closeCatalogue();
  context_.catalogue.release();
  std::string summary = L8("已检测完成，总检测文件数量： ") + std::to_string(total) +
                        L8(" ，其中被和谐文件(禁止下载的文件)数量： ") +
                        std::to_string(app_.blockedCount.load());
  // Files the probe could not decide are neither blocked nor normal: say how many.
  if (undecided > 0) summary += L8("，未能检测的文件数量： ") + std::to_string(undecided);
  // Nor are the entries of folders that could not be listed, or of a catalogue that
  // failed: the result is not complete.
  if (const size_t failed = context_.failedFolders.list().size(); failed > 0)
    summary += L8("，未能读取的目录数量： ") + std::to_string(failed);
  if (const int failures = context_.catalogue.failures(); failures > 0)
    summary += L8("，检查数据库读写失败次数： ") + std::to_string(failures);
  AppendLog(app_, summary);
  SetStatus(app_, L8("检查任务完成。"));
  // Someone who left a long task running hears that it ended.
  app_.platform.notifyIfInactive(L8("检查任务完成。"), summary);
  endTask();
}

void CheckTask::finishTask() {
  // The button was enabled by endTask: a task started since then keeps it disabled.
  if (context_.closing.load()) return;
  Prompt(app_, "提示", L8("检查任务已完成。"), kFinishedPromptMs, kStyleInformation);
}

void CheckTask::stopCheck() {
  std::uint64_t number = 0;
  {
    std::lock_guard lock(stateMutex_);
    if (!running()) return;
    number = taskNumber_;
  }
  if (Prompt(app_, "提示", L8("确定停止检查任务？"), kPromptTimeoutMs, kStyleYesNoQuestion) !=
      kIdYes)
    return;
  {
    std::lock_guard lock(stateMutex_);
    // The task ended, or was stopped, while the question was open.
    if (!running(number)) return;
    state_ = State::kStopping;
    app_.paused = false;
    app_.stopRequested = true;
    form_.setCaption(FormButton::kPauseCheck, L8("暂停"));
  }
  WaitPumping(app_.platform, kStopSettle);
  std::lock_guard lock(stateMutex_);
  // Still draining: the button is enabled, and a start is refused until the threads
  // have ended. A task that ended meanwhile has enabled it itself, and a task
  // started meanwhile keeps it disabled.
  if (taskNumber_ == number && state_ == State::kStopping)
    form_.setEnabled(FormButton::kStartCheck, true);
}

void CheckTask::togglePause() {
  std::uint64_t number = 0;
  bool pause = false;
  {
    std::lock_guard lock(stateMutex_);
    // Nothing to pause before a task, while it stops or after it.
    if (!running()) return;
    const std::string caption = form_.caption(FormButton::kPauseCheck);
    if (caption == L8("暂停")) {
      pause = true;
    } else if (caption == L8("继续")) {
      pause = false;
    } else {
      return;
    }
    number = taskNumber_;
    form_.setEnabled(FormButton::kPauseCheck, false);
    app_.paused = pause;
  }
  WaitPumping(app_.platform, kPauseToggle);
  {
    std::lock_guard lock(stateMutex_);
    // A stop or the task's end during the wait has reset the pause and the caption.
    if (running(number)) form_.setCaption(FormButton::kPauseCheck, L8(pause ? "继续" : "暂停"));
  }
  form_.setEnabled(FormButton::kPauseCheck, true);
}

}  // namespace pansift
