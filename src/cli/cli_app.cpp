#include "cli/cli_app.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "accounts/account_actions.h"
#include "accounts/account_file.h"
#include "accounts/account_store.h"
#include "accounts/add_account.h"
#include "app/main_window.h"
#include "app/startup.h"
#include "blocked/blocked_list.h"
#include "blocked/exports.h"
#include "blocked/history.h"
#include "cli/cli_platform.h"
#include "cli/json_out.h"
#include "core/app_state.h"
#include "core/log.h"
#include "core/main_form.h"
#include "net/http.h"
#include "netdisk/conventions.h"
#include "netdisk/listing.h"
#include "pansift_version.h"
#include "pipeline/catalogue_db.h"
#include "pipeline/check_task.h"
#include "pipeline/task_context.h"
#include "tree/folder_tree.h"
#include "tree/tree_operations.h"
#include "util/codepage.h"
#include "util/escapes.h"
#include "util/text.h"

namespace pansift::cli {
namespace {

std::atomic<int> gStops{0};
// A check waits for stops: one takes them as the stop button; otherwise a stop ends
// the program.
std::atomic<bool> gCheckTakesStops{false};

struct GlobalOptions {
  FrontEndOptions start;
  std::vector<std::string> accounts;  // UTF-8, as --account names them
  bool allAccounts = false;           // check: every saved account
  /// The one account of a command that acts for one (the first saved one when empty).
  std::string account() const { return accounts.empty() ? std::string() : accounts.back(); }
  bool yes = false;
  bool no = false;
  bool quiet = false;
};

// accountRow's answer when several saved accounts have the name asked for.
constexpr int kAmbiguousAccount = -2;

// The exit code when accountRow found no single row.
int ExitOfAccountRow(int row) {
  return row == kAmbiguousAccount ? kExitUsage : kExitNoAccount;
}

// An error of the command line itself, on stderr.
void Complain(Console& console, const std::string& message) {
  console.line("pansift-cli: " + message);
}

// Everything one run of the command line works with: the shared record, the form
// model, the account list and the event table, as the window has them.
class Session {
 public:
  Session(const GlobalOptions& options, const CliIo& io)
      : io_(io),
        console_(io.err, io.errIsTerminal, options.quiet),
        platform_(console_,
                  options.yes  ? PromptPolicy::kYes
                  : options.no ? PromptPolicy::kNo
                               : PromptPolicy::kTimeout,
                  io.clock),
        dir_(PrepareFrontEnd(options.start, ExecutableDir())),
        app_(platform_, dir_.dirs),
        window_(app_, form_, accounts_) {
    ApplyFrontEndOptions(app_, options.start);
    // The log pane's lines go to stderr as they come, with the names as they are.
    logLines_ = app_.log.subscribe([this](const LogAppended& change) {
      console_.note(LogLine(change.text, change.exactUtf8));
    });
    window_.start();
    window_.waitForAccountLoader();
    FinishFrontEndStart(app_, dir_);
  }
  ~Session() { window_.waitForWorkers(); }
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  AppState& app() { return app_; }
  MainForm& form() { return form_; }
  AccountStore& accounts() { return accounts_; }
  MainWindow& window() { return window_; }
  CliPlatform& platform() { return platform_; }
  Console& console() { return console_; }
  const CliIo& io() const { return io_; }

  /// The row of the account named `nameUtf8` (the first row when empty); -1 after
  /// saying why when no row has that name, kAmbiguousAccount when several have it.
  /// Names are compared as Unicode: GBK has no emoji, so converting the argument to
  /// local text would make different names equal.
  int accountRow(const std::string& nameUtf8) {
    std::vector<AccountRecord> rows = accounts_.rows();
    if (rows.empty()) {
      Complain(console_, "no saved account in " + AccountFilePath(app_) +
                             " (add one with: pansift-cli accounts add)");
      return -1;
    }
    if (nameUtf8.empty()) return 0;
    const std::u16string name = Utf8ToUnicode(nameUtf8);
    std::vector<int> matches;
    for (size_t i = 0; i < rows.size(); ++i) {
      if (DecodeUnicodeEscapes(rows[i].userName) == name) matches.push_back(static_cast<int>(i));
    }
    if (matches.empty()) {
      Complain(console_, "no saved account named " + nameUtf8);
      return -1;
    }
    if (matches.size() > 1) {
      std::string ordinals;
      for (int row : matches)
        ordinals += (ordinals.empty() ? "" : ", ") + rows[static_cast<size_t>(row)].ordinal;
      Complain(console_, "the name " + nameUtf8 +
                             " is ambiguous: " + std::to_string(matches.size()) +
                             " saved accounts (rows " + ordinals + ") have it");
      return kAmbiguousAccount;
    }
    return matches.front();
  }

