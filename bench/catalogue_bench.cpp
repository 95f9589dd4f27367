// Inserts per second into the catalogue for the crawler's group sizes (10 and 50
// INSERT statements per transaction), on a real file with the real clock.
#include <benchmark/benchmark.h>
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
  if (folder.empty() || !db.createCatalogue(folder) || !db.openCatalogue(folder)) {
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

// Building the statement text alone, to see what the quoting and conversions cost.
void BmBuildInsertBatch(benchmark::State& state) {
  const int batchSize = static_cast<int>(state.range(0));
  for (auto _ : state) benchmark::DoNotOptimize(InsertBatch(batchSize, 0));
  state.SetItemsProcessed(state.iterations() * batchSize);
}
BENCHMARK(BmBuildInsertBatch)->Arg(10)->Arg(50);

}  // namespace

BENCHMARK_MAIN();
