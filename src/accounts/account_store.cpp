#include "accounts/account_store.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <fstream>
#include <iterator>

#include "core/app_state.h"
#include "core/main_form.h"
#include "core/platform.h"
#include "json/json_doc.h"
#include "util/codepage.h"

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

std::string ReadFileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return {};
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// Writes the whole file through a temporary beside it, so a failed write never
// leaves a half-written account file, and creates it readable by the user only:
// it holds login cookies.
bool WritePrivateFile(const std::string& path, std::string_view bytes) {
  std::string temp = path + ".tmp";
  ::unlink(temp.c_str());
  int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  if (fd < 0) return false;
  bool ok = true;
  size_t done = 0;
  while (ok && done < bytes.size()) {
    ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0)
      ok = false;
    else
      done += static_cast<size_t>(n);
  }
  ok = ok && ::fsync(fd) == 0;
  ok = (::close(fd) == 0) && ok;
  ok = ok && ::rename(temp.c_str(), path.c_str()) == 0;
  if (!ok) ::unlink(temp.c_str());
  return ok;
}

// The JSON writer passes a backslash that starts an escape through unescaped; a
// doubled backslash is such an escape and reads back as one, so any cookie text
// survives the round trip through the file.
std::string KeepBackslashes(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    if (c >= 0x80 && i + 1 < text.size()) {
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

// ---- Encoding ----------------------------------------------------------------------

bool LooksLikeUtf16Le(std::string_view bytes) {
  if (bytes.size() < 2 || bytes.size() % 2 != 0) return false;
  size_t units = bytes.size() / 2;
  size_t ascii = 0;
  for (size_t i = 0; i < units; ++i) {
    auto unit = static_cast<char16_t>(static_cast<unsigned char>(bytes[2 * i]) |
                                      (static_cast<unsigned char>(bytes[2 * i + 1]) << 8));
    if (unit == 0) {
      if (i + 1 != units) return false;  // only a terminator may be NUL
      continue;
    }
    if (unit < 0x20 && unit != u'\t' && unit != u'\r' && unit != u'\n') return false;
    if (unit == 0xFFFE || unit == 0xFFFF) return false;
    if (unit >= 0xD800 && unit <= 0xDBFF) {
      if (i + 1 >= units) return false;
      auto next = static_cast<char16_t>(static_cast<unsigned char>(bytes[2 * i + 2]) |
                                        (static_cast<unsigned char>(bytes[2 * i + 3]) << 8));
      if (next < 0xDC00 || next > 0xDFFF) return false;
      ++i;
      continue;
    }
    if (unit >= 0xDC00 && unit <= 0xDFFF) return false;
    if (unit < 0x80) ++ascii;
  }
  return ascii * 4 >= units;
}

int DetectTextEncoding(std::string_view bytes) {
  auto byte = [&](size_t i) { return i < bytes.size() ? static_cast<unsigned char>(bytes[i]) : 0; };
  if (bytes.size() >= 3 && byte(0) == 0xEF && byte(1) == 0xBB && byte(2) == 0xBF)
    return kEncodingUtf8;
  if (bytes.size() >= 2 && byte(0) == 0xFF && byte(1) == 0xFE) return kEncodingUtf16Le;
  if (bytes.size() >= 2 && byte(0) == 0xFE && byte(1) == 0xFF) return kEncodingUtf16Be;
  if (LooksLikeUtf16Le(bytes)) return kEncodingUtf16Le;
  // Only the first non-ASCII byte decides; a byte past the end is no continuation.
  auto continuation = [&](size_t i) {
    return i < bytes.size() && byte(i) >= 0x80 && byte(i) <= 0xBF;
  };
  for (size_t i = 0; i < bytes.size(); ++i) {
    unsigned char c = byte(i);
    if (c < 0x80) continue;
    if (c >= 0xE0 && c <= 0xEF && continuation(i + 1) && continuation(i + 2)) return kEncodingUtf8;
    if (c >= 0xF0 && c <= 0xF7 && continuation(i + 1) && continuation(i + 2) &&
        continuation(i + 3)) {
      return kEncodingUtf8;
    }
    return kEncodingAnsi;
  }
  return kEncodingAnsi;
}

// ---- The account file --------------------------------------------------------------

std::string AccountFilePath(const AppState& app) {
  return app.pathBeside("baiduset.ini");
}

std::string AccountsToJson(const std::vector<AccountRecord>& rows) {
  JsonDoc doc;
  doc.setText("dataname", "cookies");
  doc.setNumber("num", static_cast<double>(rows.size()));
  doc.setJson("data", "[]");
  for (size_t i = 0; i < rows.size(); ++i) {
    std::string element = "data[" + std::to_string(i) + "]";
    doc.append("data", "{}");
    doc.setText(element + ".user", KeepBackslashes(rows[i].userName));
    doc.setText(element + ".cookies", KeepBackslashes(rows[i].cookies));
    doc.setText(element + ".uk", KeepBackslashes(rows[i].uk));
    doc.setText(element + ".bdstoken", KeepBackslashes(rows[i].bdstoken));
  }
  return doc.toText();
}

std::vector<AccountRecord> AccountsFromFileBytes(std::string_view bytes) {
  JsonDoc doc;
  if (DetectTextEncoding(bytes) == kEncodingUtf8) {
    doc.parseUtf8(bytes);
  } else {
    // UTF-16 files land here too and read as nothing, like any text that is not JSON.
    doc.parse(bytes);
  }
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
  std::vector<AccountRecord> rows = AccountsFromFileBytes(ReadFileBytes(AccountFilePath(app)));
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
  std::string path = AccountFilePath(app);
  if (!WritePrivateFile(path, AccountsToJson(store.rows()))) {
    // Never claim success for a file that was not written.
    TimedMessageBox(app.platform, L8("提示"), L8("保存失败，无法写入文件：") + Utf8ToLocal(path),
                    kPromptTimeoutMs, kStyleWarning);
    return false;
  }
  Prompt(app, "保存成功。", kStyleInformation);
  return true;
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
