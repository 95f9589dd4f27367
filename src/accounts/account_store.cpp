#include "accounts/account_store.h"

#include <unistd.h>

#include <cstdio>
#include <ctime>

#include "accounts/login_flow.h"
#include "core/app_state.h"
#include "core/log.h"
#include "core/main_form.h"
#include "core/platform.h"
#include "json/json_doc.h"
#include "util/codepage.h"
#include "util/files.h"
#include "util/time.h"

namespace pansift {
namespace {

constexpr std::array<AccountColumnInfo, kAccountColumnCount> kColumns = {{
    {"序", 30},
    {"网盘用户名", 85},
    {"状态", 70},
    {"cookies", 55},
    {"uk", 30},
    {"bdstoken", 1},
}};

bool ValidColumn(int column) {
  return column >= 0 && column < kAccountColumnCount;
}

// The JSON writer passes a backslash that starts an escape through unescaped; a
// doubled backslash is such an escape and reads back as one, so any cookie text
// survives the round trip through the file.
std::string KeepBackslashes(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    if (i + 1 < text.size() && IsGbkPair(c, static_cast<unsigned char>(text[i + 1]))) {
      // A two-byte GBK character: its trail byte may be 0x5C without being a backslash.
      out += text[i];
      out += text[++i];
      continue;
    }
    out += text[i];
    if (c == '\\') out += '\\';
  }
  return out;
}

// Every character outside ASCII as a \uXXXX escape, which the JSON writer passes
// through and the reader decodes: the file is then ASCII, the same in every encoding.
std::string EscapeNonAsciiLocal(std::string_view text) {
  return EscapeNonAscii(LocalToUnicode(text));
}

// A free name for keeping a damaged file aside: "<path>.damaged-<time>[-n]".
std::string AsideName(const std::string& path) {
  std::string base = path + ".damaged-" + FormatLocalTime(std::time(nullptr), 3, 0);
  std::string name = base;
  for (int n = 2; ::access(name.c_str(), F_OK) == 0; ++n) name = base + "-" + std::to_string(n);
  return name;
}

MessageBoxResult Prompt(AppState& app, const char* utf8Text, MessageBoxStyle style) {
  return TimedMessageBox(app.platform, L8("提示"), L8(utf8Text), kPromptTimeoutMs, style);
}

}  // namespace

const std::array<AccountColumnInfo, kAccountColumnCount>& AccountColumns() {
  return kColumns;
}

std::string AccountStatusText(AccountStatus status) {
  switch (status) {
    case AccountStatus::kImported:
      return L8("从记录导入");
    case AccountStatus::kAdded:
      return L8("刚添加");
    case AccountStatus::kUpdated:
      return L8("刚更新");
    case AccountStatus::kValidating:
      return L8("验证中");
    case AccountStatus::kValid:
      return L8("有效");
    case AccountStatus::kInvalid:
      return L8("已失效");
  }
  return {};
}

const std::string& AccountRecord::cell(int column) const {
  switch (column) {
    case kColumnOrdinal:
      return ordinal;
    case kColumnUserName:
      return userName;
    case kColumnStatus:
      return status;
    case kColumnCookies:
      return cookies;
    case kColumnUk:
      return uk;
    default:
      return bdstoken;
  }
}

std::string& AccountRecord::cell(int column) {
  return const_cast<std::string&>(static_cast<const AccountRecord&>(*this).cell(column));
}

// ---- AccountStore ------------------------------------------------------------------

int AccountStore::rowCount() const {
  std::lock_guard lock(mutex_);
  return static_cast<int>(rows_.size());
}

std::string AccountStore::cellText(int row, int column) const {
  std::lock_guard lock(mutex_);
  if (row < 0 || row >= static_cast<int>(rows_.size()) || !ValidColumn(column)) return {};
  return rows_[row].cell(column);
}

std::vector<AccountRecord> AccountStore::rows() const {
  std::lock_guard lock(mutex_);
  return rows_;
}

AccountStore::Snapshot AccountStore::snapshot() const {
  std::lock_guard lock(mutex_);
  return {rows_, selected_};
}

int AccountStore::selectedRow() const {
  std::lock_guard lock(mutex_);
  return selected_;
}

void AccountStore::setSelectedRow(int row) {
  {
    std::lock_guard lock(mutex_);
    if (row < 0 || row >= static_cast<int>(rows_.size())) row = -1;
    if (selected_ == row) return;
    selected_ = row;
  }
  notify({AccountsChanged::Kind::kSelection, row});
}

int AccountStore::appendAccountRow(AccountRecord record) {
  int row;
  {
    std::lock_guard lock(mutex_);
    row = static_cast<int>(rows_.size());
    record.ordinal = std::to_string(row + 1);
    rows_.push_back(std::move(record));
  }
  notify({AccountsChanged::Kind::kAppended, row});
  return row;
}

