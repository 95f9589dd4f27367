#include "pipeline/catalogue_db.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/app_state.h"
#include "core/headless_platform.h"
#include "pipeline/locked_catalogue.h"
#include "support/app_rig.h"
#include "support/catalogue_rows.h"
#include "util/clock.h"
#include "util/codepage.h"
#include "util/files.h"
#include "util/text.h"

namespace pansift {
namespace {

using testing::CatalogueRows;
using testing::Rows;

CatalogueRow Entry(int n, std::string type = "0") {
  CatalogueRow row;
  row.folder = "/docs/file" + std::to_string(n);
  row.filename = "file" + std::to_string(n);
  row.order = "01";
  row.type = std::move(type);
  row.time = L8("2024年03月05日 14时07分09秒");
  row.size = std::to_string(1000 + n);
  row.ordersign = "001";
  row.count = std::to_string(n);
  row.lowernum = "02";
  row.target = std::to_string(900000 + n);
  return row;
}

std::string Batch(int first, int count) {
  std::string text;
  for (int n = first; n < first + count; ++n) text += InsertEntryStatement(Entry(n));
  return text;
}

// A clock whose sleeps can act on the world, e.g. end a lock someone holds.
class ScriptedClock final : public Clock {
 public:
  TimePoint now() override { return TimePoint(std::chrono::milliseconds(sleptMs)); }
  void sleepFor(std::chrono::milliseconds duration) override {
    ++sleeps;
    sleptMs += duration.count();
    if (onSleep) onSleep(sleeps);
  }
  int sleeps = 0;
  long long sleptMs = 0;
  std::function<void(int)> onSleep;
};

class CatalogueDbTest : public ::testing::Test, protected testing::BasicAppRig<ScriptedClock> {
 protected:
  std::string dbPath() const { return dir.file(kCatalogueFileName); }
  void createAndOpen() {
    ASSERT_TRUE(db.createCatalogue(CataloguePath(dir.path())));
    ASSERT_TRUE(db.openCatalogue(CataloguePath(dir.path())));
  }
  std::vector<std::string> errorLines() const {
    std::vector<std::string> lines = SplitText(ReadFileBytes(dir.file("err.txt")).bytes, "\r\n");
    return lines;
  }
  long long rowCount() {
    return std::stoll(CatalogueRows(dbPath(), "select count(*) from list")[0][0]);
  }

