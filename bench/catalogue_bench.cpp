// Inserts per second into the catalogue for the crawler's group sizes (10 and 50
// INSERT statements per transaction), on a real file with the real clock: through
// CatalogueDb as the task writes them, and with each way of keeping a journal the
// catalogue has had or might have.
#include <benchmark/benchmark.h>
#include <sqlite3.h>
#include <stdlib.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "core/app_state.h"
#include "core/headless_platform.h"
#include "pipeline/catalogue_db.h"
#include "util/codepage.h"
#include "util/text.h"

namespace {

using namespace pansift;

std::string MakeTempFolder() {
  std::string templ = (std::filesystem::temp_directory_path() / "pansift-bench-XXXXXX").string();
  return mkdtemp(templ.data()) ? templ : std::string();
}

// A batch shaped like one the crawler writes: names entity-encoded twice, Chinese
// time stamp, 19-digit fs_ids.
std::string InsertBatch(int batchSize, long long firstId) {
  std::string text;
  for (int i = 1; i <= batchSize; ++i) {
    CatalogueRow row;
    const std::string name = L8("照片 & 视频, 第") + std::to_string(i) + L8("集's.mp4");
    row.folder = EncodeEntities(EncodeEntities(L8("/我的资源/电影/") + name));
    row.filename = EncodeEntities(EncodeEntities(name));
    row.order = "02";
    row.type = "0";
    row.time = L8("2024年03月05日 14时07分09秒");
    row.size = "1073741824";
    char position[12];
    std::snprintf(position, sizeof position, "%03d", i);
    row.ordersign = std::string("017") + position;
    row.count = std::to_string(i);
    row.lowernum = "03";
    row.target = std::to_string(1000000000000000000LL + firstId + i);
    text += InsertEntryStatement(row);
  }
  return text;
}

void BmInsertBatch(benchmark::State& state) {
  const int batchSize = static_cast<int>(state.range(0));
  const std::string folder = MakeTempFolder();
  HeadlessPlatform platform;  // the real clock
  AppState app(platform, folder);
  CatalogueDb db(app);
  if (folder.empty() || !db.createCatalogue(CataloguePath(folder)) ||
      !db.openCatalogue(CataloguePath(folder))) {
    state.SkipWithError("cannot create the catalogue");
    return;
  }
  const std::string batch = InsertBatch(batchSize, 0);
  for (auto _ : state) {
    if (!db.executeLogged(batch)) {
      state.SkipWithError("insert failed");
      break;
    }
  }
  state.SetItemsProcessed(state.iterations() * batchSize);
  state.counters["batches/s"] =
      benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
  db.closeCatalogue();
  std::error_code ec;
  std::filesystem::remove_all(folder, ec);
}
BENCHMARK(BmInsertBatch)->Arg(10)->Arg(50)->Unit(benchmark::kMillisecond)->UseRealTime();

// The journal settings compared: the catalogue's before (no sync, the journal in
// memory: a killed program could leave the file damaged), its own now (a
// write-ahead log synced at checkpoints: nothing committed is lost and the file
// stays whole), and SQLite's defaults (a rollback journal file, synced at every
// commit).
struct JournalSettings {
  const char* label;
  const char* pragmas;
};
constexpr JournalSettings kJournals[] = {
    {"synchronous=OFF, journal_mode=MEMORY", "PRAGMA synchronous=OFF;PRAGMA journal_mode=MEMORY;"},
    {"journal_mode=WAL, synchronous=NORMAL", "PRAGMA journal_mode=WAL;PRAGMA synchronous=NORMAL;"},
    {"journal_mode=DELETE, synchronous=FULL",
     "PRAGMA journal_mode=DELETE;PRAGMA synchronous=FULL;"},
    {"WAL, NORMAL, autocheckpoint 10000",
     "PRAGMA journal_mode=WAL;PRAGMA synchronous=NORMAL;PRAGMA wal_autocheckpoint=10000;"},
};

// The transactions of CatalogueDb::executeStatement (the text converted, BEGIN
// IMMEDIATE, the statements, COMMIT) on a connection of its own with one of the
// journal settings.
void BmInsertBatchJournal(benchmark::State& state) {
  const JournalSettings& journal = kJournals[state.range(0)];
  const int batchSize = static_cast<int>(state.range(1));
  const std::string folder = MakeTempFolder();
  HeadlessPlatform platform;
  AppState app(platform, folder);
  CatalogueDb maker(app);
  sqlite3* db = nullptr;
  // The catalogue as a task has it, its indexes and table `task` included.
  if (folder.empty() || !maker.createCatalogue(CataloguePath(folder)) ||
      !maker.openCatalogue(CataloguePath(folder))) {
    state.SkipWithError("cannot create the catalogue");
    return;
  }
  maker.closeCatalogue();
  if (sqlite3_open_v2(CataloguePath(folder).c_str(), &db, SQLITE_OPEN_READWRITE, nullptr) !=
          SQLITE_OK ||
      sqlite3_exec(db, journal.pragmas, nullptr, nullptr, nullptr) != SQLITE_OK) {
    state.SkipWithError("cannot open the catalogue");
    sqlite3_close(db);
    return;
  }
  state.SetLabel(journal.label);
  const std::string batch = InsertBatch(batchSize, 0);
  for (auto _ : state) {
    const std::string utf8 = LocalToUtf8(batch);
    if (sqlite3_exec(db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr) != SQLITE_OK ||
        sqlite3_exec(db, utf8.c_str(), nullptr, nullptr, nullptr) != SQLITE_OK ||
        sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr) != SQLITE_OK) {
      state.SkipWithError("insert failed");
      break;
    }
  }
  state.SetItemsProcessed(state.iterations() * batchSize);
  state.counters["batches/s"] =
      benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
  sqlite3_close(db);
  std::error_code ec;
  std::filesystem::remove_all(folder, ec);
}
BENCHMARK(BmInsertBatchJournal)
    ->ArgsProduct({{0, 1, 2, 3}, {10, 50}})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// Building the statement text alone, to see what the quoting and conversions cost.
void BmBuildInsertBatch(benchmark::State& state) {
  const int batchSize = static_cast<int>(state.range(0));
  for (auto _ : state) benchmark::DoNotOptimize(InsertBatch(batchSize, 0));
  state.SetItemsProcessed(state.iterations() * batchSize);
}
BENCHMARK(BmBuildInsertBatch)->Arg(10)->Arg(50);

}  // namespace

BENCHMARK_MAIN();
