#include "blocked/exports.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include "blocked/blocked_actions.h"
#include "core/app_state.h"
#include "core/headless_platform.h"
#include "support/app_rig.h"
#include "util/clock.h"
#include "util/codepage.h"
#include "util/files.h"
#include "util/text.h"

namespace pansift {
namespace {

BlockedRow Row(const char* ordinal, std::u16string name, std::u16string location,
               const std::string& path, const char* deleteStatus = "待处理",
               const char* moveStatus = "") {
  BlockedRow row;
  row.ordinal = ordinal;
  row.detectedAt = "12-01 10:00:00";
  row.name = std::move(name);
  row.fsid = std::string("fs") + ordinal;
  row.location = std::move(location);
  row.path = path;
  row.account = L8("网盘*用户");
  row.deleteStatus = L8(deleteStatus);
  row.moveStatus = L8(moveStatus);
  return row;
}

// Names GBK holds, names it does not (emoji, Hangul), accented Latin, an empty path.
std::vector<BlockedRow> SampleRows() {
  return {
      Row("1", u"片.mkv", u"/电影", L8("/电影/片.mkv")),
      Row("2", u"\U0001F600 한.txt", u"/emoji", "/emoji/\\ud83d\\ude00 \\ud55c.txt", "删除成功",
          "移动成功"),
      Row("3", u"café.mp4", u"/Vidéos", "/Vid\\u00e9os/caf\\u00e9.mp4", "失败，code：200 结果：{}",
          "失败，code:200 errno:12 x"),
      Row("4", u"", u"/", ""),
  };
}

void ExpectSameRows(const std::vector<BlockedRow>& got, const std::vector<BlockedRow>& want) {
  ASSERT_EQ(got.size(), want.size());
  for (size_t i = 0; i < got.size(); ++i) {
    SCOPED_TRACE(i);
    for (int c = 0; c < kBlockedColumnCount; ++c) {
      SCOPED_TRACE(c);
      EXPECT_EQ(got[i].text(c), want[i].text(c));
      EXPECT_EQ(got[i].localText(c), want[i].localText(c));
    }
    if (!want[i].netdiskPath.empty()) {
      EXPECT_EQ(got[i].netdiskPath, want[i].netdiskPath);
    }
  }
}

TEST(Exports, PathsAreUtf16LinesWithByteOrderMark) {
  std::vector<BlockedRow> rows = {Row("1", u"a", u"/", "/a.txt"),
                                  Row("2", u"b", u"/x", "/x/\\u4e2d.txt")};
  EXPECT_EQ(PathsExportBytes(rows),
            "\xFF\xFE" + ToUtf16LeBytes(u"/a.txt\r\n") + ToUtf16LeBytes(u"/x/中.txt\r\n"));
  EXPECT_EQ(PathsExportBytes({}), "\xFF\xFE");
}

TEST(Exports, RowsWithoutPathAreLeftOutOfTheLineExportsOnly) {
  std::vector<BlockedRow> rows = SampleRows();
  EXPECT_EQ(NamesExportBytes(rows), "\xFF\xFE" + ToUtf16LeBytes(u"片.mkv----/电影\r\n") +
                                        ToUtf16LeBytes(u"\U0001F600 한.txt----/emoji\r\n") +
                                        ToUtf16LeBytes(u"café.mp4----/Vidéos\r\n"));
  std::u16string paths = u"/电影/片.mkv\r\n/emoji/\U0001F600 한.txt\r\n/Vidéos/café.mp4\r\n";
  EXPECT_EQ(PathsExportBytes(rows), "\xFF\xFE" + ToUtf16LeBytes(paths));
  EXPECT_EQ(ParseTable(TableText(rows)).size(), 4u);
}

TEST(Exports, TableTextJoinsCellsAndRows) {
  std::vector<BlockedRow> rows = {Row("1", u"a", u"/", "/a"), Row("2", u"b", u"/", "/b")};
  rows[1].moveStatus = "x";
  EXPECT_EQ(
      TableText(rows),
      u"1<---->12-01 10:00:00<---->a<---->fs1<---->/<---->/a<---->网盘*用户<---->待处理<---->"
      u"<\r\n>"
      u"2<---->12-01 10:00:00<---->b<---->fs2<---->/<---->/b<---->网盘*用户<---->待处理<---->x");
}

TEST(Exports, TableRoundTripKeepsEveryCell) {
  std::vector<BlockedRow> rows = SampleRows();
  std::string file = UnicodeToUtf8(TableText(rows));
  ExpectSameRows(ParseTable(DecodeOwnFile(file)), rows);
}

// The table keeps each row's exact netdisk path, whatever its name holds, while the
// cells the list shows stay as they were; a name cannot split its row.
TEST(Exports, TheTableCarriesTheExactPathOfEveryName) {
  const std::u16string paths[] = {
      u"/d/Tom &amp; Jerry.mp4",
      u"/d/camp;1.mp4",
      u"/d/movie\\u0031.mp4",
      u"/d/q\"],[\"v.mp4",
      u"/d/\U0001F600 &#126;%20.mp4",
      u"/d/a<\n>7<---->x<---->n<---->f<---->/<---->/victim.mp4",
      u"/d/a<---->b<\r\n>9<---->x<---->n<---->f<---->/<---->/victim.mp4",
  };
  std::vector<BlockedRow> rows;
  for (const std::u16string& path : paths) {
    BlockedRow row = Row("1", path.substr(3), u"/d", UnicodeToEscapedLocal(path));
    row.netdiskPath = path;
    rows.push_back(row);
  }
  std::vector<BlockedRow> back = ParseTable(DecodeOwnFile(UnicodeToUtf8(TableText(rows))));
  ASSERT_EQ(back.size(), rows.size());
  for (size_t i = 0; i < rows.size(); ++i) {
    SCOPED_TRACE(UnicodeToUtf8(paths[i]));
    EXPECT_EQ(back[i].netdiskPath, paths[i]);
    // The last two names hold a line break: exact in the table, but not taken in by
    // an import.
    EXPECT_EQ(IsNetdiskPath(back[i].netdiskPath), i + 2 < rows.size());
    if (i + 2 < rows.size()) {
      EXPECT_EQ(back[i].name, rows[i].name);
    }
  }
  // The shown name keeps its text but for the separators' "<".
  EXPECT_EQ(back.back().name,
            u"a\uFF1C---->b\uFF1C\r\n>9\uFF1C---->x\uFF1C---->n\uFF1C---->f"
            u"\uFF1C---->/\uFF1C---->/victim.mp4");
}

TEST(Exports, OnlyAbsolutePathsWithoutControlCharactersCanBeActedOn) {
  EXPECT_TRUE(IsNetdiskPath(u"/a b/c"));
  for (std::u16string bad : {u"", u"a/b", u" /a", u"/a\nb", u"/a\x1b[31m", u"/a\x7f"})
    EXPECT_FALSE(IsNetdiskPath(bad)) << UnicodeToUtf8(bad);
  // A table from before the exact path had a cell: the path cell, decoded.
  std::vector<BlockedRow> old =
      ParseTable(u"1<---->t<---->n<---->f<---->/<---->/x&apos;s/\\ud83d\\ude00&#126;");
  ASSERT_EQ(old.size(), 1u);
  EXPECT_EQ(old[0].netdiskPath, u"/x's/\U0001F600~");
}

TEST(Exports, TableSplittingRules) {
  struct Case {
    const char* what;
    std::u16string text;
    std::vector<std::vector<std::u16string>> rows;  // cells from column 0
  };
  const Case cases[] = {
      {"empty text", u"", {}},
      {"no separators: column 0", u"just text", {{u"just text"}}},
      {"a row separator at the end adds no row", u"a<\r\n>b<\r\n>", {{u"a"}, {u"b"}}},
      {"two row separators make an empty row", u"a<\r\n><\r\n>b", {{u"a"}, {}, {u"b"}}},
      {"a leading separator makes an empty first row", u"<\r\n>a", {{}, {u"a"}}},
      {"empty cells kept, empty last cell dropped", u"<---->b<---->", {{u"", u"b"}}},
      {"pieces beyond column 8 dropped",
       u"0<---->1<---->2<---->3<---->4<---->5<---->6<---->7<---->8<---->9",
       {{u"0", u"1", u"2", u"3", u"4", u"5", u"6", u"7", u"8"}}},
      {"a bare CR LF is no separator", u"a\r\nb", {{u"a\r\nb"}}},
      // An editor or git may have turned the separator's CR LF into LF.
      {"rows separated by <LF>", u"a<---->1<\n>b<---->2<\n>", {{u"a", u"1"}, {u"b", u"2"}}},
      {"both separators in one text", u"a<\r\n>b<\n>c", {{u"a"}, {u"b"}, {u"c"}}},
      {"a bare LF or a lone < is no separator", u"a\n<b<\nc", {{u"a\n<b<\nc"}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<BlockedRow> rows = ParseTable(c.text);
    ASSERT_EQ(rows.size(), c.rows.size());
    for (size_t r = 0; r < rows.size(); ++r) {
      for (int col = 0; col < kBlockedColumnCount; ++col) {
        std::u16string want = static_cast<size_t>(col) < c.rows[r].size() ? c.rows[r][col] : u"";
        EXPECT_EQ(rows[r].text(col), want) << "row " << r << " column " << col;
      }
    }
  }
}

TEST(Exports, UnicodeSplittingFollowsTheRulesOfSplitText) {
  const char* cases[] = {"",         "a",     "a<>b",   "<>",  "<><>",
                         "a<><>b<>", "<>a<>", "a<<>>b", "<<>", "x<>y<>z"};
  for (const char* text : cases) {
    SCOPED_TRACE(text);
    std::vector<std::string> local = SplitText(text, "<>");
    std::u16string unicode = LocalToUnicode(text);
    std::vector<std::u16string_view> pieces = SplitUnicode(unicode, u"<>");
    ASSERT_EQ(pieces.size(), local.size());
    for (size_t i = 0; i < pieces.size(); ++i)
      EXPECT_EQ(std::u16string(pieces[i]), LocalToUnicode(local[i]));
  }
}

class ExportFilesTest : public ::testing::Test, protected testing::AppRig {
 protected:
  BlockedList list;
  BlockedForm form;

  void fill(const std::vector<BlockedRow>& rows) {
    for (const BlockedRow& row : rows) list.append(row);
  }
};

TEST_F(ExportFilesTest, FileNamesCarryTheTimeStamp) {
  std::tm when{};
  when.tm_year = 2024 - 1900;
  when.tm_mon = 2;
  when.tm_mday = 5;
  when.tm_hour = 14;
  when.tm_min = 7;
  when.tm_sec = 9;
  when.tm_isdst = -1;
  EXPECT_EQ(ExportFilePath(app, "导出path_", std::mktime(&when)),
            dir.path() + "/导出path_20240305140709.txt");
}

TEST_F(ExportFilesTest, LineExportsWriteShowAndOpenTheFile) {
  fill(SampleRows());
  ASSERT_TRUE(form.claim(BlockedButton::kExportPaths));
  std::string paths = ExportPaths(app, list, form);
  ASSERT_FALSE(paths.empty());
  EXPECT_EQ(ReadFileBytes(paths).bytes, PathsExportBytes(SampleRows()));
  EXPECT_TRUE(form.enabled(BlockedButton::kExportPaths));
  EXPECT_EQ(platform.shownFiles(), (std::vector<std::string>{paths, paths}));

  std::string names = ExportNamesAndLocations(app, list, form);
  ASSERT_FALSE(names.empty());
  EXPECT_NE(names.find("/导出文件名和路径_"), std::string::npos);
  EXPECT_EQ(ReadFileBytes(names).bytes, NamesExportBytes(SampleRows()));
  EXPECT_TRUE(platform.prompts().empty());
}

TEST_F(ExportFilesTest, ExportThenImportGivesTheSameRows) {
  fill(SampleRows());
  std::string table = ExportTable(app, list, form);
  ASSERT_FALSE(table.empty());
  std::string bytes = ReadFileBytes(table).bytes;
  EXPECT_NE(bytes.find("caf\xC3\xA9.mp4"), std::string::npos);  // UTF-8, no byte-order mark
  EXPECT_NE(bytes.substr(0, 3), "\xEF\xBB\xBF");
  ASSERT_EQ(platform.prompts().size(), 1u);
  EXPECT_EQ(platform.prompts()[0].text, L8("导出当前表格数据完成。\r\n\r\n") + Utf8ToLocal(table));
  EXPECT_EQ(platform.prompts()[0].timeoutMs, 10000);

  // A later run: a fresh, empty list asks nothing before the file dialog. The row
  // without a path has nothing to act on and is left out, and the log says so.
  BlockedList fresh;
  platform.chooseFileNext(table);
  ASSERT_TRUE(ImportTable(app, fresh, form));
  ASSERT_EQ(platform.prompts().size(), 2u);
  EXPECT_EQ(platform.prompts()[1].text, L8(" 导入完成。"));
  std::vector<BlockedRow> withPaths = SampleRows();
  withPaths.pop_back();
  ExpectSameRows(fresh.rows(), withPaths);
  EXPECT_NE(app.log.text().find(L8("导入时跳过了 1 行")), std::string::npos);
}

TEST_F(ExportFilesTest, ImportAsksBeforeReplacingAndKeepsTheListWhenNotLetThrough) {
  fill(SampleRows());
  std::string file = dir.file("t.txt");
  WriteFileBytes(file, "9<---->x<---->n<---->fs9<---->/<---->/n.txt");

  platform.answerNext(kIdNo);
  platform.chooseFileNext(file);
  EXPECT_FALSE(ImportTable(app, list, form));
  ASSERT_EQ(platform.prompts().size(), 1u);
  EXPECT_EQ(platform.prompts()[0].text, L8("导入时将清空当前的所有数据重新写入，是否继续？"));
  EXPECT_EQ(platform.prompts()[0].style, kStyleYesNoStop);
  EXPECT_EQ(platform.prompts()[0].timeoutMs, 20000);
  EXPECT_EQ(list.size(), 4u);

  platform.answerNext(kIdYes);  // then the dialog is cancelled: the script gave no file
  platform.chooseOpenFile({});  // use up the scripted file
  EXPECT_FALSE(ImportTable(app, list, form));
  EXPECT_EQ(list.size(), 4u);

  platform.answerNext(kIdYes);
  platform.chooseFileNext(dir.file("missing.txt"));
  EXPECT_FALSE(ImportTable(app, list, form));
  EXPECT_EQ(list.size(), 4u);
  EXPECT_EQ(platform.prompts().back().style, kStyleWarning);

  platform.answerNext(kIdYes);
  platform.chooseFileNext(file);
  EXPECT_TRUE(ImportTable(app, list, form));
  ASSERT_EQ(list.size(), 1u);
  EXPECT_EQ(list.rows()[0].ordinal, "9");
  EXPECT_EQ(list.rows()[0].detectedAt, "x");
}

// A table saved again by an editor: a byte-order mark in front and LF in its row
// separators. Then a file far larger than any table, refused before it is read.
TEST_F(ExportFilesTest, ImportReadsAnEditedTableAndRefusesAHugeFile) {
  const std::string edited = dir.file("edited.TXT");
  WriteFileBytes(edited,
                 "\xEF\xBB\xBF"
                 "1<---->t<---->a.mp4<---->f1<---->/d<---->/d/a.mp4<\n>"
                 "2<---->t<---->b.mp4<---->f2<---->/d<---->/d/b.mp4<\n>");
  platform.chooseFileNext(edited);
  ASSERT_TRUE(ImportTable(app, list, form));
  ASSERT_EQ(list.size(), 2u);
  EXPECT_EQ(list.rows()[0].ordinal, "1");
  EXPECT_EQ(list.rows()[1].netdiskPath, u"/d/b.mp4");

  const std::string huge = dir.file("huge.txt");
  WriteFileBytes(huge, "");
  std::filesystem::resize_file(huge, kImportMaxBytes + 1);  // sparse: no disk used
  platform.answerNext(kIdYes);
  platform.chooseFileNext(huge);
  EXPECT_FALSE(ImportTable(app, list, form));
  EXPECT_EQ(list.size(), 2u);
  EXPECT_EQ(platform.prompts().back().style, kStyleWarning);
  EXPECT_NE(platform.prompts().back().text.find(L8("导入失败，文件超过 256 MB")),
            std::string::npos);
}

TEST_F(ExportFilesTest, ATableThatCannotBeWrittenIsReportedAsAFailure) {
  fill(SampleRows());
  AppState readOnly{platform, dir.file("no-such-folder")};
  EXPECT_TRUE(ExportTable(readOnly, list, form).empty());
  ASSERT_EQ(platform.prompts().size(), 1u);
  EXPECT_EQ(platform.prompts()[0].text.find(L8("导出当前表格数据完成。")), std::string::npos);
  EXPECT_EQ(platform.prompts()[0].style, kStyleWarning);

  EXPECT_TRUE(ExportPaths(readOnly, list, form).empty());
  EXPECT_TRUE(platform.shownFiles().empty());
  EXPECT_TRUE(form.enabled(BlockedButton::kExportPaths));
}

}  // namespace
}  // namespace pansift