  CatalogueDb db{app};
};

// ---- The template ----

TEST_F(CatalogueDbTest, CreateWritesEmptyTemplateWithExactHeaderAndSchema) {
  ASSERT_TRUE(db.createCatalogue(CataloguePath(dir.path())));
  const std::string bytes = ReadFileBytes(dbPath()).bytes;
  ASSERT_GE(bytes.size(), 100u);
  auto u8 = [&](size_t at) { return static_cast<unsigned char>(bytes[at]); };
  auto be32 = [&](size_t at) {
    return (u8(at) << 24) | (u8(at + 1) << 16) | (u8(at + 2) << 8) | u8(at + 3);
  };
  EXPECT_EQ(bytes.substr(0, 16), std::string("SQLite format 3\0", 16));
  EXPECT_EQ((u8(16) << 8) | u8(17), 1024);  // page size
  EXPECT_EQ(u8(18), 1);                     // write version: legacy rollback journal
  EXPECT_EQ(u8(19), 1);                     // read version
  EXPECT_EQ(be32(44), 4);                   // schema format
  EXPECT_EQ(be32(52), 0);                   // no auto-vacuum
  EXPECT_EQ(be32(56), 1);                   // UTF-8
  EXPECT_EQ(be32(60), 0);                   // user version
  EXPECT_EQ(bytes.size() % 1024, 0u);

  const std::string table =
      "CREATE TABLE \"list\" (\n\t`id`\tINTEGER PRIMARY KEY AUTOINCREMENT "
      "UNIQUE,\n\t`folder`\tTEXT,\n"
      "\t`filename`\tTEXT,\n\t`order`\tTEXT,\n\t`type`\tTEXT,\n\t`time`\tTEXT,\n\t`size`\tTEXT,\n"
      "\t`ordersign`\tTEXT,\n\t`queried`\tTEXT,\n\t`count`\tTEXT,\n\t`lowernum`\tTEXT,\n\t`target`"
      "\tTEXT,\n"
      "\t`other_1`\tTEXT\n)";
  const std::string index =
      "CREATE INDEX `aaa` ON `list` (`folder` ,`filename` ,`order` ,`type` )" +
      std::string(15, '\n');
  Rows schema = CatalogueRows(dbPath(), "select type, name, sql from sqlite_master order by name");
  ASSERT_EQ(schema.size(), 4u);  // aaa, list, sqlite_autoindex_list_1 (UNIQUE), sqlite_sequence
  EXPECT_EQ(schema[0], (std::vector<std::string>{"index", "aaa", index}));
  EXPECT_EQ(schema[1], (std::vector<std::string>{"table", "list", table}));
  EXPECT_EQ(schema[3][1], "sqlite_sequence");

  EXPECT_EQ(CatalogueRows(dbPath(), "select name, seq from sqlite_sequence"),
            (Rows{{"list", "0"}}));
  EXPECT_EQ(rowCount(), 0);
  EXPECT_EQ(CatalogueRows(dbPath(), "pragma integrity_check"), (Rows{{"ok"}}));
  EXPECT_EQ(CatalogueRows(dbPath(), "pragma journal_mode"), (Rows{{"delete"}}));
}

TEST_F(CatalogueDbTest, CreateReplacesAnOldCatalogueEvenWhileItIsOpen) {
  createAndOpen();
  ASSERT_TRUE(db.executeStatement(Batch(1, 5)));
  // A journal left behind by a crashed task must not be played back into the new file.
  std::ofstream(dir.file("vintrel.db-journal")) << "stale journal";

  ASSERT_TRUE(db.createCatalogue(CataloguePath(dir.path())));
  EXPECT_FALSE(db.isOpen());
  EXPECT_FALSE(std::filesystem::exists(dir.file("vintrel.db-journal")));
  ASSERT_TRUE(db.openCatalogue(CataloguePath(dir.path())));
  EXPECT_EQ(rowCount(), 0);
  ASSERT_TRUE(db.executeStatement(Batch(1, 1)));
  EXPECT_EQ(CatalogueRows(dbPath(), "select id from list"), (Rows{{"1"}}));
}

TEST_F(CatalogueDbTest, OpenNeedsAnExistingFileAndCreateNeedsAWritableFolder) {
  EXPECT_FALSE(db.openCatalogue(CataloguePath(dir.path())));
  EXPECT_FALSE(std::filesystem::exists(dbPath()));
  EXPECT_FALSE(db.isOpen());
  EXPECT_FALSE(db.executeStatement(Batch(1, 1)));
  EXPECT_FALSE(db.queryRows(NextFolderQuery()).prepared());
  EXPECT_FALSE(db.createCatalogue(CataloguePath(dir.file("no-such-folder"))));
}

// Whatever stands at the name, the catalogue made there is a new regular file of the
// usual mode, and a symbolic link's target is neither written nor created.
TEST_F(CatalogueDbTest, CreateReplacesALinkInsteadOfWritingThroughIt) {
  namespace fs = std::filesystem;
  const std::string target = dir.file("precious.txt");
  const std::string missing = dir.file("made-by-no-one.txt");
  struct Case {
    const char* what;
    std::function<void()> place;
  } cases[] = {
      {"a link to a file", [&] { fs::create_symlink(target, dbPath()); }},
      {"a dangling link", [&] { fs::create_symlink(missing, dbPath()); }},
      {"links at the journal and the temporary name",
       [&] {
         fs::create_symlink(target, dbPath() + "-journal");
         fs::create_symlink(target, dbPath() + ".tmp");
       }},
      {"an old catalogue", [&] { std::ofstream(dbPath()) << "old"; }},
  };
  const mode_t mask = ::umask(0);
  ::umask(mask);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::ofstream(target, std::ios::trunc) << "keep me";
    c.place();
    ASSERT_TRUE(db.createCatalogue(CataloguePath(dir.path())));
    EXPECT_EQ(ReadFileBytes(target).bytes, "keep me");
    EXPECT_FALSE(fs::exists(fs::symlink_status(missing)));
    const fs::file_status status = fs::symlink_status(dbPath());
    EXPECT_EQ(status.type(), fs::file_type::regular);
    EXPECT_EQ(static_cast<mode_t>(status.permissions() & fs::perms::all), 0666 & ~mask);
    EXPECT_FALSE(fs::exists(fs::symlink_status(dbPath() + ".tmp")));
    ASSERT_TRUE(db.openCatalogue(CataloguePath(dir.path())));
    ASSERT_TRUE(db.executeStatement(Batch(1, 2)));
    EXPECT_EQ(rowCount(), 2);
    db.closeCatalogue();
    EXPECT_EQ(ReadFileBytes(target).bytes, "keep me");
    fs::remove(dbPath());
    fs::remove(dbPath() + "-journal");
  }
}

TEST_F(CatalogueDbTest, LivesInTheCurrentDirectoryByDefault) {
  const auto previous = std::filesystem::current_path();
  std::filesystem::current_path(dir.path());
  const bool created = db.createCatalogue();
  const bool opened = db.openCatalogue();
  std::filesystem::current_path(previous);
  EXPECT_TRUE(created);
  EXPECT_TRUE(opened);
  EXPECT_TRUE(std::filesystem::exists(dbPath()));
}

// ---- Ids, text and quoting ----

TEST_F(CatalogueDbTest, IdsStartAtOneAndStayDense) {
  createAndOpen();
  ASSERT_TRUE(db.executeLogged(Batch(1, 10)));
  ASSERT_TRUE(db.executeLogged(Batch(11, 50)));
  Rows ids = CatalogueRows(dbPath(), "select id, target from list order by id");
  ASSERT_EQ(ids.size(), 60u);
  for (int i = 0; i < 60; ++i) {
    EXPECT_EQ(ids[i][0], std::to_string(i + 1));
    EXPECT_EQ(ids[i][1], std::to_string(900001 + i));  // insertion order
  }
}

TEST_F(CatalogueDbTest, StoresUtf8AndReadsBackLocalText) {
  createAndOpen();
  CatalogueRow row = Entry(1);
  // "it's" the way the crawler stores names: entity-encoded twice.
  row.filename = EncodeEntities(EncodeEntities("it's"));
  row.folder = EncodeEntities(EncodeEntities(L8("/资料/it's & 文件")));
  ASSERT_TRUE(db.executeStatement(InsertEntryStatement(row)));

  EXPECT_EQ(CatalogueRows(dbPath(), "select filename, folder, time, other_1 from list"),
            (Rows{{"it&amp;apos;s", "/资料/it&amp;apos;s &amp;amp; 文件",
                   "2024年03月05日 14时07分09秒", "<null>"}}));

  std::lock_guard lock(app.catalogueLock);
  CatalogueQuery q = db.queryRows(RowByTargetQuery(row.target));
  ASSERT_TRUE(q.prepared());
  EXPECT_EQ(q.text(kColFilename), "");  // no current row before the first Step
  ASSERT_TRUE(q.step());
  EXPECT_EQ(DecodeEntities(DecodeEntities(q.text(kColFilename))), "it's");
  EXPECT_EQ(DecodeEntities(DecodeEntities(q.text(kColFolder))), L8("/资料/it's & 文件"));
  EXPECT_EQ(q.text(kColTime), row.time);
  EXPECT_EQ(q.text(kColQueried), "0");
  EXPECT_EQ(q.text(kColOther1), "");  // NULL
  EXPECT_EQ(q.text(13), "");          // out of range
  EXPECT_FALSE(q.step());
  EXPECT_EQ(q.text(kColId), "");
  q.close();
  EXPECT_FALSE(q.step());
}

// Values from the service end up inside statement texts: none may end its literal.
TEST_F(CatalogueDbTest, ValuesWithApostrophesAreStoredExactlyAndCannotAlterStatements) {
  struct Case {
    const char* what;
    std::function<void(CatalogueRow&, const std::string&)> set;
    int column;
  };
  const std::vector<std::string> hostile = {
      "it's",        "1'); DELETE FROM list; --", "x','y','z','w','v','u','t','s','r','q','p');",
      "'",
      "a\x81'",  // a lone GBK lead byte before the apostrophe must not swallow it
      "' or '1'='1",
  };
  // What reads back is what went in; a lone lead byte is invalid GBK and reads back as "?".
  auto ReadBack = [](const std::string& value) {
    return value == "a\x81'" ? std::string("a?'") : value;
  };
  const std::vector<Case> cases = {
      {"size", [](CatalogueRow& r, const std::string& v) { r.size = v; }, kColSize},
      {"target", [](CatalogueRow& r, const std::string& v) { r.target = v; }, kColTarget},
      {"filename", [](CatalogueRow& r, const std::string& v) { r.filename = v; }, kColFilename},
      {"folder", [](CatalogueRow& r, const std::string& v) { r.folder = v; }, kColFolder},
      {"time", [](CatalogueRow& r, const std::string& v) { r.time = v; }, kColTime},
      {"ordersign", [](CatalogueRow& r, const std::string& v) { r.ordersign = v; }, kColOrdersign},
  };
  createAndOpen();
  ASSERT_TRUE(db.executeStatement(Batch(1, 3)));
  long long expectedRows = 3;
  for (const Case& c : cases) {
    for (const std::string& value : hostile) {
      SCOPED_TRACE(std::string(c.what) + ": " + value);
      CatalogueRow row = Entry(0);
      row.target = "T" + std::to_string(expectedRows);
      c.set(row, value);
      ASSERT_TRUE(db.executeStatement(InsertEntryStatement(row)));
      ++expectedRows;
      EXPECT_EQ(rowCount(), expectedRows);
      std::lock_guard lock(app.catalogueLock);
      CatalogueQuery q =
          db.queryRows("select * from list where id=" + std::to_string(expectedRows));
      ASSERT_TRUE(q.step());
      EXPECT_EQ(q.text(c.column), ReadBack(value));
      EXPECT_EQ(q.text(kColQueried), "0");
    }
  }

  // The fs_id statements quote their value too: a hostile id matches no row.
  for (const std::string& fsId : hostile) {
    SCOPED_TRACE(fsId);
    ASSERT_TRUE(db.executeStatement(MarkBlockedStatement(fsId) + MarkNormalStatement(fsId)));
    std::lock_guard lock(app.catalogueLock);
    CatalogueQuery q = db.queryRows(RowByTargetQuery(fsId));
    ASSERT_TRUE(q.prepared());
    ASSERT_TRUE(q.step());  // the row of the target case that holds exactly this id
    EXPECT_EQ(q.text(kColTarget), ReadBack(fsId));
    EXPECT_FALSE(q.step());
  }
  EXPECT_EQ(CatalogueRows(dbPath(), "select count(*) from list where other_1 is not null"),
            (Rows{{"6"}}));
  EXPECT_EQ(rowCount(), expectedRows);
}

TEST_F(CatalogueDbTest, NulEndsAValueInsteadOfCuttingTheStatement) {
  createAndOpen();
  CatalogueRow row = Entry(1);
  row.filename = std::string("name\0rest", 9);
  ASSERT_TRUE(db.executeStatement(InsertEntryStatement(row) + InsertEntryStatement(Entry(2))));
  EXPECT_EQ(CatalogueRows(dbPath(), "select filename from list order by id"),
            (Rows{{"name"}, {"file2"}}));
}

TEST(CatalogueStatements, TextsAreExact) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {InsertEntryStatement(Entry(7, "1")),
       "INSERT INTO list "
       "('folder','filename','order','type','time','size','ordersign','queried','count','lowernum',"
       "'target') VALUES ('/docs/file7','file7','01','1','2024年03月05日 "
       "14时07分09秒','1007','001','0','7','02',"
       "'900007');"},
      {NextFolderQuery(), "select * from list where type='1' and queried='0'"},
      {MarkFolderQueriedStatement(42), "UPDATE list  SET queried='1' WHERE id=42;"},
      {UncheckedRowsQuery(), "select * from list where other_1 is null or other_1='检查中'"},
      {UncheckedRangeQuery(50, 100),
       "select * from list where (other_1 is null or other_1='检查中') and id>50 and id<=100;"},
      {MarkBlockedStatement("123"), "update list set other_1='已和谐' where target='123';"},
      {RowByTargetQuery("123"), "select * from list where target='123';"},
      {MarkNormalStatement("123"), "update list set other_1='正常' where target='123';"},
      {TakeFolderStatement(42),
       "UPDATE list  SET queried='1' WHERE id=42;INSERT INTO task (listing) VALUES (42);"},
      {FolderListedStatement(42), "DELETE FROM task WHERE listing=42;"},
      {InsertNewEntryStatement(Entry(7, "1")),
       "INSERT INTO list "
       "('folder','filename','order','type','time','size','ordersign','queried','count','lowernum',"
       "'target') SELECT '/docs/file7','file7','01','1','2024年03月05日 "
       "14时07分09秒','1007','001','0','7','02',"
       "'900007' WHERE NOT EXISTS (SELECT 1 FROM list WHERE target='900007');"},
  };
  for (const auto& [text, expected] : cases) EXPECT_EQ(LocalToUtf8(text), expected);
}

