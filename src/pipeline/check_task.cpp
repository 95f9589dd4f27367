#include "pipeline/check_task.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <limits>
#include <mutex>
#include <thread>

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

// Month-day and time of now, "03-05 14:07:09".
std::string TaskStamp() {
  std::string stamp = FormatLocalTime(std::time(nullptr), TimeStyle::kDashes);
  size_t dash = stamp.find('-');
  return dash == std::string::npos ? stamp : stamp.substr(dash + 1);
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
                     BlockedFileHandler onBlockedFile, std::string catalogueFolder)
    : app_(app),
      form_(form),
      tree_(tree),
      catalogueFolder_(std::move(catalogueFolder)),
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

void CheckTask::startCheck() {
  WorkerPool& pool = context_.pool;
  // A task still runs or drains: nothing of it (stamp, count, flags, button) changes.
  if (form_.taskRunning() || active() || !pool.isIdle() || !form_.claim(FormButton::kStartCheck)) {
    Prompt(app_, "提示", L8("当前有读取任务在运行中。"), kBusyPromptMs, kStyleInformation);
    return;
  }
  app_.taskStartedAt.set(TaskStamp());
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
      return;
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
    return;
  }
  if (selected.path.empty()) {
    refuseStart(L8("没有选择要检查的目录。"));
    return;
  }
  if (!selected.isFolder) {
    refuseStart(L8("选择的不是目录。"));
    return;
  }
  if (form_.number(FormText::kPrereadThreads) >= kMaxPrereadThreads)
    form_.setText(FormText::kPrereadThreads, std::to_string(kMaxPrereadThreads));
  pool.setMaxThreads(form_.number(FormText::kPrereadThreads));

  app_.depthText.set(form_.text(FormText::kDepth));
  if (app_.depthText.get().empty()) {
    refuseStart(L8("请设置要检查的深度。"));
    return;
  }
  if (context_.catalogue.claim(catalogueFolder_) == CatalogueDb::Claim::kHeldElsewhere) {
    refuseStart(L8("另一个正在运行的检查任务在使用检查数据库 ") +
                Utf8ToLocal(CataloguePath(catalogueFolder_)) +
                L8("，不能同时使用。请等它结束，或在另一个目录中启动本程序。"));
    return;
  }
  // The refusals name the file and why it failed, or a restart is all one can try.
  if (!context_.catalogue.createCatalogue(catalogueFolder_)) {
    context_.catalogue.release();
    refuseStart(L8("初始化.db失败，一般重即软件即可。\r\n\r\n") + context_.catalogue.lastFailure());
    return;
  }
  if (!context_.catalogue.openCatalogue(catalogueFolder_)) {
    context_.catalogue.release();
    refuseStart(L8("连接vintrel.db失败。\r\n\r\n") + context_.catalogue.lastFailure());
    return;
  }
  static const std::string kReading = "正在读取选择目录下的文件明细：";
  AppendLog(app_, L8(kReading) + selected.path, kReading + UnicodeToUtf8(selected.unicodePath));
  context_.account = std::move(account);
  {
    std::lock_guard lock(stateMutex_);
    state_ = State::kScanning;
    ++taskNumber_;
  }
  startTaskThread([this] { runScanTask(); });
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
  startTaskThread([this, path = ListingPathOf(selected.unicodePath)] {
    // Stopped before the listing was complete: no dispatch and no check phase follow.
    if (!CrawlFolder(context_, path, "01", "", true)) endWithoutCheck();
  });
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
  const long long total = UncheckedRows(context_);
  context_.checkFolders = UncheckedRows(context_, UncheckedFolderRowsQuery());
  context_.checkedRows = 0;
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
    if (posting && pool.queuedCount() < 1 && pool.busyCount() < threads && from <= total) {
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
        SetStatus(app_, kProgress + std::to_string(std::min(from, total)) + " / " +
                            std::to_string(total));
      }
    }
    ProcessEvents(app_.platform);
    if (pool.isIdle() && (!posting || from > total)) break;
  }

  const long long undecided = UncheckedRows(context_);
  context_.undecidedRows = undecided;
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