int AccountStore::findLocked(const Key& key, int preferredRow) const {
  if (!ValidColumn(key.column)) return -1;
  const int count = static_cast<int>(rows_.size());
  if (preferredRow >= 0 && preferredRow < count && rows_[preferredRow].cell(key.column) == key.text)
    return preferredRow;
  for (int row = 0; row < count; ++row) {
    if (rows_[row].cell(key.column) == key.text) return row;
  }
  return -1;
}

std::vector<int> AccountStore::changeLocked(int row, const Change& change) {
  AccountRecord& record = rows_[row];
  AccountRecord before = record;
  change(record);
  record.ordinal = before.ordinal;
  std::vector<int> changed;
  for (int column = 0; column < kAccountColumnCount; ++column) {
    if (record.cell(column) != before.cell(column)) changed.push_back(column);
  }
  return changed;
}

void AccountStore::announceCells(int row, const std::vector<int>& columns) {
  for (int column : columns) notify({AccountsChanged::Kind::kCell, row, column});
}

int AccountStore::updateAccount(const Key& key, const Change& change, int preferredRow) {
  int row;
  std::vector<int> changed;
  {
    std::lock_guard lock(mutex_);
    row = findLocked(key, preferredRow);
    if (row < 0) return -1;
    changed = changeLocked(row, change);
  }
  announceCells(row, changed);
  return row;
}

std::pair<int, bool> AccountStore::updateOrAppendAccount(const Key& key, const Change& change,
                                                         AccountRecord added) {
  int row;
  bool appended = false;
  std::vector<int> changed;
  {
    std::lock_guard lock(mutex_);
    row = findLocked(key, -1);
    if (row < 0) {
      row = static_cast<int>(rows_.size());
      added.ordinal = std::to_string(row + 1);
      rows_.push_back(std::move(added));
      appended = true;
    } else {
      changed = changeLocked(row, change);
    }
  }
  if (appended) {
    notify({AccountsChanged::Kind::kAppended, row});
  } else {
    announceCells(row, changed);
  }
  return {row, appended};
}

std::optional<AccountRecord> AccountStore::updateRowAt(int row, const Change& change) {
  AccountRecord result;
  std::vector<int> changed;
  {
    std::lock_guard lock(mutex_);
    if (row < 0 || row >= static_cast<int>(rows_.size())) return std::nullopt;
    changed = changeLocked(row, change);
    result = rows_[row];
  }
  announceCells(row, changed);
  return result;
}

bool AccountStore::setAccountCell(int row, int column, std::string text) {
  {
    std::lock_guard lock(mutex_);
    if (row < 0 || row >= static_cast<int>(rows_.size()) || !ValidColumn(column)) return false;
    std::string& cell = rows_[row].cell(column);
    if (cell == text) return true;
    cell = std::move(text);
  }
  notify({AccountsChanged::Kind::kCell, row, column});
  return true;
}

bool AccountStore::removeRow(int row) {
  bool selectionMoved = false;
  {
    std::lock_guard lock(mutex_);
    if (row < 0 || row >= static_cast<int>(rows_.size())) return false;
    rows_.erase(rows_.begin() + row);
    if (selected_ == row) {
      selected_ = -1;
      selectionMoved = true;
    } else if (selected_ > row) {
      --selected_;
      selectionMoved = true;
    }
  }
  notify({AccountsChanged::Kind::kRemoved, row});
  if (selectionMoved) notify({AccountsChanged::Kind::kSelection, selectedRow()});
  return true;
}

int AccountStore::findAccountRow(std::string_view userName) const {
  std::lock_guard lock(mutex_);
  for (size_t i = 0; i < rows_.size(); ++i) {
    if (rows_[i].userName == userName) return static_cast<int>(i);
  }
  return -1;
}

// ---- The account file --------------------------------------------------------------

std::string AccountFilePath(const AppState& app) {
  return app.pathBeside("baiduset.ini");
}

std::string AccountsToJson(const std::vector<AccountRecord>& rows) {
  auto build = [&rows](bool escapeNonAscii) {
    auto value = [escapeNonAscii](const std::string& text) {
      std::string kept = KeepBackslashes(text);
      return escapeNonAscii ? EscapeNonAsciiLocal(kept) : kept;
    };
    JsonDoc doc;
    doc.setText("dataname", "cookies");
    doc.setNumber("num", static_cast<double>(rows.size()));
    doc.setJson("data", "[]");
    for (size_t i = 0; i < rows.size(); ++i) {
      std::string element = "data[" + std::to_string(i) + "]";
      doc.append("data", "{}");
      doc.setText(element + ".user", value(rows[i].userName));
      doc.setText(element + ".cookies", value(rows[i].cookies));
      doc.setText(element + ".uk", value(rows[i].uk));
      doc.setText(element + ".bdstoken", value(rows[i].bdstoken));
    }
    return doc.toText();
  };
  std::string text = build(false);
  // GBK bytes that are also valid UTF-8 would be read back as UTF-8 (DecodeOwnFile).
  if (DetectTextEncoding(text) == kEncodingUtf8) text = build(true);
  return text;
}