// ---- Queries and counts ----

TEST_F(CatalogueDbTest, CountsFollowTheCheckPhase) {
  createAndOpen();
  ASSERT_TRUE(db.executeLogged(Batch(1, 120)));
  std::lock_guard lock(app.catalogueLock);
  EXPECT_EQ(db.queryRows(UncheckedRowsQuery()).count(), 120);
  EXPECT_EQ(db.queryRows(UncheckedRangeQuery(100, 150)).count(), 20);

  // One batch of the check phase: read its targets, mark them.
  CatalogueQuery batch = db.queryRows(UncheckedRangeQuery(0, 50));
  ASSERT_EQ(batch.count(), 50);
  std::string marks;
  for (long long i = 0; i < 50 && batch.step(); ++i)
    marks += MarkNormalStatement(batch.text(kColTarget));
  batch.close();
  ASSERT_TRUE(db.executeLogged(marks));
  EXPECT_EQ(db.queryRows(UncheckedRowsQuery()).count(), 70);

  // A file under check ("检查中") still counts as unchecked.
  ASSERT_TRUE(db.executeStatement(L8("update list set other_1='检查中' where id=51;")));
  EXPECT_EQ(db.queryRows(UncheckedRangeQuery(50, 51)).count(), 1);

  ASSERT_TRUE(db.executeLogged(MarkBlockedStatement("900051")));
  ASSERT_TRUE(db.executeLogged(L8("update list set other_1='正常' where id>51;")));
  EXPECT_EQ(db.queryRows(UncheckedRowsQuery()).count(), 0);
  EXPECT_EQ(CatalogueRows(dbPath(), "select id from list where other_1='已和谐'"), (Rows{{"51"}}));
}

