#include "accounts/add_account.h"

#include <sys/stat.h>
#include <unistd.h>

#include <mutex>
#include <optional>

#include "accounts/account_store.h"
#include "core/app_state.h"
#include "core/install_layout.h"
#include "core/log.h"
#include "core/main_form.h"
#include "core/platform.h"
#include "netdisk/conventions.h"
#include "netdisk/identity.h"
#include "util/codepage.h"
#include "util/text.h"

namespace pansift {
namespace {

int Tell(AppState& app, const std::string& text) {
  return TimedMessageBox(app.platform, L8("提示"), text, kPromptTimeoutMs, kStyleInformation);
}

bool IsFile(const std::string& path) {
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

// A file system path as the path of a file:// URL: every byte but the unreserved
// characters and "/" percent-encoded, so blanks and non-ASCII names survive.
std::string FileUrl(const std::string& path) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string url = "file://";
  for (unsigned char c : path) {
    bool keep = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                c == '-' || c == '.' || c == '_' || c == '~' || c == '/';
    if (keep) {
      url += static_cast<char>(c);
    } else {
      url += '%';
      url += kHex[c >> 4];
      url += kHex[c & 15];
    }
  }
  return url;
}

}  // namespace

std::string ExecutableDir() {
  std::string buffer(4096, '\0');
  ssize_t n = ::readlink("/proc/self/exe", buffer.data(), buffer.size());
  if (n <= 0 || static_cast<size_t>(n) >= buffer.size()) return {};
  buffer.resize(static_cast<size_t>(n));
  size_t slash = buffer.rfind('/');
  if (slash == std::string::npos) return {};
  return slash == 0 ? std::string("/") : buffer.substr(0, slash);
}

std::string CookieHelpPageUrl(const std::string& executableDir) {
  if (!executableDir.empty()) {
    std::string beside = executableDir + "/docs/cookies.html";
    if (IsFile(beside)) return FileUrl(beside);
  }
  if (std::string shared = InstalledDataDir(executableDir); !shared.empty()) {
    std::string installed = shared + "/docs/cookies.html";
    if (IsFile(installed)) return FileUrl(installed);
  }
#ifdef PANSIFT_SOURCE_DOCS_DIR
  // A program run from its build folder before the page was copied beside it.
  std::string source = std::string(PANSIFT_SOURCE_DOCS_DIR) + "/cookies.html";
  if (IsFile(source)) return FileUrl(source);
#endif
  return {};
}

// "验证中", the identity read without the lock, then the result. Rows can be
// deleted or replaced while the service is asked: the answer goes to the row that
// still holds the cookie string that was read (the row it started on first), and
// nowhere when the account is gone.
AccountOutcome ValidateAccountRow(AppState& app, AccountStore& store, int row) {
  std::optional<AccountRecord> started;
  {
    std::lock_guard lock(app.listLock);
    started = store.updateRowAt(row, [](AccountRecord& record) {
      record.status = AccountStatusText(AccountStatus::kValidating);
    });
  }
  if (!started) return AccountOutcome::kInvalid;
  const std::string cookies = started->cookies;
  AccountIdentity identity = ReadIdentity(app, cookies, kIdentityAttempts);
  AccountOutcome outcome = !identity.uk.empty()           ? AccountOutcome::kValid
                           : ServiceUnreachable(identity) ? AccountOutcome::kUnreachable
                                                          : AccountOutcome::kInvalid;
  std::lock_guard lock(app.listLock);
  store.updateAccount(
      {kColumnCookies, cookies},
      [&identity](AccountRecord& record) {
        if (identity.uk.empty()) {
          record.status = AccountStatusText(AccountStatus::kInvalid);
          return;
        }
        record.userName = identity.userName;
        record.status = AccountStatusText(AccountStatus::kValid);
        record.uk = identity.uk;
        record.bdstoken = identity.bdstoken;
      },
      row);
  return outcome;
}

bool AddAccountFromInput(AppState& app, MainForm& form) {
  std::string text = form.text(FormText::kCookies);
  if (text.empty()) {
    TimedMessageBox(app.platform, L8("提示："), L8("请填入要添加的帐号的cookies"), 5000,
                    kStyleInformation);
    return false;
  }
  if (FindText(text, "baiduid", 1, true) < 0 && FindText(text, "bduss", 1, true) < 0) {
    int answer =
        TimedMessageBox(app.platform, L8("提示："),
                        L8("请填入正确的百度帐号cookies，或填入的不完整。\r\n\r\n是否打开教程？"),
                        10000, kStyleYesNoWarning);
    if (answer == kIdYes) {
      std::string url = CookieHelpPageUrl(ExecutableDir());
      if (!url.empty()) app.platform.openUrl(url);
    }
    return false;
  }
  return true;
}

AccountOutcome AddAccount(AppState& app, MainForm& form, AccountStore& store, std::string cookies) {
  if (cookies.empty()) cookies = form.text(FormText::kCookies);
  if (cookies.empty()) return AccountOutcome::kInvalid;
  SetStatus(app, L8("正在验证cookies有效性"));
  AccountIdentity identity = ReadIdentity(app, cookies, kIdentityAttempts);
  if (identity.userName.empty()) {
    SetStatus(app, L8("cookies有效性验证失败"));
    std::string text =
        L8("获取用户名失败，可能是cookies失效，或百度网盘已更新。") + L8(kSupportSentence);
    // Nothing came back: the reason is not the login, and it is said.
    if (!identity.transferError.empty()) text += "\r\n\r\n" + Utf8ToLocal(identity.transferError);
    Tell(app, text);
    return ServiceUnreachable(identity) ? AccountOutcome::kUnreachable : AccountOutcome::kInvalid;
  }
  SetStatus(app, L8("添加的cookies有效"));

  if (store.findAccountRow(identity.userName) >= 0) {
    int answer =
        TimedMessageBox(app.platform, L8("提示"),
                        L8("当前用户 ") + identity.userName + L8(" 已存在列表中，是否更新记录？"),
                        kPromptTimeoutMs, kStyleYesNoQuestion);
    if (answer != kIdYes) return AccountOutcome::kKept;
  }

  bool updated = false;
  {
    // The row is looked up again, together with the write: it may have been
    // deleted or moved while the user was asked, and the update must not land on
    // another account.
    AccountRecord added;
    added.userName = identity.userName;
    added.status = AccountStatusText(AccountStatus::kAdded);
    added.cookies = cookies;
    added.uk = identity.uk;
    added.bdstoken = identity.bdstoken;
    std::lock_guard lock(app.listLock);
    updated = !store
                   .updateOrAppendAccount(
                       {kColumnUserName, identity.userName},
                       [&](AccountRecord& record) {
                         record = added;
                         record.status = AccountStatusText(AccountStatus::kUpdated);
                       },
                       added)
                   .second;
  }
  form.setText(FormText::kCookies, {});
  if (updated) {
    SetStatus(app, L8("cookies更新成功"));
    Tell(app, L8("更新成功，如果需要软件下次自动导入此cookies，请点击 保存cookies 按钮。"));
  } else {
    SetStatus(app, L8("cookies添加成功"));
    Tell(app, L8("添加成功，如果需要软件下次自动导入此cookies，请点击 保存cookies 按钮。"));
  }
  form.setSelectedTab(kTabAccounts);
  return updated ? AccountOutcome::kUpdated : AccountOutcome::kAdded;
}

void ValidateSelectedAccount(AppState& app, AccountStore& store) {
  int row = store.selectedRow();
  if (row < 0) {
    Tell(app, L8("没有选中项目。"));
    return;
  }
  ValidateAccountRow(app, store, row);
}

void ValidateAllAccounts(AppState& app, AccountStore& store) {
  int count = store.rowCount();
  if (count == 0) {
    Tell(app, L8("没有要验证的cookies."));
    return;
  }
  for (int row = 0; row < count; ++row) ValidateAccountRow(app, store, row);
  Tell(app, L8("全部验证完成。"));
}

}  // namespace pansift
