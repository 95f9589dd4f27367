// Reading a table export back: decoding, splitting into rows and cells, and filling
// the blocked-file list, for tables of 1 000 to 50 000 rows. Stays linear in the size.
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "blocked/blocked_list.h"
#include "blocked/exports.h"
#include "util/codepage.h"

namespace pansift {
namespace {

std::string TableFile(int rows) {
  std::vector<BlockedRow> list;
  list.reserve(static_cast<size_t>(rows));
  for (int i = 0; i < rows; ++i) {
    BlockedRow row;
    row.ordinal = std::to_string(i + 1);
    row.detectedAt = "12-10 17:35:48";
    row.name = u"电影 café " + LocalToUnicode(std::to_string(i)) + u".mkv";
    row.fsid = std::to_string(900000000000LL + i);
    row.location = u"/资料/第二层";
    row.path = "/\\u8d44\\u6599/\\u7b2c\\u4e8c\\u5c42/file" + std::to_string(i) + ".mkv";
    row.account = L8("网盘*用户");
    row.deleteStatus = L8("待处理");
    list.push_back(std::move(row));
  }
  return UnicodeToUtf8(TableText(list));
}

void BM_ImportTable(benchmark::State& state) {
  std::string file = TableFile(static_cast<int>(state.range(0)));
  for (auto _ : state) {
    BlockedList list;
    for (BlockedRow& row : ParseTable(DecodeOwnFile(file))) list.append(std::move(row));
    benchmark::DoNotOptimize(list.size());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                          static_cast<int64_t>(file.size()));
  state.counters["rows"] = static_cast<double>(state.range(0));
}
BENCHMARK(BM_ImportTable)->Arg(1000)->Arg(10000)->Arg(50000)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace pansift

BENCHMARK_MAIN();