TEST_F(CatalogueDbTest, CountStartsAtTheFirstTopLevelFrom) {
  createAndOpen();
  ASSERT_TRUE(db.executeStatement(Batch(1, 4)));
  const std::vector<std::pair<std::string, long long>> cases = {
      {"SELECT * FROM list", 4},
      {"select id,(select count(*) from list) n from list where id>1", 3},
      {"select 'from', * from list where target<>'from x'", 4},
      {"select \"id\" as `from x`, id from list where filename='it''s from'", 0},
      {"select id /* from */ from list -- from\n where id<3", 2},
      {"select fromage.id from list as fromage where fromage.id=2", 1},
      {"select 1", -1},  // nothing to count from
  };
  std::lock_guard lock(app.catalogueLock);
  for (const auto& [sql, expected] : cases) {
    SCOPED_TRACE(sql);
    CatalogueQuery q = db.queryRows(sql);
    ASSERT_TRUE(q.prepared());
    EXPECT_EQ(q.count(), expected);
  }
}

TEST_F(CatalogueDbTest, DispatcherWalksFolderRowsInIdOrder) {
  createAndOpen();
  ASSERT_TRUE(db.executeLogged(InsertEntryStatement(Entry(1, "0")) +
                               InsertEntryStatement(Entry(2, "1")) +
                               InsertEntryStatement(Entry(3, "1"))));
  std::vector<std::string> taken;
  std::lock_guard lock(app.catalogueLock);
  for (;;) {
    CatalogueQuery q = db.queryRows(NextFolderQuery());
    ASSERT_TRUE(q.prepared());
    if (!q.step()) break;
    const std::string id = q.text(kColId);
    q.close();
    taken.push_back(id);
    ASSERT_TRUE(db.executeStatement(MarkFolderQueriedStatement(std::stoll(id))));
  }
  EXPECT_EQ(taken, (std::vector<std::string>{"2", "3"}));
}

// A task's catalogue grows to a million rows: the per-file marks and lookups by fs_id
// and the dispatcher's next folder must be index searches, not table scans (one scan
// per file made a 100 000-entry check quadratic). The template itself stays as it is.
TEST_F(CatalogueDbTest, OpenAddsTheIndexesThatTheLookupsSearch) {
  createAndOpen();
  const std::vector<std::pair<std::string, std::string>> cases = {
      {NextFolderQuery(), "unlisted_folders"},
      {RowByTargetQuery("900001"), "target_lookup"},
      {LocalToUtf8(MarkBlockedStatement("900001")), "target_lookup"},
      {LocalToUtf8(MarkNormalStatement("900001")), "target_lookup"},
  };
  for (const auto& [sql, index] : cases) {
    Rows plan = CatalogueRows(dbPath(), "explain query plan " + sql);
    ASSERT_FALSE(plan.empty()) << sql;
    EXPECT_NE(plan.back().back().find("USING INDEX " + index), std::string::npos)
        << sql << ": " << plan.back().back();
  }
  // The rows a mark reaches are still every row with that fs_id, found or not before.
  ASSERT_TRUE(db.executeLogged(Batch(1, 3) + InsertEntryStatement(Entry(2))));
  ASSERT_TRUE(db.executeLogged(MarkNormalStatement("900002")));
  EXPECT_EQ(CatalogueRows(dbPath(), "select id from list where other_1 is not null order by id"),
            (Rows{{"2"}, {"4"}}));
}