 private:
  const CliIo& io_;
  Console console_;
  CliPlatform platform_;
  ProgramDirChoice dir_;
  AppState app_;
  MainForm form_;
  AccountStore accounts_;
  MainWindow window_;
  Subscription logLines_;
};

// What stderr says when the service could not be reached: why, as the last identity
// read found it (a CA file that cannot be used, a certificate that is not trusted,
// no connection), with the file or host it concerns.
std::string Unreachable(Session& s) {
  const std::string why = s.app().lastTransferError.get();
  return "the netdisk service could not be reached (" + s.app().origins.netdisk + ")" +
         (why.empty() ? std::string() : ": " + why);
}

int ExitOf(AccountOutcome outcome) {
  switch (outcome) {
    case AccountOutcome::kAdded:
    case AccountOutcome::kUpdated:
    case AccountOutcome::kKept:
    case AccountOutcome::kValid:
      return kExitDone;
    case AccountOutcome::kInvalid:
      return kExitNoAccount;
    case AccountOutcome::kUnreachable:
      return kExitService;
  }
  return kExitService;
}

// ---- accounts ----------------------------------------------------------------------

int AccountsList(Session& s, bool json) {
  std::vector<AccountRecord> rows = s.accounts().rows();
  const CliIo& io = s.io();
  if (json) {
    JsonArray array;
    for (const AccountRecord& row : rows) {
      JsonObject object;
      object.add("user", DecodeUnicodeEscapesUtf8(row.userName));
      object.add("uk", DecodeUnicodeEscapesUtf8(row.uk));
      array.add(object);
    }
    io.out << array.text() << '\n';
    return kExitDone;
  }
  for (const AccountRecord& row : rows)
    io.out << TerminalText(row.ordinal) << '\t'
           << TerminalText(DecodeUnicodeEscapesUtf8(row.userName)) << '\t'
           << TerminalText(DecodeUnicodeEscapesUtf8(row.uk)) << '\n';
  return kExitDone;
}

// The cookie string of `accounts add`: the argument, the file's text, or stdin's.
std::optional<std::string> ReadCookieInput(const CliIo& io, const std::string& argument,
                                           const std::string& file) {
  std::string text;
  if (!file.empty()) {
    std::ifstream in(file, std::ios::binary);
    if (!in) {
      io.err << "pansift-cli: cannot read " << TerminalText(file) << '\n';
      return std::nullopt;
    }
    text.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  } else if (argument.empty() || argument == "-") {
    text.assign(std::istreambuf_iterator<char>(io.in), std::istreambuf_iterator<char>());
  } else {
    text = argument;
  }
  // A file or a pipe ends in a line break, which is not part of the cookie string.
  auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
  while (!text.empty() && blank(text.back())) text.pop_back();
  size_t start = 0;
  while (start < text.size() && blank(text[start])) ++start;
  return Utf8ToLocal(text.substr(start));
}

int AccountsAdd(Session& s, const std::string& argument, const std::string& file) {
  std::optional<std::string> cookies = ReadCookieInput(s.io(), argument, file);
  if (!cookies) return kExitUsage;
  s.form().setText(FormText::kCookies, *cookies);
  // The window's own check of the pasted text, then its add.
  if (!AddAccountFromInput(s.app(), s.form())) return kExitNoAccount;
  AccountOutcome outcome = AddAccount(s.app(), s.form(), s.accounts(), *cookies);
  if (outcome == AccountOutcome::kUnreachable) Complain(s.console(), Unreachable(s));
  if (outcome != AccountOutcome::kAdded && outcome != AccountOutcome::kUpdated)
    return ExitOf(outcome);
  if (!WriteAccountFile(s.app(), s.accounts())) return kExitUsage;
  s.console().note("saved to " + AccountFilePath(s.app()));
  // An expired login still names its user, and the window keeps such a row too; it
  // has no uk, and nothing can be done with it until its cookies are renewed.
  for (const AccountRecord& row : s.accounts().rows()) {
    if (row.cookies == *cookies && row.uk.empty()) {
      Complain(s.console(), "the service does not accept the login of " +
                                DecodeUnicodeEscapesUtf8(row.userName));
      return kExitNoAccount;
    }
  }
  return kExitDone;
}

int AccountsValidate(Session& s, const std::string& name, bool json) {
  std::vector<int> rows;
  if (!name.empty()) {
    int row = s.accountRow(name);
    if (row < 0) return ExitOfAccountRow(row);
    rows.push_back(row);
  } else {
    for (int row = 0; row < s.accounts().rowCount(); ++row) rows.push_back(row);
    if (rows.empty()) return s.accountRow({}) < 0 ? kExitNoAccount : kExitDone;
  }
  int code = kExitDone;
  JsonArray results;
  std::string unreachable;
  for (int row : rows) {
    AccountOutcome outcome = ValidateAccountRow(s.app(), s.accounts(), row);
    const bool reached = outcome != AccountOutcome::kUnreachable;
    std::string status = reached
                             ? DecodeUnicodeEscapesUtf8(s.accounts().cellText(row, kColumnStatus))
                             : std::string("unreachable");
    const std::string user = DecodeUnicodeEscapesUtf8(s.accounts().cellText(row, kColumnUserName));
    if (!reached) unreachable = Unreachable(s);
    if (json) {
      JsonObject result;
      result.add("user", user);
      result.add("uk", DecodeUnicodeEscapesUtf8(s.accounts().cellText(row, kColumnUk)));
      result.add("valid", outcome == AccountOutcome::kValid);
      result.add("status", status);
      if (!reached) result.add("error", s.app().lastTransferError.get());
      results.add(result);
    } else {
      s.io().out << TerminalText(user) << '\t' << TerminalText(status) << '\n';
    }
    // A service that cannot be reached outweighs a dead login: the answer is not known.
    int rowCode = ExitOf(outcome);
    if (rowCode == kExitService || (rowCode == kExitNoAccount && code == kExitDone)) code = rowCode;
  }
  if (json) s.io().out << results.text() << '\n';
  if (!unreachable.empty()) Complain(s.console(), unreachable);
  return code;
}

int AccountsRemove(Session& s, const std::string& name) {
  int row = s.accountRow(name);
  if (row < 0) return ExitOfAccountRow(row);
  int before = s.accounts().rowCount();
  s.accounts().setSelectedRow(row);
  DeleteSelectedAccount(s.app(), s.accounts());
  // Not removed is not done: a script learns that the account is still there.
  if (s.accounts().rowCount() == before) {
    Complain(s.console(), "kept " + name + " (removing it needs a Yes: --yes)");
    return kExitUsage;
  }
  if (!WriteAccountFile(s.app(), s.accounts())) return kExitUsage;
  s.console().note("removed " + name + "; saved to " + AccountFilePath(s.app()));
  return kExitDone;
}

// ---- the folder tree ---------------------------------------------------------------

// Makes the chosen account the operating one and lists its root, as a double-click
// on its row does. kExitDone when the root folder is in the tree.
int OpenAccount(Session& s, const std::string& name) {
  int row = s.accountRow(name);
  if (row < 0) return ExitOfAccountRow(row);
  s.accounts().setSelectedRow(row);
  if (!SwitchOperatingAccount(s.app(), s.accounts())) return kExitNoAccount;
  switch (RefreshRootTree(s.app(), s.form(), s.accounts(), s.window().tree())) {
    case RefreshOutcome::kListed:
      return kExitDone;
    case RefreshOutcome::kNoAccount:
    case RefreshOutcome::kInvalid:
      Complain(s.console(), "the service does not accept the cookies of " +
                                DecodeUnicodeEscapesUtf8(s.app().currentUserName.get()));
      return kExitNoAccount;
    case RefreshOutcome::kUnreachable:
      Complain(s.console(), Unreachable(s));
      return kExitService;
    case RefreshOutcome::kFailed:
    case RefreshOutcome::kSuperseded:
      break;
  }
  Complain(s.console(), "the netdisk service failed (" + s.app().origins.netdisk + ")");
  return kExitService;
}

// Whether a node's text names `name`: the tree shows names exactly as the service
// lists them.
bool NodeNamed(const TreeNode& node, const std::u16string& name) {
  return node.text == name;
}

// Lists a folder node that has not been listed yet.
int ListNode(Session& s, NodeId id) {
  FolderTree& tree = s.window().tree();
  std::optional<TreeNode> node = tree.node(id);
  if (!node || node->value == kNodeFile || !node->children.empty() || node->expanded)
    return kExitDone;
  switch (ListOrFoldNode(s.app(), s.form(), tree, id)) {
    case ListingOutcome::kSuccess:
      return kExitDone;
    case ListingOutcome::kFolderGone:
      Complain(s.console(), "the folder " + UnicodeToUtf8(tree.netdiskPath(id)) + " is gone");
      return kExitUsage;
    case ListingOutcome::kCookiesInvalid:
    case ListingOutcome::kFailed:
      break;
  }
  Complain(s.console(), "listing " + UnicodeToUtf8(tree.netdiskPath(id)) + " failed");
  return kExitService;
}

// Opens the tree along `pathUtf8` from the account root, listing each folder on the
// way as a double-click on it does.
int FindNode(Session& s, const std::string& pathUtf8, NodeId& found) {
  FolderTree& tree = s.window().tree();
  NodeId id = tree.root();
  // Split by bytes: "/" never occurs inside a UTF-8 character.
  for (size_t start = 0; start <= pathUtf8.size();) {
    size_t slash = std::min(pathUtf8.find('/', start), pathUtf8.size());
    std::string part = pathUtf8.substr(start, slash - start);
    start = slash + 1;
    if (part.empty()) continue;
    if (int code = ListNode(s, id); code != kExitDone) return code;
    std::u16string name = Utf8ToUnicode(part);
    NodeId next = kNoNode;
    for (NodeId child : tree.children(id)) {
      std::optional<TreeNode> node = tree.node(child);
      if (node && NodeNamed(*node, name)) {
        next = child;
        break;
      }
    }
    if (next == kNoNode) {
      Complain(s.console(), "no such folder: " + pathUtf8);
      return kExitUsage;
    }
    id = next;
  }
  found = id;
  return kExitDone;
}

// What `tree` lists and how.
struct TreeOptions {
  std::string path = "/";
  bool json = false;
  bool recursive = false;
  std::optional<int> depth;  // with recursive: how many levels; 0 or none: all
};

// The dir value of a Netdisk folder path, as the tree's node listing sends it.
std::string DirOf(const std::u16string& path) {
  std::vector<std::u16string> names;
  for (size_t start = 0; start <= path.size();) {
    size_t slash = std::min(path.find(u'/', start), path.size());
    if (slash > start) names.push_back(path.substr(start, slash - start));
    start = slash + 1;
  }
  return names.empty() ? std::string("%2F") : TreeNamesToDir(names);
}

// Every entry of the folder at `path`, page by page, as the tree's node listing asks
// for them (the window's sort order); their size, time and fs_id come with them.
int ListEntries(Session& s, const std::u16string& path, std::vector<NetdiskEntry>& entries) {
  const std::string cookies = s.app().currentCookies.get();
  const ListingOrder order = ReadSortOrder(s.form());
  const std::string dir = DirOf(path);
  entries.clear();
  for (int page = 1;; ++page) {
    TreeListing listing = ListTreeNodePage(s.app(), cookies, order, dir, page);
    if (listing.outcome == ListingOutcome::kFolderGone) {
      Complain(s.console(), "the folder " + UnicodeToUtf8(path) + " is gone");
      return kExitUsage;
    }
    if (listing.outcome != ListingOutcome::kSuccess) {
      const std::string why = listing.reply.empty() ? listing.error : LocalToUtf8(listing.reply);
      Complain(s.console(), "listing " + UnicodeToUtf8(path) + " failed: " + why);
      return kExitService;
    }
    std::vector<NetdiskEntry> more = ReadEntries(listing.reply);
    const bool full = more.size() >= static_cast<size_t>(kFolderPageSize);
    entries.insert(entries.end(), std::make_move_iterator(more.begin()),
                   std::make_move_iterator(more.end()));
    if (!full) return kExitDone;
  }
}

long long NumberOf(const std::string& digits) {
  return std::strtoll(digits.c_str(), nullptr, 10);
}

// Lists the folder at `path` and, while `levels` allows (0: no limit), the folders
// below it, each folder's entries right after it. `shown` is the folder's path as
// the text output names it, relative to the listed folder ("" for that one).
int ListTree(Session& s, const std::u16string& path, const std::string& shown, int levels,
             bool json, JsonArray& out) {
  std::vector<NetdiskEntry> entries;
  if (int code = ListEntries(s, path, entries); code != kExitDone) return code;
  for (const NetdiskEntry& entry : entries) {
    const std::string name = DecodeUnicodeEscapesUtf8(entry.serverFilename);
    const std::u16string entryPath = DecodeUnicodeEscapes(entry.path);
    const std::string relative = shown + name;
    if (json) {
      JsonObject object;
      object.add("name", name);
      object.add("folder", entry.isdir);
      object.add("fs_id", entry.fsId);
      object.add("path", UnicodeToUtf8(entryPath));
      object.add("size", NumberOf(entry.size));
      object.add("mtime", NumberOf(entry.serverMtime));
      object.add("isdir", entry.isdir);
      out.add(object);
    } else {
      s.io().out << TerminalText(relative) << (entry.isdir ? "/" : "") << '\n';
    }
    if (entry.isdir && levels != 1) {
      if (int code = ListTree(s, entryPath, relative + "/", levels > 1 ? levels - 1 : 0, json, out);
          code != kExitDone)
        return code;
    }
  }
  return kExitDone;
}

int Tree(Session& s, const std::string& account, const TreeOptions& options) {
  if (int code = OpenAccount(s, account); code != kExitDone) return code;
  NodeId id = kNoNode;
  if (int code = FindNode(s, options.path, id); code != kExitDone) return code;
  FolderTree& tree = s.window().tree();
  std::optional<TreeNode> node = tree.node(id);
  if (node && node->value == kNodeFile) {
    Complain(s.console(), "not a folder: " + options.path);
    return kExitUsage;
  }
  const std::u16string folder = tree.netdiskPath(id);
  const int levels = options.recursive ? options.depth.value_or(0) : 1;
  JsonArray entries;
  if (int code = ListTree(s, folder, "", levels, options.json, entries); code != kExitDone)
    return code;
  if (options.json) {
    JsonObject result;
    result.add("folder", UnicodeToUtf8(folder));
    result.addRaw("entries", entries.text());
    s.io().out << result.text() << '\n';
  }
  return kExitDone;
}

// ---- check -------------------------------------------------------------------------

// The settings of the tab "清理和谐文件"; unset ones keep the window's defaults.
struct CheckOptions {
  std::string path = "/";
  std::optional<int> depth;
  std::optional<int> checkThreads;
  std::optional<int> prereadThreads;
  std::optional<int> filesPerBatch;
  std::optional<int> autoDelay;
  std::optional<int> submitInterval;
  std::optional<int> deleteInterval;
  bool deleteFiles = false;
  bool halving = false;
  bool resume = false;
  bool json = false;
  std::string exportTable;
};

void ApplyCheckOptions(MainForm& form, const CheckOptions& options) {
  auto set = [&form](FormText box, const std::optional<int>& value) {
    if (value) form.setText(box, std::to_string(*value));
  };
  set(FormText::kDepth, options.depth);
  set(FormText::kCheckThreads, options.checkThreads);
  set(FormText::kPrereadThreads, options.prereadThreads);
  set(FormText::kFilesPerBatch, options.filesPerBatch);
  set(FormText::kAutoDelay, options.autoDelay);
  set(FormText::kSubmitInterval, options.submitInterval);
  set(FormText::kDeleteInterval, options.deleteInterval);
  form.setDeleteFiles(options.deleteFiles);
  form.setHalvingSearch(options.halving);
}

// The progress of the running task, sampled by the waiting loop; the rate is taken
// over the current phase.
class ProgressSampler {
 public:
  ProgressState sample(Session& s) {
    TaskContext& task = s.window().checkTask().context();
    ProgressState state;
    state.entriesRead = s.app().prereadCount.load();
    state.checkTotal = task.checkTotal.load();
    state.checked = task.checkedRows.load();
    state.blocked = s.app().blockedCount.load();
    state.paused = s.app().paused.load();
    bool checking = state.checkTotal >= 0;
    auto now = std::chrono::steady_clock::now();
    if (checking != checking_ || !started_) {
      checking_ = checking;
      started_ = true;
      phaseStart_ = now;
    }
    double seconds = std::chrono::duration<double>(now - phaseStart_).count();
    double done = static_cast<double>(checking ? state.checked : state.entriesRead);
    state.rate = seconds > 0.5 ? done / seconds : 0;
    return state;
  }

