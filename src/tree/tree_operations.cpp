#include "tree/tree_operations.h"

#include <exception>
#include <optional>
#include <string>
#include <vector>

#include "accounts/account_store.h"
#include "core/app_state.h"
#include "core/log.h"
#include "core/main_form.h"
#include "core/platform.h"
#include "core/worker_threads.h"
#include "netdisk/conventions.h"
#include "netdisk/identity.h"
#include "netdisk/listing.h"
#include "tree/file_icon.h"
#include "util/codepage.h"
#include "util/escapes.h"
#include "util/text.h"

namespace pansift {
namespace {

constexpr int kBusyPromptMs = 5000;

constexpr const char* kFolderGone = "当前目录已不存在（已被删除或改名），需要重新刷新。";

// The node of one listing entry: folders get the tree's default picture, files the
// picture of their extension, both read from `name` as the caller prepared it.
void AddEntryNode(FolderTree& tree, NodeId parent, const std::string& name, bool isdir) {
  tree.addNode(parent, DecodeUnicodeEscapes(name), isdir ? kPictureFolder : FileIconIndex(name),
               isdir ? kNodeFolder : kNodeFile);
}

}  // namespace

ListingOrder ReadSortOrder(const MainForm& form) {
  switch (form.sortOrder()) {
    case SortOrder::kNameAscending:
      return {"name", "0"};
    case SortOrder::kNameDescending:
      return {"name", "1"};
    case SortOrder::kTimeAscending:
      return {"time", "0"};
    case SortOrder::kTimeDescending:
      break;
  }
  return {"time", "1"};
}

namespace {

// One root refresh: the cookie string it works for and its place among refreshes.
// Refreshes may overlap (a click, then an account switch while the first is still
// waiting for the service); the one started last wins. An earlier one, or one
// whose cookies are no longer the operating account's, changes nothing: not the
// operating account, not the tree, not the account list, not the status.
class RootRefresh {
 public:
  RootRefresh(AppState& appState, MainForm& mainForm, AccountStore& accountStore,
              FolderTree& folderTree)
      : app(appState),
        form(mainForm),
        accounts(accountStore),
        tree(folderTree),
        number_(folderTree.startRootRefresh()) {}

  AppState& app;
  MainForm& form;
  AccountStore& accounts;
  FolderTree& tree;
  std::string cookies;

  RootRefresh(const RootRefresh&) = delete;
  RootRefresh& operator=(const RootRefresh&) = delete;
  // Every way out of a refresh enables 按钮1 itself; one by an exception does it here.
  ~RootRefresh() {
    if (std::uncaught_exceptions() <= unwinding_) return;
    try {
      enableButton();
    } catch (...) {
    }
  }

  // Whether this refresh may still change what the user sees; ask under listLock,
  // where the changes are made.
  bool current() const { return !superseded() && app.currentCookies.get() == cookies; }
  // 按钮1 is enabled by the refresh that started last; an earlier one would
  // enable it while the later one still runs.
  void enableButton() const {
    if (!superseded()) form.setEnabled(FormButton::kRefreshRoot, true);
  }
  void setStatusIfCurrent(const std::string& text) const {
    std::lock_guard lock(app.listLock);
    if (current()) SetStatus(app, text);
  }