// ---- The task's record ----

// Beside the template, the catalogue holds the table `task` and the two indexes,
// nothing else; the template's own objects stay as they are. While open it writes
// through a log; once closed it is a rollback-journal file as the template was.
TEST_F(CatalogueDbTest, OpenAddsOnlyTheTaskTableAndIndexesAndCloseLeavesNoLog) {
  ASSERT_TRUE(db.createCatalogue(CataloguePath(dir.path())));
  const Rows templateSchema = CatalogueRows(dbPath(), "select type, name, sql from sqlite_master");
  ASSERT_TRUE(db.openCatalogue(CataloguePath(dir.path())));
  EXPECT_EQ(CatalogueRows(dbPath(), "pragma journal_mode"), (Rows{{"wal"}}));
  Rows names = CatalogueRows(dbPath(), "select name from sqlite_master order by name");
  EXPECT_EQ(names, (Rows{{"aaa"},
                         {"list"},
                         {"sqlite_autoindex_list_1"},
                         {"sqlite_sequence"},
                         {"target_lookup"},
                         {"task"},
                         {"unlisted_folders"}}));
  for (const auto& object : templateSchema) {
    SCOPED_TRACE(object[1]);
    EXPECT_EQ(CatalogueRows(dbPath(), "select type, name, sql from sqlite_master where name='" +
                                          object[1] + "'"),
              (Rows{object}));
  }
  ASSERT_TRUE(db.executeStatement(Batch(1, 3)));
  db.closeCatalogue();
  EXPECT_FALSE(std::filesystem::exists(dbPath() + "-wal"));
  EXPECT_EQ(CatalogueRows(dbPath(), "pragma journal_mode"), (Rows{{"delete"}}));
  EXPECT_EQ(rowCount(), 3);
  // Opened again, the indexes and the table are there once.
  ASSERT_TRUE(db.openCatalogue(CataloguePath(dir.path())));
  EXPECT_EQ(CatalogueRows(dbPath(), "select name from sqlite_master order by name"), names);
}

// A program killed in the middle of a transaction, after several committed ones:
// the file is whole, holds every committed row and none of the cut transaction,
// and the next task goes on with the next id.
TEST_F(CatalogueDbTest, AKilledProgramLosesNoCommittedRowAndLeavesTheFileWhole) {
  ASSERT_TRUE(db.createCatalogue(CataloguePath(dir.path())));
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    // A program of its own: its own record and connection, nothing of the parent's.
    FakeClock childClock;
    HeadlessPlatform childPlatform(&childClock);
    AppState childApp(childPlatform, dir.path());
    CatalogueDb childDb(childApp);
    if (!childDb.openCatalogue(CataloguePath(dir.path()))) _exit(2);
    for (int batch = 0; batch < 40; ++batch) {
      if (!childDb.executeStatement(Batch(1 + batch * 50, 50))) _exit(3);
    }
    // Enough rows that the cut transaction's pages reach the file system.
    std::lock_guard lock(childApp.catalogueLock);
    CatalogueQuery begin = childDb.queryRows("BEGIN IMMEDIATE");
    begin.step();
    for (int n = 10001; n <= 14000; ++n) childDb.queryRows(InsertEntryStatement(Entry(n))).step();
    raise(SIGKILL);
    _exit(4);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << status;

  EXPECT_EQ(CatalogueRows(dbPath(), "pragma integrity_check"), (Rows{{"ok"}}));
  EXPECT_EQ(CatalogueRows(dbPath(), "select count(*), min(id), max(id), max(target) from list"),
            (Rows{{"2000", "1", "2000", "902000"}}));
  ASSERT_TRUE(db.openCatalogue(CataloguePath(dir.path())));
  ASSERT_TRUE(db.executeStatement(InsertEntryStatement(Entry(2001))));
  EXPECT_EQ(CatalogueRows(dbPath(), "select max(id) from list"), (Rows{{"2001"}}));
}

// The task's record reads back exactly, a folder name that local text cannot hold
// or that looks like SQL or escapes included; a catalogue without one reads as none.
TEST_F(CatalogueDbTest, TheTaskRecordReadsBackExactly) {
  EXPECT_FALSE(ReadStoredTask(CataloguePath(dir.path())));  // no catalogue
  ASSERT_TRUE(db.createCatalogue(CataloguePath(dir.path())));
  EXPECT_FALSE(ReadStoredTask(CataloguePath(dir.path())));  // the template has no table `task`
  ASSERT_TRUE(db.openCatalogue(CataloguePath(dir.path())));
  EXPECT_FALSE(ReadStoredTask(CataloguePath(dir.path())));  // a table, no record

  const std::u16string folders[] = {u"/", u"/电影 2023", u"/😀 it's'); DROP TABLE list; --",
                                    u"/a&amp;b &quot;divide; \\u0031", u"/ctl\x01\x7f\n"};
  for (const std::u16string& folder : folders) {
    SCOPED_TRACE(UnicodeToUtf8(folder));
    const TaskRecord record{"1098765432", folder, 3, TaskPhase::kList, "2026-12-11 14:07:09"};
    ASSERT_TRUE(db.recordTask(record));
    std::optional<StoredTask> stored = ReadStoredTask(CataloguePath(dir.path()));
    ASSERT_TRUE(stored);
    EXPECT_EQ(stored->record.uk, record.uk);
    EXPECT_EQ(stored->record.folder, folder);
    EXPECT_EQ(stored->record.depth, 3);
    EXPECT_EQ(stored->record.phase, TaskPhase::kList);
    EXPECT_EQ(stored->record.startedAt, record.startedAt);
  }
  EXPECT_EQ(CatalogueRows(dbPath(), "select count(*) from task"), (Rows{{"1"}}));
  EXPECT_EQ(rowCount(), 0);
  // A catalogue reached through a symbolic link is none: reading may write.
  std::filesystem::create_directory(dir.file("linked"));
  std::filesystem::create_symlink(dbPath(), dir.file("linked/vintrel.db"));
  EXPECT_FALSE(ReadStoredTask(CataloguePath(dir.file("linked"))));

  // The phases, and the counts the resume question names.
  ASSERT_TRUE(db.executeStatement(Batch(1, 5)));
  ASSERT_TRUE(db.executeStatement(MarkNormalStatement("900001") + MarkBlockedStatement("900002")));
  for (TaskPhase phase : {TaskPhase::kCrawl, TaskPhase::kCheck, TaskPhase::kDone}) {
    ASSERT_TRUE(db.recordPhase(phase));
    std::optional<StoredTask> stored = ReadStoredTask(CataloguePath(dir.path()));
    ASSERT_TRUE(stored);
    EXPECT_EQ(stored->record.phase, phase);
    EXPECT_EQ(stored->rows, 5);
    EXPECT_EQ(stored->checked, 2);
  }
}

