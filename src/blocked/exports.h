// Writing the blocked-file list to text files beside the program, and reading a
// table export back into it.
//
//   paths  "导出path_<stamp>.txt"           UTF-16LE with BOM, one decoded path per line
//   names  "导出文件名和路径_<stamp>.txt"    UTF-16LE with BOM, "name----location" per line
//   table  "导出表格数据_<stamp>.txt"        UTF-8, cells joined by "<---->", rows by "<\r\n>";
//          the nine cells the list shows, then the row's exact netdisk path
//          (UTF-8 percent-encoded), which the import acts on; the import reads
//          the file as DecodeOwnFile does (UTF-8, or GBK when it is not UTF-8)
#pragma once

#include <cstddef>
#include <ctime>
#include <string>
#include <string_view>
#include <vector>

#include "blocked/blocked_list.h"

namespace pansift {

struct AppState;

inline constexpr std::u16string_view kTableCellSeparator = u"<---->";
inline constexpr std::u16string_view kTableRowSeparator = u"<\r\n>";
/// The row separator after an editor or git turned its CR LF into LF; read as one.
inline constexpr std::u16string_view kTableRowSeparatorLf = u"<\n>";
/// The largest table the import reads: far beyond any real list, small enough that
/// its rows fit in memory.
inline constexpr size_t kImportMaxBytes = size_t{256} << 20;

/// The file's bytes: FF FE, then for each row with a path the decoded path (or
/// "name----location"), each line ending with CR LF.
std::string PathsExportBytes(const std::vector<BlockedRow>& rows);
std::string NamesExportBytes(const std::vector<BlockedRow>& rows);

/// Every cell of every row in column order, cells joined by "<---->" and rows by
/// "<\r\n>", then a tenth cell with the row's netdisk path percent-encoded (rows
/// that have one); no header row, nothing after the last row. A separator inside a
/// cell is written with a full-width "＜".
std::u16string TableText(const std::vector<BlockedRow>& rows);
/// The rows of a table text: pieces between row separators, "<\r\n>" or "<\n>"
/// (empty ones kept, no empty last piece), each split at the cell separators the same way into
/// columns 0 to 8; missing cells stay empty. The tenth piece is the row's netdisk path; a table
/// without it gives the path cell with its entities and escapes decoded. Later
/// pieces are dropped.
std::vector<BlockedRow> ParseTable(std::u16string_view text);
/// Whether an imported row's path can be acted on: absolute ("/" first) and free of
/// control characters.
bool IsNetdiskPath(std::u16string_view path);
/// The pieces of `text` between separators: empty pieces kept, an empty last piece
/// dropped, no pieces for an empty text. Linear in the text.
std::vector<std::u16string_view> SplitUnicode(std::u16string_view text,
                                              std::u16string_view separator);

/// The path of a new export file beside the program: prefix (UTF-8) + the time
/// stamp yyyyMMddhhmmss of `when` + ".txt".
std::string ExportFilePath(const AppState& app, const char* prefixUtf8, std::time_t when);

/// 按钮2 and 按钮3 (worker thread; the caller claimed the button): writes the file,
/// shows it in the file manager, opens it, and enables the button again after
/// 500 ms. Returns the file's path, empty when it could not be written.
std::string ExportPaths(AppState& app, const BlockedList& list, BlockedForm& form);
std::string ExportNamesAndLocations(AppState& app, const BlockedList& list, BlockedForm& form);

/// Writes the table text of `rows` to `path` as UTF-8 (the file "导出表格数据" writes);
/// false when the file could not be written.
bool WriteTableFile(const std::string& path, const std::vector<BlockedRow>& rows);

/// "导出表格数据" (worker thread): writes the table of a consistent copy of the list
/// and says where, or that the file could not be written. Returns the path, empty
/// on failure.
std::string ExportTable(AppState& app, const BlockedList& list, const BlockedForm& form);

/// "导入表格数据" (worker thread): asks before replacing a non-empty list, lets the
/// user choose the file, and replaces the list with the file's rows. A file larger
/// than kImportMaxBytes is refused with a message. Rows whose
/// path is not a netdisk path (IsNetdiskPath) are left out, and the log says how
/// many. A file that cannot be read leaves the list as it was. True when the list
/// was replaced.
bool ImportTable(AppState& app, BlockedList& list, const BlockedForm& form);

}  // namespace pansift
