// Reading a table export back: decoding, splitting into rows and cells, and filling
// the blocked-file list, for tables of 1 000 to 50 000 rows. Stays linear in the size.
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "blocked/blocked_list.h"
#include "blocked/exports.h"
#include "util/codepage.h"

#include "blocked_rows.h"

namespace pansift {
namespace {

std::string TableFile(int rows) {
  std::vector<BlockedRow> list;
  list.reserve(static_cast<size_t>(rows));
  for (int i = 0; i < rows; ++i) {
    list.push_back(BenchBlockedRow(i));
  }
  return UnicodeToUtf8(TableText(list));
}

void ImportTableBench(benchmark::State& state) {
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
BENCHMARK(ImportTableBench)->Arg(1000)->Arg(10000)->Arg(50000)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace pansift

BENCHMARK_MAIN();