// The folders whose listing began and did not end are handed out again by a
// resumed task; an entry it lists again is not added twice.
TEST_F(CatalogueDbTest, AResumedTaskListsAgainOnlyTheFoldersWhoseListingDidNotEnd) {
  createAndOpen();
  ASSERT_TRUE(db.executeStatement(
      InsertEntryStatement(Entry(1, "1")) + InsertEntryStatement(Entry(2, "1")) +
      InsertEntryStatement(Entry(3, "1")) + InsertEntryStatement(Entry(4, "0"))));
  ASSERT_TRUE(db.executeStatement(TakeFolderStatement(1) + TakeFolderStatement(2)));
  ASSERT_TRUE(db.executeStatement(FolderListedStatement(1)));
  ASSERT_TRUE(db.executeStatement(ReopenUnlistedFoldersStatement()));
  EXPECT_EQ(CatalogueRows(dbPath(), "select id, queried from list order by id"),
            (Rows{{"1", "1"}, {"2", "0"}, {"3", "0"}, {"4", "0"}}));
  EXPECT_EQ(CatalogueRows(dbPath(), "select count(*) from task"), (Rows{{"0"}}));

  ASSERT_TRUE(db.executeStatement(InsertNewEntryStatement(Entry(4)) +
                                  InsertNewEntryStatement(Entry(5)) +
                                  InsertNewEntryStatement(Entry(5))));
  EXPECT_EQ(CatalogueRows(dbPath(), "select id, target from list where id>3 order by id"),
            (Rows{{"4", "900004"}, {"5", "900005"}}));
}

TEST_F(CatalogueDbTest, UnpreparableQueryHasNoRows) {
  createAndOpen();
  std::lock_guard lock(app.catalogueLock);
  CatalogueQuery q = db.queryRows("select * from no_such_table");
  EXPECT_FALSE(q.prepared());
  EXPECT_FALSE(q.step());
  EXPECT_EQ(q.text(0), "");
  EXPECT_EQ(q.count(), -1);
}

// ---- Failures and retries ----

TEST_F(CatalogueDbTest, BatchFailingPartWayLeavesNoRowsAndOneErrorLinePerAttempt) {
  createAndOpen();
  // The third statement of the batch fails after two rows went in.
  ASSERT_TRUE(
      db.executeStatement("CREATE TRIGGER refuse BEFORE INSERT ON list WHEN NEW.target='900003' "
                          "BEGIN SELECT RAISE(ABORT, 'no'); END;"));
  const std::string batch = Batch(1, 5);
  for (int attempt = 0; attempt < 3; ++attempt) EXPECT_FALSE(db.executeLogged(batch));
  EXPECT_EQ(rowCount(), 0);
  EXPECT_EQ(errorLines(), (std::vector<std::string>{batch, batch, batch}));

  // The caller's retry after the cause is gone inserts every row exactly once, ids from 1.
  ASSERT_TRUE(db.executeStatement("DROP TRIGGER refuse;"));
  ASSERT_TRUE(db.executeLogged(batch));
  EXPECT_EQ(
      CatalogueRows(dbPath(), "select id, target from list order by id"),
      (Rows{{"1", "900001"}, {"2", "900002"}, {"3", "900003"}, {"4", "900004"}, {"5", "900005"}}));
  EXPECT_EQ(errorLines().size(), 3u);
  EXPECT_EQ(clock.sleeps, 0);
}

TEST_F(CatalogueDbTest, BeginIsRetriedTenTimesFiftyMillisecondsApart) {
  createAndOpen();
  // A transaction left open on the connection makes BEGIN IMMEDIATE fail with SQLITE_ERROR.
  auto leaveTransactionOpen = [&] {
    std::lock_guard lock(app.catalogueLock);
    CatalogueQuery begin = db.queryRows("BEGIN");
    begin.step();
  };
  auto endTransaction = [&] {
    CatalogueQuery commit = db.queryRows("COMMIT");
    commit.step();
  };

  leaveTransactionOpen();
  clock.onSleep = [&](int sleeps) {
    if (sleeps == 3) endTransaction();
  };
  EXPECT_TRUE(db.executeStatement(Batch(1, 1)));
  EXPECT_EQ(clock.sleeps, 3);
  EXPECT_EQ(clock.sleptMs, 150);
  EXPECT_EQ(rowCount(), 1);

  clock.sleeps = 0;
  clock.sleptMs = 0;
  clock.onSleep = nullptr;
  leaveTransactionOpen();
  EXPECT_FALSE(db.executeStatement(Batch(2, 1)));
  EXPECT_EQ(clock.sleeps, 10);
  EXPECT_EQ(clock.sleptMs, 500);
  endTransaction();
  EXPECT_EQ(rowCount(), 1);  // the text never ran
}

