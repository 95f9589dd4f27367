#include "accounts/account_file.h"

#include <unistd.h>

#include <cstdio>
#include <ctime>

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
  std::string base = path + ".damaged-" + FormatLocalTime(std::time(nullptr), TimeStyle::kDigits);
  std::string name = base;
  for (int n = 2; ::access(name.c_str(), F_OK) == 0; ++n) name = base + "-" + std::to_string(n);
  return name;
}

}  // namespace

std::string AccountFilePath(const AppState& app) {
  return app.dataFile("baiduset.ini");
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
  if (TimedMessageBox(app.platform, L8("提示"),
                      L8("确定清除以前的记录重新保存？将在软件重启后生效。"), kPromptTimeoutMs,
                      kStyleYesNoQuestion) != kIdYes)
    return false;
  // Never claim success for a file that was not written.
  if (!WriteAccountFile(app, store)) return false;
  TimedMessageBox(app.platform, L8("提示"), L8("保存成功。"), kPromptTimeoutMs, kStyleInformation);
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

}  // namespace pansift