 private:
  bool started_ = false;
  bool checking_ = false;
  std::chrono::steady_clock::time_point phaseStart_;
};

// The status of a blocked file for the result: its delete status when a delete was
// tried, else the catalogue's mark.
std::string BlockedStatus(const BlockedRow& row) {
  return row.deleteStatus.empty() ? std::string("已和谐")
                                  : DecodeUnicodeEscapesUtf8(row.deleteStatus);
}

// A blocked file's Netdisk path as it really is: the list's path cell keeps the
// catalogue's encoding, a script wants the service's path.
std::string BlockedPath(const BlockedRow& row) {
  return UnicodeToUtf8(row.netdiskPath);
}

// A time the user gave: "YYYY-MM-DD", or with "THH:MM[:SS]" or " HH:MM[:SS]", local time.
std::optional<std::time_t> ParseLocalTime(const std::string& text) {
  for (const char* format :
       {"%Y-%m-%dT%H:%M:%S", "%Y-%m-%d %H:%M:%S", "%Y-%m-%dT%H:%M", "%Y-%m-%d %H:%M", "%Y-%m-%d"}) {
    std::tm parts{};
    const char* end = strptime(text.c_str(), format, &parts);
    if (end == nullptr || *end != '\0') continue;
    parts.tm_isdst = -1;
    std::time_t when = std::mktime(&parts);
    if (when != static_cast<std::time_t>(-1)) return when;
  }
  return std::nullopt;
}

// A time for scripts: ISO 8601 in local time with its offset.
std::string IsoLocalTime(long long seconds) {
  std::time_t when = static_cast<std::time_t>(seconds);
  std::tm parts{};
  localtime_r(&when, &parts);
  char text[40];
  std::size_t length = std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S%z", &parts);
  std::string iso(text, length);
  if (iso.size() > 5) iso.insert(iso.size() - 2, ":");  // +0800 -> +08:00
  return iso;
}

int History(Session& s, const std::string& account, const std::string& since, bool json) {
  long long from = 0;
  if (!since.empty()) {
    std::optional<std::time_t> when = ParseLocalTime(since);
    if (!when) {
      Complain(s.console(), "--since takes a date such as 2026-12-01 or 2026-12-01T08:00, not " +
                                TerminalText(since));
      return kExitUsage;
    }
    from = *when;
  }
  FindingsHistory& history = s.window().history();
  if (!history.ok()) {
    Complain(s.console(),
             "cannot open " + s.app().dataFile(kHistoryFileName) + ": " + history.error());
    return kExitService;
  }
  const std::vector<Finding> findings = history.list(account, from);
  if (json) {
    JsonArray array;
    for (const Finding& finding : findings) {
      JsonObject object;
      object.add("account", finding.account);
      object.add("fs_id", finding.fsid);
      object.add("path", finding.path);
      object.add("first_seen", IsoLocalTime(finding.firstSeen));
      object.add("last_seen", IsoLocalTime(finding.lastSeen));
      object.add("state", finding.state);
      array.add(object);
    }
    s.io().out << array.text() << '\n';
  } else {
    for (const Finding& finding : findings) {
      s.io().out << IsoLocalTime(finding.firstSeen) << '\t' << IsoLocalTime(finding.lastSeen)
                 << '\t' << finding.state << '\t' << TerminalText(finding.account) << '\t'
                 << TerminalText(finding.path) << '\n';
    }
  }
  s.io().out.flush();
  return kExitDone;
}

// One check for `account`. With `labelled` (one of several accounts' checks), the
// progress and the JSON name the account; `printed`, when given, tells whether a
// result went to stdout.
int Check(Session& s, const std::string& account, const CheckOptions& options,
          bool labelled = false, bool* printed = nullptr) {
  if (int code = OpenAccount(s, account); code != kExitDone) return code;
  NodeId id = kNoNode;
  if (int code = FindNode(s, options.path, id); code != kExitDone) return code;
  MainWindow& window = s.window();
  window.tree().select(id);
  ApplyCheckOptions(s.form(), options);

  Console& console = s.console();
  static const std::string kFinished = L8("检查任务已完成。");
  // The task's closing notice is no news to --quiet.
  if (console.quiet()) s.platform().hideOnce(kFinished);
  ProgressSampler sampler;
  const std::string label = labelled ? TerminalText(account) + ": " : std::string();
  // Without --resume a check starts anew, as the window does when No is answered.
  const StartOutcome started =
      window.onStartCheckRequested(options.resume ? ResumeChoice::kResume : ResumeChoice::kAnew);
  if (options.resume && started == StartOutcome::kResumed)
    console.line("resuming the unfinished check of this folder in the catalogue");
  if (options.resume && started == StartOutcome::kStartedAnew)
    console.line(
        "no unfinished check of this folder, account and depth in the catalogue: "
        "starting anew");
  int stopsHandled = 0;
  gCheckTakesStops = true;
  // A task runs while 按钮_开始检查 is disabled; after a stop its threads may still drain.
  while (s.form().taskRunning() || window.checkTask().active()) {
    if (int stops = gStops.load(); stops > stopsHandled) {
      // The Ctrl-C is the user's answer to the stop question, and a stopped task is
      // not complete, whatever its closing notice says.
      if (stopsHandled == 0 && !console.quiet()) s.platform().hideOnce(kFinished);
      stopsHandled = stops;
      s.platform().answerOnce(L8("确定停止检查任务？"), kIdYes);
      console.note("stopping (Ctrl-C again ends at once)");
      window.onStopCheckClicked();
      continue;
    }
    console.progress(label + ProgressText(sampler.sample(s), console.terminal()));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  window.waitForWorkers();
  gCheckTakesStops = false;
  ProgressState last = sampler.sample(s);
  console.progress(label + ProgressText(last, console.terminal()), true);
  console.endProgress();

  TaskContext& task = window.checkTask().context();
  const bool stopped = s.app().stopRequested.load();
  const bool checked = task.checkTotal.load() >= 0;
  if (!checked && !stopped) return kExitUsage;  // the start was refused: the prompt said why

  std::vector<BlockedRow> rows = window.blocked().rows();
  const std::string folder = task.folderPath.get();
  // Folders the service would not list, and a catalogue that failed: their entries
  // were never checked, so the result is not complete.
  const std::vector<std::u16string> failedFolders = task.failedFolders.list();
  const int catalogueFailures = task.catalogue.failures();
  if (printed) *printed = true;
  if (options.json) {
    JsonArray blocked;
    for (const BlockedRow& row : rows) {
      JsonObject object;
      object.add("fs_id", row.fsid);
      object.add("path", BlockedPath(row));
      object.add("status", BlockedStatus(row));
      object.add("state", FindingState(row));
      object.add("new", window.isNewFinding(DecodeUnicodeEscapesUtf8(row.account), row.fsid));
      blocked.add(object);
    }
    JsonObject result;
    if (labelled) result.add("account", account);
    result.add("folder", folder);
    // Entries: files and folders alike are asked about.
    const long long total = std::max(task.checkTotal.load(), 0LL);
    const long long folders = std::clamp(task.checkFolders.load(), 0LL, total);
    result.add("total", total);
    result.add("resumed", started == StartOutcome::kResumed);
    result.add("files", total - folders);
    result.add("folders", folders);
    result.addRaw("blocked", blocked.text());
    result.add("undecided", static_cast<long long>(task.undecidedRows.load()));
    JsonArray failed;
    for (const std::u16string& path : failedFolders) failed.add(UnicodeToUtf8(path));
    result.addRaw("failed_folders", failed.text());
    s.io().out << result.text() << '\n';
  } else {
    for (const BlockedRow& row : rows)
      s.io().out << TerminalText(BlockedPath(row)) << '\t' << TerminalText(BlockedStatus(row))
                 << '\n';
  }
  s.io().out.flush();

  if (!options.exportTable.empty()) {
    if (!WriteTableFile(options.exportTable, rows)) {
      Complain(console, "cannot write " + options.exportTable);
      return kExitUsage;
    }
    console.note("table written to " + options.exportTable);
  }
  // The name last: the line's end is the name's end, whatever the name holds.
  for (const std::u16string& path : failedFolders) {
    Complain(console, "a folder could not be listed (the last reply is in " +
                          s.app().stateFile("err.txt") +
                          "); its entries were not checked: " + UnicodeToUtf8(path));
  }
  if (catalogueFailures > 0) {
    Complain(console, "the catalogue failed " + std::to_string(catalogueFailures) +
                          " time(s) (the log lines above say why); the result is not complete");
  }
  if (stopped) return kExitStopped;
  // Files the service would not decide on, folders it would not list, a catalogue
  // that failed: the result is not complete.
  if (task.undecidedRows.load() > 0 || !failedFolders.empty() || catalogueFailures > 0)
    return kExitService;
  return kExitDone;
}

// How serious an exit code is among several checks' codes: a dead login first, then a
// service failure or an incomplete result, a stop, a usage error, success.
int Seriousness(int code) {
  switch (code) {
    case kExitNoAccount:
      return 4;
    case kExitService:
      return 3;
    case kExitStopped:
      return 2;
    case kExitUsage:
      return 1;
    default:
      return 0;
  }
}

// The catalogue of one account's check among several: the accounts' tasks must not
// resume or overwrite each other's, so each has its own file beside the one named.
std::string AccountCatalogue(const std::string& base, const AccountRecord& row, size_t index) {
  std::filesystem::path path = CatalogueFile(base);
  std::string id = row.uk;
  if (id.empty() || id.find_first_not_of("0123456789") != std::string::npos)
    id = "account" + std::to_string(index + 1);
  path.replace_filename(path.stem().string() + "-" + id + path.extension().string());
  return path.string();
}

// check --all-accounts, or --account given several times: one task per account, in
// turn. A login the service refuses is reported and the others still run; with
// --json each account's result is one line. The exit code is the most serious one.
int CheckEveryAccount(Session& s, const GlobalOptions& global, const CheckOptions& options) {
  std::vector<std::string> names = global.accounts;
  const std::vector<AccountRecord> rows = s.accounts().rows();
  if (global.allAccounts) {
    names.clear();
    for (const AccountRecord& row : rows) names.push_back(DecodeUnicodeEscapesUtf8(row.userName));
  }
  // No saved account: the one-account lookup says so.
  if (names.empty()) return ExitOfAccountRow(s.accountRow({}));
  CheckTask& task = s.window().checkTask();
  const std::string base = task.cataloguePath();
  int worst = kExitDone;
  for (const std::string& name : names) {
    if (gStops.load() > 0) break;  // a Ctrl-C ends the whole run
    s.console().note("checking account " + TerminalText(name));
    const int row = s.accountRow(name);
    int code = row < 0 ? ExitOfAccountRow(row) : kExitDone;
    bool printed = false;
    if (row >= 0) {
      task.setCataloguePath(
          AccountCatalogue(base, rows[static_cast<size_t>(row)], static_cast<size_t>(row)));
      {
        // Each account's list holds its own blocked files.
        std::lock_guard lock(s.app().listLock);
        s.window().blocked().clear();
      }
      code = Check(s, name, options, true, &printed);
    }
    // A check that printed nothing (its account or folder refused): its line says why.
    if (options.json && !printed) {
      JsonObject line;
      line.add("account", name);
      line.add("error", code == kExitNoAccount ? "login"
                        : code == kExitService ? "service"
                                               : "usage");
      s.io().out << line.text() << '\n';
      s.io().out.flush();
    }
    if (Seriousness(code) > Seriousness(worst)) worst = code;
  }
  task.setCataloguePath(base);
  return worst;
}

// check --delete deletes files on the netdisk: a person at a terminal confirms it,
// a script says so with --yes. kExitDone when it may go ahead.
int ConfirmDeletes(const CliIo& io, const GlobalOptions& global, const CheckOptions& options) {
  if (!options.deleteFiles || global.yes) return kExitDone;
  const std::string refused = "pansift-cli: nothing was checked: ";
  if (global.no) {
    io.err << refused << "--no answers the delete question\n";
    return kExitUsage;
  }
  if (!io.inIsTerminal) {
    io.err << refused
           << "check --delete deletes every blocked file it finds; without a terminal to ask "
              "on, confirm it with --yes\n";
    return kExitUsage;
  }
  io.err << "Delete every blocked file found in " << TerminalText(options.path)
         << " from the netdisk? [y/N] " << std::flush;
  std::string answer;
  std::getline(io.in, answer);
  std::transform(answer.begin(), answer.end(), answer.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  if (answer == "y" || answer == "yes") return kExitDone;
  io.err << refused << "the deletes were not confirmed\n";
  return kExitUsage;
}

// A number option's lowest value; the message says what was given.
CLI::Validator AtLeast(int lowest) {
  return CLI::Validator(
      [lowest](std::string& value) {
        long long number = 0;
        if (!CLI::detail::lexical_cast(value, number) || number < lowest)
          return "must be " + std::to_string(lowest) + " or more, not " + value;
        return std::string();
      },
      std::to_string(lowest) + " or more");
}

// The parser's words for a command that names no subcommand it knows ("A
// subcommand is required"), said plainly: which word it did not know, and what the
// command takes. Empty when the error is another one.
std::string UnknownCommand(const CLI::App& cli) {
  const std::vector<std::string> rest = cli.remaining();
  if (rest.empty()) return {};
  const CLI::App* given = &cli;
  while (!given->get_subcommands().empty()) given = given->get_subcommands().front();
  if (given->get_require_subcommand_min() == 0 || !given->get_subcommands().empty()) return {};
  std::string known;
  for (const CLI::App* sub : given->get_subcommands({}))
    known += (known.empty() ? "" : ", ") + sub->get_name();
  return "unknown command '" + rest.front() + "' (" +
         (given == &cli ? std::string("commands") : given->get_name() + " takes") + ": " + known +
         ")";
}

// Results that did not reach stdout (a full disk, a closed pipe) are no result: the
// command fails, whatever it did.
int WithOutputWritten(const CliIo& io, int code) {
  errno = 0;
  io.out.flush();
  if (io.out) return code;
  const int error = errno;
  io.err << "pansift-cli: cannot write the results to stdout"
         << (error != 0 ? std::string(": ") + std::strerror(error) : std::string()) << '\n'
         << std::flush;
  return code == kExitDone ? kExitUsage : code;
}
}  // namespace

int RequestStop() {
  return gStops.fetch_add(1) + 1;
}

bool CheckTakesStops() {
  return gCheckTakesStops.load();
}

int RunCli(int argc, const char* const* argv, const CliIo& io) {
  gStops = 0;
  GlobalOptions options;
  CLI::App cli{
      "PanSift without a window: the accounts, folders and blocked-file check of a "
      "netdisk account.\nExit codes: 0 done, 1 usage, a question answered No or output that "
      "cannot be written, 2 cookies invalid or no account, 3 service or network failure (a CA "
      "file that cannot be used, a certificate that is not trusted) or an incomplete check, "
      "4 stopped (Ctrl-C, SIGTERM).",
      "pansift-cli"};
  cli.fallthrough();
  cli.set_version_flag("--version", std::string("pansift-cli ") + PANSIFT_VERSION_TEXT);
  cli.add_option("--data-dir", options.start.dataDir,
                 "Keep settings, accounts and logs in DIR (default: beside the program, or "
                 "the XDG folders of an installed one)")
      ->option_text("DIR");
  cli.add_option("--netdisk-origin", options.start.netdiskOrigin,
                 "The netdisk web origin (default: the real service; also "
                 "PANSIFT_NETDISK_ORIGIN)")
      ->option_text("URL");
  cli.add_option("--passport-origin", options.start.passportOrigin,
                 "The account passport origin (also PANSIFT_PASSPORT_ORIGIN)")
      ->option_text("URL");
  cli.add_option("--portal-origin", options.start.portalOrigin,
                 "The portal origin (also PANSIFT_PORTAL_ORIGIN)")
      ->option_text("URL");
  cli.add_option("--ca-file", options.start.caFile,
                 "Also trust the certificates in this PEM file (also PANSIFT_CA_FILE)")
      ->option_text("FILE");
  cli.add_option("--catalogue", options.start.catalogue,
                 "The check's catalogue (default: vintrel.db in the current folder, or in "
                 "$XDG_STATE_HOME/pansift for an installed program)")
      ->option_text("FILE");
  cli.add_option("--account", options.accounts,
                 "The operating account by its user name, exactly as `accounts list` shows "
                 "it (default: the first saved one); check takes it several times")
      ->option_text("NAME")
      ->allow_extra_args(false);
  CLI::Option* yes = cli.add_flag("--yes,-y", options.yes, "Answer Yes (or OK) to every question");
  CLI::Option* no = cli.add_flag("--no,-n", options.no, "Answer No (or Cancel) to every question");
  yes->excludes(no);
  cli.add_flag("--quiet,-q", options.quiet,
               "No progress and no log lines on stderr: only errors and questions");

  // accounts
  CLI::App* accounts = cli.add_subcommand("accounts", "The saved accounts (baiduset.ini)");
  CLI::App* list = accounts->add_subcommand("list", "List the saved accounts");
  bool listJson = false;
  list->add_flag("--json", listJson, "One JSON array");
  CLI::App* add = accounts->add_subcommand(
      "add", "Add (or update) an account from the cookie string of a logged-in browser, and save");
  std::string addCookies;
  std::string addFile;
  add->add_option("COOKIES", addCookies, "The cookie string; - or none reads it from stdin");
  add->add_option("--file,-f", addFile, "Read the cookie string from FILE")->option_text("FILE");
  CLI::App* validate =
      accounts->add_subcommand("validate", "Ask the service whether saved logins are live");
  std::string validateName;
  bool validateJson = false;
  validate->add_option("NAME", validateName, "Only this account (default: all)");
  validate->add_flag("--json", validateJson,
                     "One JSON array: user, uk, valid, status (and error when unreachable)");
  CLI::App* remove = accounts->add_subcommand(
      "remove", "Remove a saved account (asks; --yes; kept without a Yes: exit 1)");
  std::string removeName;
  remove->add_option("NAME", removeName, "The account's user name")->required();
  accounts->require_subcommand(1);

  // tree
  CLI::App* tree = cli.add_subcommand("tree", "List a folder of the operating account");
  TreeOptions treeOptions;
  tree->add_option("PATH", treeOptions.path, "The folder, e.g. /电影 (default: /)");
  tree->add_flag("--json", treeOptions.json,
                 "One JSON document: folder, entries (name, folder, fs_id, path, size, mtime, "
                 "isdir)");
  CLI::Option* recursive = tree->add_flag("--recursive,-R", treeOptions.recursive,
                                          "Also list the folders below, each after its folder");
  tree->add_option("--depth,-d", treeOptions.depth,
                   "With --recursive: how many levels to list; 0: no limit (default)")
      ->check(AtLeast(0))
      ->needs(recursive);

  // history
  CLI::App* historyCommand = cli.add_subcommand(
      "history", "The blocked files every check found (history.db), oldest first");
  std::string historySince;
  bool historyJson = false;
  historyCommand
      ->add_option("--since", historySince,
                   "Only files last seen at or after DATE (2026-12-01, "
                   "2026-12-01T08:00; local time)")
      ->option_text("DATE");
  historyCommand->add_flag("--json", historyJson,
                           "One JSON array: account, fs_id, path, first_seen, last_seen, state");

  // check
  CLI::App* check = cli.add_subcommand(
      "check", "Find the blocked files of a folder (the window's 开始检查); they go to stdout");
  CheckOptions checkOptions;
  check->add_option("PATH", checkOptions.path, "The folder to check (default: /, everything)");
  check->add_option("--depth,-d", checkOptions.depth, "How deep to walk; 0: no limit (检查深度)")
      ->required()
      ->check(AtLeast(0));
  check
      ->add_option("--threads", checkOptions.checkThreads,
                   "Check threads, 1 to 5; 5 asks first (检查线程数, default 3)")
      ->check(AtLeast(1));
  check
      ->add_option("--preread-threads", checkOptions.prereadThreads,
                   "Folder reading threads, 1 to 30 (预读取线程数, default 10)")
      ->check(AtLeast(1));
  check
      ->add_option("--batch", checkOptions.filesPerBatch,
                   "Files asked about in one request (每次检查文件数量, default 50)")
      ->check(AtLeast(1));
  check
      ->add_option("--rate-limit-pause", checkOptions.autoDelay,
                   "Seconds to wait when the service limits the rate (自动延时秒数, default 30)")
      ->check(AtLeast(0));
  check
      ->add_option("--submit-interval", checkOptions.submitInterval,
                   "Seconds between check requests (检测违规文件提交间隔, default 0)")
      ->check(AtLeast(0));
  check
      ->add_option("--delete-interval", checkOptions.deleteInterval,
                   "Seconds between deletes (删除违规文件操作间隔, default 0)")
      ->check(AtLeast(0));
  check->add_flag("--delete", checkOptions.deleteFiles,
                  "Delete each blocked file when found (检测到被和谐文件时删除文件); asks on a "
                  "terminal, needs --yes in a script");
  check->add_flag("--halving", checkOptions.halving,
                  "Find the blocked files of a refused batch by asking about halves instead of "
                  "every file: fewer requests (对半查找和谐文件)");
  check
      ->add_flag("--all-accounts", options.allAccounts,
                 "Check every saved account in turn, each with its own catalogue "
                 "(vintrel-<uk>.db); --account may also be given several times. With --json, "
                 "one line per account, naming it")
      ->excludes(cli.get_option("--account"));
  check->add_flag("--resume", checkOptions.resume,
                  "Continue the check the catalogue holds unfinished for this account, folder "
                  "and depth (after a stop, a crash or a lost network); without one, start anew");
  check->add_flag("--json", checkOptions.json,
                  "Print one JSON document when the task ends: folder, total (entries), resumed, "
                  "files, folders, blocked, undecided, failed_folders");
  check
      ->add_option("--export-table", checkOptions.exportTable,
                   "Also write the blocked files to FILE in the window's table export format")
      ->option_text("FILE");

  cli.require_subcommand(1);

  try {
    cli.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    // The parser's messages quote the arguments they refuse: shown line by line as
    // names are.
    std::ostringstream errors;
    int code = 0;
    if (std::string unknown = UnknownCommand(cli); !unknown.empty()) {
      errors << "pansift-cli: " << unknown << "\nRun with --help for more information.\n";
      code = kExitUsage;
    } else {
      code = cli.exit(e, io.out, errors);
    }
    std::istringstream lines(errors.str());
    for (std::string line; std::getline(lines, line);) io.err << TerminalText(line) << '\n';
    return WithOutputWritten(io, code == 0 ? kExitDone : kExitUsage);
  }
  if (!*check && options.accounts.size() > 1) {
    io.err << "pansift-cli: --account is given once, except for check\n";
    return kExitUsage;
  }
  if (*check) {
    if (int code = ConfirmDeletes(io, options, checkOptions); code != kExitDone) return code;
  }

  Session session(options, io);
  const int code = [&] {
    if (*list) return AccountsList(session, listJson);
    if (*add) return AccountsAdd(session, addCookies, addFile);
    if (*validate) return AccountsValidate(session, validateName, validateJson);
    if (*remove) return AccountsRemove(session, removeName);
    if (*tree) return Tree(session, options.account(), treeOptions);
    if (*check) {
      if (options.allAccounts || options.accounts.size() > 1)
        return CheckEveryAccount(session, options, checkOptions);
      return Check(session, options.account(), checkOptions);
    }
    if (*historyCommand) return History(session, options.account(), historySince, historyJson);
    return static_cast<int>(kExitUsage);
  }();
  return WithOutputWritten(io, code);
}

}  // namespace pansift::cli