TEST_F(CatalogueDbTest, BusyFileIsNotRetried) {
  createAndOpen();
  sqlite3* other = nullptr;
  ASSERT_EQ(sqlite3_open_v2(dbPath().c_str(), &other, SQLITE_OPEN_READWRITE, nullptr), SQLITE_OK);
  ASSERT_EQ(sqlite3_exec(other, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr), SQLITE_OK);
  EXPECT_FALSE(db.executeLogged(Batch(1, 2)));
  EXPECT_EQ(clock.sleeps, 0);
  EXPECT_EQ(errorLines().size(), 1u);
  sqlite3_exec(other, "COMMIT", nullptr, nullptr, nullptr);
  sqlite3_close(other);
  EXPECT_TRUE(db.executeLogged(Batch(1, 2)));
  EXPECT_EQ(rowCount(), 2);
}

TEST_F(CatalogueDbTest, CloseWithAnOpenResultSetStillCloses) {
  createAndOpen();
  ASSERT_TRUE(db.executeStatement(Batch(1, 2)));
  std::lock_guard lock(app.catalogueLock);
  CatalogueQuery q = db.queryRows(NextFolderQuery() + " or 1");
  ASSERT_TRUE(q.step());
  db.closeCatalogue();
  EXPECT_FALSE(db.isOpen());
  EXPECT_FALSE(db.executeStatement(Batch(3, 1)));
  q.close();
  // The file is free again: it can be re-created and reopened.
  EXPECT_TRUE(db.createCatalogue(CataloguePath(dir.path())));
  EXPECT_TRUE(db.openCatalogue(CataloguePath(dir.path())));
  EXPECT_EQ(rowCount(), 0);
}

// Another program that has moved table `list` away: neither a read nor a write of
// the task's connection finds it while that lasts. (A lock of another program
// holds the writes only: the catalogue writes through a log, and reads go on.)
class TableMovedByAnotherProgram {
 public:
  explicit TableMovedByAnotherProgram(const std::string& path) {
    sqlite3_open_v2(path.c_str(), &other_, SQLITE_OPEN_READWRITE, nullptr);
    moved_ = sqlite3_exec(other_, "ALTER TABLE list RENAME TO list_elsewhere", nullptr, nullptr,
                          nullptr) == SQLITE_OK;
  }
  TableMovedByAnotherProgram(const TableMovedByAnotherProgram&) = delete;
  TableMovedByAnotherProgram& operator=(const TableMovedByAnotherProgram&) = delete;
  ~TableMovedByAnotherProgram() {
    restore();
    sqlite3_close(other_);
  }
  bool moved() const { return moved_; }
  void restore() {
    if (moved_)
      sqlite3_exec(other_, "ALTER TABLE list_elsewhere RENAME TO list", nullptr, nullptr, nullptr);
    moved_ = false;
  }

 private:
  sqlite3* other_ = nullptr;
  bool moved_ = false;
};

// What a task retries: a statement, a row read and a count; and what another
// program can do to make each of them fail, with SQLite's words for it.
struct RetriedStep {
  const char* what;
  std::function<bool(CatalogueDb&, AppState&)> attempt;
  bool lockHolds;  // another program's lock makes it fail; else only a moved table does
};
std::vector<RetriedStep> RetriedSteps() {
  return {
      {"a statement", [](CatalogueDb& db, AppState&) { return db.executeLogged(Batch(10, 2)); },
       true},
      {"a row read",
       [](CatalogueDb& db, AppState& app) {
         std::lock_guard lock(app.catalogueLock);
         CatalogueQuery q = db.queryRows(NextFolderQuery() + " or 1");
         q.step();
         return !q.failed();
       },
       false},
      {"a count",
       [](CatalogueDb& db, AppState& app) {
         std::lock_guard lock(app.catalogueLock);
         return db.queryRows(UncheckedRowsQuery()).count() >= 0;
       },
       false},
  };
}

// Another program in the way of `step` while it lives: its lock where that holds
// the step, otherwise the table moved away.
class InTheWay {
 public:
  InTheWay(const RetriedStep& step, const std::string& path) {
    if (step.lockHolds) {
      lock_ = std::make_unique<testing::LockedByAnotherProgram>(path);
    } else {
      moved_ = std::make_unique<TableMovedByAnotherProgram>(path);
    }
  }
  bool active() const { return lock_ ? lock_->locked() : moved_->moved(); }
  void end() {
    if (lock_) lock_->unlock();
    if (moved_) moved_->restore();
  }
  std::string reason() const { return lock_ ? "database is locked" : "no such table: list"; }

 private:
  std::unique_ptr<testing::LockedByAnotherProgram> lock_;
  std::unique_ptr<TableMovedByAnotherProgram> moved_;
};

std::vector<std::string> LogLines(const AppState& app) {
  std::vector<std::string> lines;
  for (const std::string& line : SplitText(LocalToUtf8(app.log.text()), "\r\n")) {
    if (!line.empty()) lines.push_back(line);
  }
  return lines;
}