std::vector<AccountRecord> AccountsFromFileBytes(std::string_view bytes, bool* isJson) {
  JsonDoc doc;
  // UTF-16 files read as GBK and so as nothing, like any text that is not JSON.
  const bool parsed = doc.parseUnicode(DecodeOwnFile(bytes));
  if (isJson) *isJson = parsed;
  std::vector<AccountRecord> rows;
  int count = doc.count("data");
  for (int i = 0; i < count; ++i) {
    std::string element = "data[" + std::to_string(i) + "]";
    AccountRecord record;
    record.userName = doc.getText(element + ".user");
    record.cookies = doc.getText(element + ".cookies");
    record.uk = doc.getText(element + ".uk");
    record.bdstoken = doc.getText(element + ".bdstoken");
    rows.push_back(std::move(record));
  }
  return rows;
}

int LoadAccounts(AppState& app, AccountStore& store, MainForm& form) {
  const std::string path = AccountFilePath(app);
  FileRead file = ReadOwnFile(path);
  bool isJson = false;
  std::vector<AccountRecord> rows = AccountsFromFileBytes(file.bytes, &isJson);
  if (file.exists && (!file.ok || (!isJson && !file.bytes.empty()))) {
    // The file may still hold accounts a person can recover; the next save must
    // not replace it.
    std::string aside = AsideName(path);
    if (::rename(path.c_str(), aside.c_str()) == 0) {
      AppendLog(app, L8("帐号文件无法读取，已改名保留为：") + Utf8ToLocal(aside));
    } else {
      AppendLog(app, L8("帐号文件无法读取：") + Utf8ToLocal(path));
    }
  }
  for (AccountRecord& record : rows) {
    record.status = AccountStatusText(AccountStatus::kImported);
    store.appendAccountRow(std::move(record));
  }
  form.setSelectedTab(store.rowCount() > 0 ? kTabClean : kTabAccounts);
  return static_cast<int>(rows.size());
}

bool SaveAccounts(AppState& app, const AccountStore& store) {
  if (Prompt(app, "确定清除以前的记录重新保存？将在软件重启后生效。", kStyleYesNoQuestion) !=
      kIdYes)
    return false;
  // Never claim success for a file that was not written.
  if (!WriteAccountFile(app, store)) return false;
  Prompt(app, "保存成功。", kStyleInformation);
  return true;
}

bool WriteAccountFile(AppState& app, const AccountStore& store) {
  std::string path = AccountFilePath(app);
  // One copy of the rows, taken at once: a worker's update is in it wholly or not at all.
  if (ReplaceFile(path, AccountsToJson(store.rows()), 0600)) return true;
  TimedMessageBox(app.platform, L8("提示"), L8("保存失败，无法写入文件：") + Utf8ToLocal(path),
                  kPromptTimeoutMs, kStyleWarning);
  return false;
}

void DeleteSelectedAccount(AppState& app, AccountStore& store) {
  int row = store.selectedRow();
  if (row < 0) {
    Prompt(app, "没有选中项目。", kStyleInformation);
    return;
  }
  std::string question = L8("确定删除 ") + store.cellText(row, kColumnUserName) + L8(" 的cookies?");
  if (TimedMessageBox(app.platform, L8("提示"), question, kPromptTimeoutMs, kStyleYesNoQuestion) !=
      kIdYes)
    return;
  store.removeRow(row);
  // The browser data a login window left behind may hold this account's login.
  RemoveLeftoverLoginProfiles(app.programDir);
}

bool SwitchOperatingAccount(AppState& app, const AccountStore& store) {
  AccountStore::Snapshot snap = store.snapshot();
  if (snap.selectedRow < 0) {
    Prompt(app, "没有选中项目。", kStyleInformation);
    return false;
  }
  const AccountRecord& row = snap.rows[snap.selectedRow];
  app.currentUserName.set(row.userName);
  app.currentCookies.set(row.cookies);
  return true;
}

void CopySelectedField(AppState& app, const AccountStore& store, int column) {
  int row = store.selectedRow();
  if (row < 0 || !ValidColumn(column)) return;
  app.platform.setClipboard(LocalToUnicode(store.cellText(row, column)));
}

}  // namespace pansift
