#include "app/main_window.h"

#include <array>
#include <chrono>
#include <ctime>
#include <optional>

#include "accounts/account_actions.h"
#include "accounts/account_file.h"
#include "accounts/account_store.h"
#include "accounts/add_account.h"
#include "app/startup.h"
#include "blocked/exports.h"
#include "blocked/record_blocked_file.h"
#include "core/app_state.h"
#include "core/main_form.h"
#include "pipeline/catalogue_db.h"
#include "util/codepage.h"
#include "util/escapes.h"

namespace pansift {

const char* AccountMenuItemText(AccountMenuItem item) {
  static constexpr std::array<const char*, kAccountMenuItemCount> kTexts = {
      "切换操作cookies为当前选中",
      "验证或刷新当前选中cookies有效性",
      "验证或刷新所有cookies有效性",
      "删除当前选中",
      "复制网盘名",
      "复制cookies",
      "复制uk"};
  return kTexts[static_cast<size_t>(item)];
}

MainWindow::MainWindow(AppState& app, MainForm& form, AccountStore& accounts)
    : app_(app),
      form_(form),
      accounts_(accounts),
      // Makes the worker pool: it exists from start-up on.
      checkTask_(
          app, form, tree_,
          [this](const Credentials& account, const std::string& fsId, const std::string& path) {
            recordBlockedFile(account, fsId, path);
          },
          app.dirs.catalogue),
      workers_(ReportToLog(app)) {
  history_ = std::make_unique<FindingsHistory>(app.dataFile(kHistoryFileName));
  historyStates_ = blocked_.subscribe([this](const BlockedChanged& change) {
    if (change.kind != BlockedChanged::Kind::kChanged) return;
    if (std::optional<BlockedRow> row = blocked_.row(change.row))
      history_->recordState(DecodeUnicodeEscapesUtf8(row->account), row->fsid, FindingState(*row));
  });
  checkTask_.context().onEarlierBlockedFiles = [this](const Credentials& account,
                                                      const std::vector<MarkedBlockedFile>& files) {
    listEarlierBlockedFiles(account, files);
  };
}

MainWindow::~MainWindow() {
  workers_.waitAll();
  waitForAccountLoader();
}

void MainWindow::start() {
  if (!accountLoader_.joinable()) {
    accountLoader_ = std::thread([this] { LoadAccounts(app_, accounts_, form_); });
  }
  StartUp(app_);
  if (!history_->ok()) {
    AppendLog(app_, L8("打开历史记录失败：") +
                        Utf8ToLocal(app_.dataFile(kHistoryFileName) + ": " + history_->error()));
  }
}

void MainWindow::waitForAccountLoader() {
  if (accountLoader_.joinable()) accountLoader_.join();
}

void MainWindow::waitForWorkers() {
  while (!workers_.waitAllFor(std::chrono::milliseconds(20))) ProcessEvents(app_.platform);
  while (!checkTask_.waitFor(std::chrono::milliseconds(20))) ProcessEvents(app_.platform);
}

void MainWindow::onAddAccountClicked() {
  if (!AddAccountFromInput(app_, form_)) return;
  // The worker gets the text that passed the check, as a copy of its own.
  std::string cookies = form_.text(FormText::kCookies);
  workers_.start(
      [this, cookies = std::move(cookies)] { AddAccount(app_, form_, accounts_, cookies); },
      "添加帐号");
}

void MainWindow::onAccountDoubleClicked(int row) {
  if (row < 0) return;
  accounts_.setSelectedRow(row);
  switchToSelectedAccount();
}

void MainWindow::onAccountMenu(AccountMenuItem item) {
  switch (item) {
    case AccountMenuItem::kSwitch:
      switchToSelectedAccount();
      break;
    case AccountMenuItem::kValidateSelected:
      workers_.start([this] { ValidateSelectedAccount(app_, accounts_); },
                     AccountMenuItemText(item));
      break;
    case AccountMenuItem::kValidateAll:
      workers_.start([this] { ValidateAllAccounts(app_, accounts_); }, AccountMenuItemText(item));
      break;
    case AccountMenuItem::kDelete:
      DeleteSelectedAccount(app_, accounts_);
      break;
    case AccountMenuItem::kCopyUserName:
      CopySelectedField(app_, accounts_, kColumnUserName);
      break;
    case AccountMenuItem::kCopyCookies:
      CopySelectedField(app_, accounts_, kColumnCookies);
      break;
    case AccountMenuItem::kCopyUk:
      CopySelectedField(app_, accounts_, kColumnUk);
      break;
  }
}

void MainWindow::onSaveCookiesClicked() {
  SaveAccounts(app_, accounts_);
}

void MainWindow::onLoginClicked() {
  if (loginChooser_) loginChooser_();
}

bool MainWindow::onLoginWay1Chosen(bool browserCanStart) {
  return ConfirmWay1CanStart(app_, browserCanStart);
}

void MainWindow::onLoginHelpClicked(bool browserSection) {
  std::string url = browserSection ? BrowserHelpPageUrl() : CookieHelpUrl();
  if (!url.empty()) app_.platform.openUrl(url);
}

bool MainWindow::onLoginWindowClosing(LoginWay way, const std::string& cookies) {
  LoginCloseDecision decision = DecideLoginClose(app_, way, cookies);
  if (decision.addAccount) {
    // The window closes at once; the worker reports through its own messages.
    workers_.start([this, cookies] { AddAccount(app_, form_, accounts_, cookies); }, "添加帐号");
  }
  return decision.close;
}

void MainWindow::onRefreshRootClicked() {
  // Disabled until the refresh ends, on every path, so a second click cannot start another.
  form_.setEnabled(FormButton::kRefreshRoot, false);
  startRootRefresh();
}

void MainWindow::onTreeNodeEvent() {
  OpenOrFoldNode(app_, form_, tree_, workers_, treeListing_);
}

void MainWindow::onTreeMenuStartCheck() {
  checkTask_.startCheck();
}

void MainWindow::onStartCheckClicked() {
  onStartCheckRequested(ResumeChoice::kAsk);
}

StartOutcome MainWindow::onStartCheckRequested(ResumeChoice choice) {
  {
    std::lock_guard lock(newFindingsMutex_);
    newFindings_.clear();
  }
  return checkTask_.startCheck(choice);
}

void MainWindow::onPauseCheckClicked() {
  checkTask_.togglePause();
}

void MainWindow::onStopCheckClicked() {
  checkTask_.stopCheck();
}

void MainWindow::onBlockedFilesClicked() {
  blockedForm_.setVisible(true);
}

void MainWindow::recordBlockedFile(const Credentials& account, const std::string& fsid,
                                   const std::string& path) {
  const std::u16string netdiskPath = NetdiskPathOfStored(path);
  const std::string user = DecodeUnicodeEscapesUtf8(account.userName);
  switch (history_->recordFound(user, fsid, UnicodeToUtf8(netdiskPath), std::time(nullptr))) {
    case FindingsHistory::Found::kNew: {
      std::lock_guard lock(newFindingsMutex_);
      newFindings_.emplace(user, fsid);
      break;
    }
    case FindingsHistory::Found::kKnown:
      break;
    case FindingsHistory::Found::kFailed:
      AppendErrorLine(app_, "history.db: " + history_->error());
      break;
  }
  RecordBlockedFile(app_, form_, blocked_, account, fsid, path, netdiskPath);
}

bool MainWindow::isNewFinding(const std::string& account, const std::string& fsid) const {
  std::lock_guard lock(newFindingsMutex_);
  return newFindings_.contains({account, fsid});
}

void MainWindow::listEarlierBlockedFiles(const Credentials& account,
                                         const std::vector<MarkedBlockedFile>& files) {
  std::vector<EarlierBlockedFile> rows;
  rows.reserve(files.size());
  for (const MarkedBlockedFile& file : files)
    rows.push_back({file.fsId, file.path, NetdiskPathOfStored(file.path)});
  ListEarlierBlockedFiles(app_, blocked_, account, rows);
}

void MainWindow::onBlockedMenu(BlockedMenuItem item) {
  switch (item) {
    case BlockedMenuItem::kDeleteSync:
      deleteSelectedBlockedRow(item, DeleteMode::kSync);
      break;
    case BlockedMenuItem::kDeleteAsync:
      deleteSelectedBlockedRow(item, DeleteMode::kAsync);
      break;
    case BlockedMenuItem::kDeleteAuto:
      deleteSelectedBlockedRow(item, DeleteMode::kAuto);
      break;
    case BlockedMenuItem::kOpenInBrowser:
      OpenSelectedFolderInBrowser(app_, blocked_);
      break;
    case BlockedMenuItem::kRemoveFromList:
      RemoveSelectedBlockedRow(app_, blocked_, blockedForm_);
      break;
    case BlockedMenuItem::kImportTable:
      workers_.start([this] { ImportTable(app_, blocked_, blockedForm_); },
                     BlockedMenuItemText(item));
      break;
    case BlockedMenuItem::kExportTable:
      workers_.start([this] { ExportTable(app_, blocked_, blockedForm_); },
                     BlockedMenuItemText(item));
      break;
    case BlockedMenuItem::kCopyName:
    case BlockedMenuItem::kCopyLocation:
    case BlockedMenuItem::kCopyPath:
    case BlockedMenuItem::kCopyDecodedPath:
    case BlockedMenuItem::kCopyDeleteStatus:
    case BlockedMenuItem::kCopyMoveStatus:
      CopyBlockedCell(app_, blocked_, item);
      break;
  }
}

void MainWindow::deleteSelectedBlockedRow(BlockedMenuItem item, DeleteMode mode) {
  if (!BlockedMenuItemEnabled(item)) return;
  // The row chosen now, even if the selection moves before the worker runs.
  BlockedRowId row = blocked_.selected();
  if (row == kNoBlockedRow) return;
  workers_.start(
      [this, row, mode] { DeleteBlockedRowFromNetdisk(app_, accounts_, blocked_, row, mode); },
      BlockedMenuItemText(item));
}

void MainWindow::onBlockedButton(BlockedButton button) {
  // Claimed here, on the click, so that a second click cannot start a second run.
  if (!blockedForm_.claim(button)) return;
  // Each action enables its button again however it ends, an exception included.
  std::function<void()> work;
  switch (button) {
    case BlockedButton::kClearDeleted:
      work = [this] { ClearDeletedRows(app_, blocked_, blockedForm_); };
      break;
    case BlockedButton::kClearMoved:
      work = [this] { ClearMovedRows(app_, blocked_, blockedForm_); };
      break;
    case BlockedButton::kExportPaths:
      work = [this] { ExportPaths(app_, blocked_, blockedForm_); };
      break;
    case BlockedButton::kExportNames:
      work = [this] { ExportNamesAndLocations(app_, blocked_, blockedForm_); };
      break;
    case BlockedButton::kMove:
      work = [this] { MoveListedFiles(app_, accounts_, blocked_, blockedForm_); };
      break;
    case BlockedButton::kCount:
      return;
  }
  // A worker that could not be started leaves the button free.
  if (!workers_.start(std::move(work), Caption(button))) blockedForm_.setEnabled(button, true);
}

void MainWindow::onBlockedWindowClosed() {
  blockedForm_.setVisible(false);
}

bool MainWindow::onCloseRequested() {
  return QueryClose(app_, form_.taskRunning());
}

void MainWindow::switchToSelectedAccount() {
  if (SwitchOperatingAccount(app_, accounts_)) startRootRefresh();
}

void MainWindow::startRootRefresh() {
  pansift::StartRootRefresh(app_, form_, accounts_, tree_, workers_);
}

}  // namespace pansift