TEST_F(CatalogueDbTest, AStepThatStaysLockedIsGivenUpAfterTenTriesAndLogged) {
  createAndOpen();
  ASSERT_TRUE(db.executeStatement(Batch(1, 2)));
  int expectedFailures = 0;
  for (const RetriedStep& step : RetriedSteps()) {
    SCOPED_TRACE(step.what);
    InTheWay other(step, dbPath());
    ASSERT_TRUE(other.active());
    clock.sleeps = 0;
    clock.sleptMs = 0;
    const size_t logBefore = LogLines(app).size();
    int tries = 0;
    EXPECT_FALSE(db.retry([&] { return ++tries, step.attempt(db, app); }, [] { return false; }));
    EXPECT_EQ(tries, kCatalogueTries);
    EXPECT_EQ(clock.sleeps, kCatalogueTries - 1);
    EXPECT_EQ(clock.sleptMs, (kCatalogueTries - 1) * kCatalogueRetryWait.count());
    EXPECT_EQ(db.failures(), ++expectedFailures);
    // One line: which file, how often it was tried, and SQLite's own words.
    const std::vector<std::string> lines = LogLines(app);
    ASSERT_EQ(lines.size(), logBefore + 1);
    EXPECT_NE(
        lines.back().find("检查数据库 " + dbPath() + " 读写失败（已试 10 次）：" + other.reason()),
        std::string::npos)
        << lines.back();
  }
  // Each failed try of the statement left it in err.txt.
  EXPECT_EQ(errorLines().size(), static_cast<size_t>(kCatalogueTries));

  // The lock ends during the waits: the next try succeeds, nothing more is logged.
  for (const RetriedStep& step : RetriedSteps()) {
    SCOPED_TRACE(step.what);
    InTheWay again(step, dbPath());
    ASSERT_TRUE(again.active());
    clock.sleeps = 0;
    clock.onSleep = [&](int sleeps) {
      if (sleeps == 3) again.end();
    };
    const size_t logBefore = LogLines(app).size();
    EXPECT_TRUE(db.retry([&] { return step.attempt(db, app); }, [] { return false; }));
    EXPECT_EQ(clock.sleeps, 3);
    EXPECT_EQ(LogLines(app).size(), logBefore);
    clock.onSleep = nullptr;
  }
  EXPECT_EQ(db.failures(), expectedFailures);
  EXPECT_EQ(rowCount(), 4);  // the statement's rows went in once, on the try that worked
}

TEST_F(CatalogueDbTest, AStopEndsTheRetriesBeforeTheNextWaitWithoutAFailure) {
  createAndOpen();
  for (const RetriedStep& step : RetriedSteps()) {
    SCOPED_TRACE(step.what);
    InTheWay other(step, dbPath());
    ASSERT_TRUE(other.active());
    clock.sleeps = 0;
    int tries = 0;
    int asked = 0;
    // Stopped while the third wait was due.
    EXPECT_FALSE(
        db.retry([&] { return ++tries, step.attempt(db, app); }, [&] { return ++asked == 3; }));
    EXPECT_EQ(tries, 3);
    EXPECT_EQ(clock.sleeps, 2);
  }
  EXPECT_EQ(db.failures(), 0);
  EXPECT_TRUE(LogLines(app).empty());
}

// A catalogue that cannot be made or opened names its file and the reason in the log.
TEST_F(CatalogueDbTest, CreateAndOpenFailuresNameTheFileAndWhy) {
  namespace fs = std::filesystem;
  struct Case {
    const char* what;
    std::string folder;
    std::function<void()> place;
    bool create;  // else open
    std::string reason;
  };
  const std::string file = dir.file("a file");
  std::vector<Case> cases = {
      {"a folder that does not exist", dir.file("no-such-folder"), [] {}, true,
       "No such file or directory"},
      {"a path through a file", file, [&] { std::ofstream(file) << "x"; }, true, "Not a directory"},
      {"a folder at the catalogue's name", dir.file("taken"),
       [&] { fs::create_directories(dir.file("taken/vintrel.db/inside")); }, true,
       "Is a directory"},
      {"no catalogue to open", dir.file("empty"), [&] { fs::create_directory(dir.file("empty")); },
       false, "unable to open database file"},
  };
  // The superuser writes into any folder.
  if (geteuid() != 0) {
    cases.push_back({"a folder that cannot be written", dir.file("read-only"),
                     [&] {
                       fs::create_directory(dir.file("read-only"));
                       fs::permissions(dir.file("read-only"),
                                       fs::perms::owner_read | fs::perms::owner_exec);
                     },
                     true, "Permission denied"});
  }
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    c.place();
    const size_t logBefore = LogLines(app).size();
    EXPECT_FALSE(c.create ? db.createCatalogue(CataloguePath(c.folder))
                          : db.openCatalogue(CataloguePath(c.folder)));
    const std::vector<std::string> lines = LogLines(app);
    ASSERT_EQ(lines.size(), logBefore + 1);
    const std::string expected = std::string(c.create ? "无法创建" : "无法打开") + "检查数据库 " +
                                 c.folder + "/vintrel.db：" + c.reason;
    EXPECT_NE(lines.back().find(expected), std::string::npos) << lines.back();
  }
  if (geteuid() != 0) fs::permissions(dir.file("read-only"), fs::perms::owner_all);
}

TEST(CatalogueOfAppState, IsMadeOnceAndShared) {
  FakeClock clock;
  HeadlessPlatform platform(&clock);
  AppState app(platform, "/nonexistent");
  CatalogueDb& first = Catalogue(app);
  EXPECT_EQ(&first, &Catalogue(app));
  EXPECT_EQ(app.catalogue.get(), &first);
  EXPECT_FALSE(first.isOpen());
}

}  // namespace
}  // namespace pansift
