#include "blocked/exports.h"

#include <filesystem>
#include <mutex>

#include "core/app_state.h"
#include "core/log.h"
#include "core/platform.h"
#include "util/codepage.h"
#include "util/escapes.h"
#include "util/files.h"
#include "util/text.h"
#include "util/time.h"

namespace pansift {
namespace {

constexpr std::u16string_view kLineEnd = u"\r\n";

// A cell never holds a separator: a name that does would split its row on import.
// The separator's "<" is written as a full-width "＜" instead.
void AppendCell(std::u16string& out, std::u16string_view cell) {
  const size_t start = out.size();
  out += cell;
  for (std::u16string_view separator :
       {kTableRowSeparator, kTableRowSeparatorLf, kTableCellSeparator}) {
    for (size_t at = out.find(separator, start); at != std::u16string::npos;
         at = out.find(separator, at + 1)) {
      out[at] = u'\uFF1C';
    }
  }
}

// The exact path after the nine cells the list shows: the path's UTF-8,
// percent-encoded, so no name can hold a separator or a line break there.
std::u16string ExactPathCell(std::u16string_view path) {
  const std::string encoded = UrlEncodeBytes(UnicodeToUtf8(path), true);
  return std::u16string(encoded.begin(), encoded.end());
}

std::u16string PathOfExactCell(std::u16string_view cell) {
  return Utf8ToUnicode(UrlDecodeBytes(UnicodeToUtf8(cell)));
}

// One UTF-16 line file: the byte-order mark, then a line per row that has a path.
template <class Line>
std::string LineExportBytes(const std::vector<BlockedRow>& rows, Line line) {
  std::string out("\xFF\xFE", 2);
  for (const BlockedRow& row : rows) {
    if (row.path.empty()) continue;
    AppendUtf16Le(out, line(row));
    AppendUtf16Le(out, kLineEnd);
  }
  return out;
}

std::string ExportLines(AppState& app, const BlockedList& list, BlockedForm& form,
                        BlockedButton button, const char* prefixUtf8,
                        std::string (*bytesOf)(const std::vector<BlockedRow>&)) {
  form.setEnabled(button, false);
  ButtonHold hold(form, button);
  std::vector<BlockedRow> rows;
  {
    std::lock_guard lock(app.listLock);
    rows = list.rows();
  }
  std::string path = ExportFilePath(app, prefixUtf8, std::time(nullptr));
  bool written = WriteFileBytes(path, bytesOf(rows));
  std::error_code ec;
  if (written && std::filesystem::exists(path, ec)) {
    app.platform.showInFileManager(path);
    app.platform.openWithDefaultProgram(path);
  }
  WaitPumping(app.platform, std::chrono::milliseconds(500));
  return written ? path : std::string();
}

}  // namespace

std::string PathsExportBytes(const std::vector<BlockedRow>& rows) {
  return LineExportBytes(
      rows, [](const BlockedRow& row) { return CutAtTerminator(DecodeUnicodeEscapes(row.path)); });
}

std::string NamesExportBytes(const std::vector<BlockedRow>& rows) {
  return LineExportBytes(rows,
                         [](const BlockedRow& row) { return row.name + u"----" + row.location; });
}

std::u16string TableText(const std::vector<BlockedRow>& rows) {
  std::u16string out;
  for (size_t r = 0; r < rows.size(); ++r) {
    if (r > 0) out += kTableRowSeparator;
    for (int c = 0; c < kBlockedColumnCount; ++c) {
      if (c > 0) out += kTableCellSeparator;
      AppendCell(out, rows[r].text(c));
    }
    if (!rows[r].netdiskPath.empty()) {
      out += kTableCellSeparator;
      out += ExactPathCell(rows[r].netdiskPath);
    }
  }
  return out;
}

std::vector<std::u16string_view> SplitUnicode(std::u16string_view text,
                                              std::u16string_view separator) {
  // The separators are ASCII, which in UTF-16 never occurs inside another
  // character, so a plain search finds only whole separators.
  std::vector<std::u16string_view> pieces;
  if (text.empty()) return pieces;
  if (separator.empty()) return {text};
  size_t start = 0;
  while (true) {
    size_t found = text.find(separator, start);
    if (found == std::u16string_view::npos) {
      if (start < text.size()) pieces.push_back(text.substr(start));
      break;
    }
    pieces.push_back(text.substr(start, found - start));
    start = found + separator.size();
  }
  return pieces;
}

namespace {

// The rows of a table text, split at either row separator as SplitUnicode splits.
std::vector<std::u16string_view> SplitRows(std::u16string_view text) {
  std::vector<std::u16string_view> pieces;
  size_t start = 0;
  for (size_t at = text.find(u'<'); at != std::u16string_view::npos; at = text.find(u'<', at)) {
    const std::u16string_view rest = text.substr(at);
    const size_t length = rest.starts_with(kTableRowSeparator)     ? kTableRowSeparator.size()
                          : rest.starts_with(kTableRowSeparatorLf) ? kTableRowSeparatorLf.size()
                                                                   : 0;
    if (length == 0) {
      ++at;
      continue;
    }
    pieces.push_back(text.substr(start, at - start));
    start = at + length;
    at = start;
  }
  if (start < text.size()) pieces.push_back(text.substr(start));
  return pieces;
}

}  // namespace

std::vector<BlockedRow> ParseTable(std::u16string_view text) {
  std::vector<BlockedRow> rows;
  for (std::u16string_view rowText : SplitRows(text)) {
    BlockedRow row;
    std::vector<std::u16string_view> cells = SplitUnicode(rowText, kTableCellSeparator);
    for (size_t c = 0; c < cells.size() && c < kBlockedColumnCount; ++c)
      row.setText(static_cast<int>(c), cells[c]);
    if (cells.size() > kBlockedColumnCount) {
      row.netdiskPath = PathOfExactCell(cells[kBlockedColumnCount]);
    } else {
      // A table written before the exact path had a cell of its own: its path cell
      // is all there is.
      row.netdiskPath = CutAtTerminator(DecodeUnicodeEscapes(DecodeEntitiesWithTilde(row.path)));
    }
    rows.push_back(std::move(row));
  }
  return rows;
}

bool IsNetdiskPath(std::u16string_view path) {
  if (path.empty() || path[0] != u'/') return false;
  for (char16_t c : path) {
    if (c < 0x20 || c == 0x7F) return false;
  }
  return true;
}

std::string ExportFilePath(const AppState& app, const char* prefixUtf8, std::time_t when) {
  return app.dataFile(std::string(prefixUtf8) + FormatLocalTime(when, TimeStyle::kDigits) + ".txt");
}

std::string ExportPaths(AppState& app, const BlockedList& list, BlockedForm& form) {
  return ExportLines(app, list, form, BlockedButton::kExportPaths, "导出path_", PathsExportBytes);
}

std::string ExportNamesAndLocations(AppState& app, const BlockedList& list, BlockedForm& form) {
  return ExportLines(app, list, form, BlockedButton::kExportNames, "导出文件名和路径_",
                     NamesExportBytes);
}

bool WriteTableFile(const std::string& path, const std::vector<BlockedRow>& rows) {
  return WriteFileBytes(path, UnicodeToUtf8(TableText(rows)));
}

std::string ExportTable(AppState& app, const BlockedList& list, const BlockedForm& form) {
  std::string path = ExportFilePath(app, "导出表格数据_", std::time(nullptr));
  // A copy taken in one step: workers may write statuses meanwhile.
  if (!WriteTableFile(path, list.rows())) {
    TimedMessageBox(app.platform, L8("提示"),
                    L8("导出表格数据失败，无法写入文件：\r\n\r\n") + Utf8ToLocal(path), 10000,
                    kStyleWarning, form.window());
    return {};
  }
  TimedMessageBox(app.platform, L8("提示"),
                  L8("导出当前表格数据完成。\r\n\r\n") + Utf8ToLocal(path), 10000,
                  kStyleInformation, form.window());
  return path;
}

bool ImportTable(AppState& app, BlockedList& list, const BlockedForm& form) {
  if (list.size() > 0 && TimedMessageBox(app.platform, L8("提示"),
                                         L8("导入时将清空当前的所有数据重新写入，是否继续？"),
                                         20000, kStyleYesNoStop, form.window()) != kIdYes) {
    return false;
  }
  OpenFileRequest request;
  request.title = L8("请选择");
  request.filter = L8("文本文件(*.txt)");
  request.startDir = app.dirs.data;
  request.owner = form.window();
  std::string file = app.platform.chooseOpenFile(request);
  if (file.empty()) return false;
  // Read before the list is emptied, so a file that cannot be read loses nothing.
  FileRead read = ReadFileBytes(file, kImportMaxBytes);
  if (read.tooLarge) {
    TimedMessageBox(app.platform, L8("提示"),
                    L8("导入失败，文件超过 ") + std::to_string(kImportMaxBytes >> 20) +
                        L8(" MB，不像是导出的表格数据：") + Utf8ToLocal(file),
                    10000, kStyleWarning, form.window());
    return false;
  }
  if (!read.ok) {
    TimedMessageBox(app.platform, L8("提示"), L8("导入失败，无法读取文件：") + Utf8ToLocal(file),
                    10000, kStyleWarning, form.window());
    return false;
  }
  std::vector<BlockedRow> rows = ParseTable(DecodeOwnFile(read.bytes));
  size_t skipped = 0;
  {
    std::lock_guard lock(app.listLock);
    list.clear();
    for (BlockedRow& row : rows) {
      // A row acts on the netdisk by its path, so only a row with a real one is taken.
      if (!IsNetdiskPath(row.netdiskPath)) {
        ++skipped;
        continue;
      }
      list.append(std::move(row));
      ProcessEvents(app.platform);
    }
  }
  if (skipped > 0) {
    AppendLog(app, L8("导入时跳过了 ") + std::to_string(skipped) +
                       L8(" 行：其path不是以“/”开头的网盘路径，或含有控制字符。"));
  }
  TimedMessageBox(app.platform, L8("提示"), L8(" 导入完成。"), 10000, kStyleInformation,
                  form.window());
  return true;
}

}  // namespace pansift