 private:
  bool superseded() const { return !tree.isLatestRootRefresh(number_); }
  std::uint64_t number_;
  const int unwinding_ = std::uncaught_exceptions();
};

// The operating account's cookie string; with none chosen yet, the first account
// row becomes the operating account.
std::string TakeOperatingCookies(AppState& app, AccountStore& accounts) {
  if (app.currentCookies.get().empty()) {
    std::vector<AccountRecord> rows = accounts.rows();
    if (!rows.empty()) {
      app.currentUserName.set(rows[0].userName);
      app.currentCookies.set(rows[0].cookies);
      app.currentUk.set(rows[0].uk);
    }
  }
  return app.currentCookies.get();
}

void ReportNoAccount(const RootRefresh& refresh) {
  refresh.enableButton();
  TimedMessageBox(refresh.app.platform, L8("提示："),
                  L8("没有可操作的百度帐号，请通过左下方 '帐号登陆' 先进行登陆。"),
                  kPromptTimeoutMs, kStyleWarning);
  refresh.form.setSelectedTab(kTabAccounts);
}

// Hides the hint over the tree for good, says whose folders are coming and
// empties the tree. False when a later refresh took over already.
bool BeginRefresh(const RootRefresh& refresh) {
  std::lock_guard lock(refresh.app.listLock);
  if (!refresh.current()) return false;
  refresh.form.hideRefreshHint();
  SetStatus(refresh.app, L8("正在获取 ") + refresh.app.currentUserName.get() + L8(" 的目录结构"));
  refresh.tree.clear();
  return true;
}

// A renamed account: its row, found by uk, takes the new name and token. Without
// a uk (a failed or dead login) there is nothing to find it by; matching the
// empty uk would rename an unrelated row that has none.
void UpdateRenamedAccount(const RootRefresh& refresh, const AccountIdentity& identity) {
  if (identity.userName == refresh.app.currentUserName.get() || identity.uk.empty() ||
      identity.userName.empty())
    return;
  std::lock_guard lock(refresh.app.listLock);
  if (!refresh.current()) return;
  refresh.accounts.updateAccount({kColumnUk, identity.uk}, [&identity](AccountRecord& record) {
    record.bdstoken = identity.bdstoken;
    record.userName = identity.userName;
  });
}

void ReportNoUserName(const RootRefresh& refresh, const AccountIdentity& identity) {
  bool current;
  {
    std::lock_guard lock(refresh.app.listLock);
    current = refresh.current();
  }
  // Never ask the user while holding the lock.
  if (current) {
    // A service that could not be reached sent no reply to show: say why instead.
    const std::string text =
        identity.replyText.empty() ? Utf8ToLocal(identity.transferError) : identity.replyText;
    TimedMessageBox(refresh.app.platform, L8("提示"), text, kPromptTimeoutMs, kStyleInformation);
  }
  refresh.enableButton();
  refresh.setStatusIfCurrent(
      L8("获取用户名失败，可能是cookies失效，或百度网盘已更新。如果一直出现则联系更新，") +
      L8(kSupportContact) + "\r\n" + identity.replyText);
}

// Makes the account read the operating one and gives the tree its pictures and
// the account's root node. kNoNode when a later refresh took over.
NodeId ShowAccountRoot(const RootRefresh& refresh, const AccountIdentity& identity) {
  std::lock_guard lock(refresh.app.listLock);
  if (!refresh.current()) return kNoNode;
  refresh.app.currentUserName.set(identity.userName);
  refresh.app.currentBdstoken.set(identity.bdstoken);
  refresh.app.currentUk.set(identity.uk);
  if (refresh.tree.size() != 0) refresh.tree.clear();
  refresh.tree.setPictures();
  return refresh.tree.addNode(kNoNode, LocalToUnicode(identity.userName + L8("的网盘")),
                              kPictureAccount, kNodeAccountRoot);
}

// The status of a root listing that did not succeed; true when it did not.
bool ReportListingFailure(const RootRefresh& refresh, ListingOutcome outcome) {
  const char* text = nullptr;
  switch (outcome) {
    case ListingOutcome::kCookiesInvalid:
      text = "cookies可能无效,请重新登陆";
      break;
    case ListingOutcome::kFolderGone:
      text = kFolderGone;
      break;
    case ListingOutcome::kFailed:
      text = "获取失败目录列表，请重试";
      break;
    case ListingOutcome::kSuccess:
      return false;
  }
  refresh.enableButton();
  refresh.setStatusIfCurrent(L8(text));
  return true;
}

void ShowRootEntries(const RootRefresh& refresh, NodeId root, const std::string& reply) {
  std::vector<NetdiskEntry> entries = ReadEntries(reply);
  {
    std::lock_guard lock(refresh.app.listLock);
    if (refresh.current()) {
      // First-level names are shown as the reply has them, entities and all.
      for (const NetdiskEntry& entry : entries)
        AddEntryNode(refresh.tree, root, entry.serverFilename, entry.isdir);
      refresh.tree.setExpanded(root, true);
      SetStatus(refresh.app, refresh.app.currentUserName.get() + L8(" 获取成功"));
    }
  }
  refresh.enableButton();
}

}  // namespace

RefreshOutcome RefreshRootTree(AppState& app, MainForm& form, AccountStore& accounts,
                               FolderTree& tree) {
  RootRefresh refresh(app, form, accounts, tree);
  refresh.cookies = TakeOperatingCookies(app, accounts);
  if (refresh.cookies.empty()) {
    ReportNoAccount(refresh);
    return RefreshOutcome::kNoAccount;
  }
  if (!BeginRefresh(refresh)) {
    refresh.enableButton();
    return RefreshOutcome::kSuperseded;
  }
  AccountIdentity identity = ReadIdentity(app, refresh.cookies, kIdentityAttempts);
  UpdateRenamedAccount(refresh, identity);
  if (identity.userName.empty()) {
    ReportNoUserName(refresh, identity);
    return ServiceUnreachable(identity) ? RefreshOutcome::kUnreachable : RefreshOutcome::kInvalid;
  }
  NodeId root = ShowAccountRoot(refresh, identity);
  if (root == kNoNode) {
    refresh.enableButton();
    return RefreshOutcome::kSuperseded;
  }
  TreeListing listing = ListTreeRoot(app, refresh.cookies, ReadSortOrder(form));
  if (ReportListingFailure(refresh, listing.outcome)) {
    return listing.outcome == ListingOutcome::kCookiesInvalid ? RefreshOutcome::kInvalid
                                                              : RefreshOutcome::kFailed;
  }
  ShowRootEntries(refresh, root, listing.reply);
  return RefreshOutcome::kListed;
}

ListingOutcome ListOrFoldNode(AppState& app, const MainForm& form, FolderTree& tree, NodeId id) {
  // Held for the whole run, requests included: whatever else changes the lists or
  // the tree waits until this folder is listed.
  std::unique_lock lock(app.listLock);
  std::optional<TreeNode> node = tree.node(id);
  if (!node || node->value != kNodeFolder) return ListingOutcome::kSuccess;
  if (!node->children.empty()) {
    // Folded while loaded: drop the children, so the next opening lists it anew.
    if (!node->expanded) tree.removeChildren(id);
    return ListingOutcome::kSuccess;
  }

  const std::string dir = TreeNamesToDir(tree.namesTopDown(id));
  const std::string cookies = app.currentCookies.get();
  SetStatus(app, L8("获取中"));
  const ListingOrder order = ReadSortOrder(form);
  long long total = 0;
  for (int page = 1;; ++page) {
    SetStatus(app, L8("正在获取第 ") + std::to_string(page) + L8(" 页"));
    TreeListing listing = ListTreeNodePage(app, cookies, order, dir, page);
    if (listing.outcome == ListingOutcome::kFolderGone) {
      SetStatus(app, L8(kFolderGone));
      return ListingOutcome::kFolderGone;
    }
    if (listing.outcome != ListingOutcome::kSuccess) {
      // Without a reply, the reason is why none came.
      const std::string reason = listing.reply.empty() ? Utf8ToLocal(listing.error) : listing.reply;
      SetStatus(app, L8("获取目录列表时失败：") + reason);
      // Never ask the user while holding the lock.
      lock.unlock();
      TimedMessageBox(app.platform, L8("提示："),
                      L8("获取失败，请重试。\r\n\r\n失败原因：") + reason, kPromptTimeoutMs,
                      kStyleInformation);
      return ListingOutcome::kFailed;
    }
    std::vector<NetdiskEntry> entries = ReadEntries(listing.reply);
    total += static_cast<long long>(entries.size());
    for (const NetdiskEntry& entry : entries) {
      AddEntryNode(tree, id, entry.serverFilename, entry.isdir);
      ProcessEvents(app.platform);
    }
    // A full page may be followed by another.
    if (entries.size() >= static_cast<size_t>(kFolderPageSize)) continue;
    tree.setExpanded(id, true);
    SetStatus(app, L8("获取成功。  本次获取数量：") + std::to_string(total));
    return ListingOutcome::kSuccess;
  }
}

bool TreeListingThread::running() const {
  std::lock_guard lock(mutex_);
  return running_ && running_->load();
}

void StartRootRefresh(AppState& app, MainForm& form, AccountStore& accounts, FolderTree& tree,
                      WorkerThreads& workers) {
  const bool started = workers.start(
      [&app, &form, &accounts, &tree] { RefreshRootTree(app, form, accounts, tree); }, "刷新目录");
  // No refresh runs for this click: 按钮1 is free.
  if (!started) form.setEnabled(FormButton::kRefreshRoot, true);
}

bool OpenOrFoldNode(AppState& app, const MainForm& form, FolderTree& tree, WorkerThreads& workers,
                    TreeListingThread& listing) {
  NodeId node = tree.selected();
  if (listing.running()) {
    TimedMessageBox(app.platform, L8("提示："),
                    L8("当前有获取目录列表的任务，请等待完成后再获取。"), kBusyPromptMs,
                    kStyleInformation);
    return false;
  }
  if (node == kNoNode) return false;
  auto running = std::make_shared<std::atomic<bool>>(true);
  {
    std::lock_guard lock(listing.mutex_);
    listing.running_ = running;
  }
  const bool started = workers.start(
      [&app, &form, &tree, node, running] {
        // Idle again however the listing ends, an exception included.
        struct Idle {
          std::atomic<bool>& flag;
          ~Idle() { flag.store(false); }
        } idle{*running};
        ListOrFoldNode(app, form, tree, node);
      },
      "获取目录列表");
  if (!started) running->store(false);
  return started;
}

}  // namespace pansift
