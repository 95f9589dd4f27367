// "清除已删除成功列表" on lists of 10 000 to 100 000 rows, half of them deleted (every
// other row): the model alone, and the model with the blocked-file window mirroring
// it (offscreen Qt), from the worker's clear to the window showing the rows left.
// Both stay linear in the rows.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <QApplication>
#include <QTreeView>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "accounts/account_store.h"
#include "app/main_window.h"
#include "blocked/blocked_actions.h"
#include "blocked/blocked_list.h"
#include "core/app_state.h"
#include "core/headless_platform.h"
#include "core/main_form.h"
#include "gui/blocked_window_view.h"
#include "util/clock.h"
#include "util/codepage.h"

#include "blocked_rows.h"

namespace pansift {
namespace {

std::string MakeTempFolder() {
  std::string templ = (std::filesystem::temp_directory_path() / "pansift-bench-XXXXXX").string();
  return mkdtemp(templ.data()) ? templ : std::string();
}

// Rows as a check writes them; every other one deleted.
std::vector<BlockedRow> HalfDeletedRows(int count) {
  std::vector<BlockedRow> rows;
  rows.reserve(static_cast<size_t>(count));
  for (int i = 0; i < count; ++i) {
    BlockedRow row = BenchBlockedRow(i);
    if (i % 2 == 1) row.deleteStatus = L8(kStatusDeleted);
    row.netdiskPath = u"/资料/第二层/file" + LocalToUnicode(std::to_string(i)) + u".mkv";
    rows.push_back(std::move(row));
  }
  return rows;
}

void Refill(BlockedList& list, const std::vector<BlockedRow>& rows) {
  list.clear();
  for (const BlockedRow& row : rows) list.append(row);
}

struct Program {
  std::string folder = MakeTempFolder();
  FakeClock clock;  // the button's 500 ms pause passes at once
  HeadlessPlatform platform{&clock};
  AppState app{platform, folder};
  MainForm form;
  AccountStore accounts;
  MainWindow controller{app, form, accounts};

  ~Program() {
    std::error_code ec;
    std::filesystem::remove_all(folder, ec);
  }
};

void BmClearHalfModel(benchmark::State& state) {
  const int count = static_cast<int>(state.range(0));
  const std::vector<BlockedRow> rows = HalfDeletedRows(count);
  Program program;
  BlockedList& list = program.controller.blocked();
  for (auto _ : state) {
    state.PauseTiming();
    Refill(list, rows);
    state.ResumeTiming();
    ClearDeletedRows(program.app, list, program.controller.blockedForm());
  }
  if (list.size() != static_cast<size_t>(count / 2)) state.SkipWithError("wrong rows left");
  state.counters["rows"] = count;
}

void BmClearHalfWindow(benchmark::State& state) {
  const int count = static_cast<int>(state.range(0));
  const std::vector<BlockedRow> rows = HalfDeletedRows(count);
  Program program;
  BlockedList& list = program.controller.blocked();
  BlockedWindowView view(program.controller);
  view.show();
  QAbstractItemModel* shown = view.list()->model();
  auto showsRows = [&](int n) {
    while (shown->rowCount() != n) QApplication::processEvents();
  };
  for (auto _ : state) {
    state.PauseTiming();
    // Filled on a worker, as a check fills it: the window takes the rows in one go.
    std::thread([&] { Refill(list, rows); }).join();
    showsRows(count);
    QApplication::processEvents();
    state.ResumeTiming();
    // The button's worker, then the window until it has laid out and painted the rows left.
    std::thread([&] {
      ClearDeletedRows(program.app, list, program.controller.blockedForm());
    }).join();
    showsRows(count / 2);
    QApplication::processEvents();
  }
  state.counters["rows"] = count;
}

BENCHMARK(BmClearHalfModel)
    ->Arg(10000)
    ->Arg(50000)
    ->Arg(100000)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK(BmClearHalfWindow)
    ->Arg(10000)
    ->Arg(50000)
    ->Arg(100000)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

}  // namespace
}  // namespace pansift

int main(int argc, char** argv) {
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  QApplication app(argc, argv);
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
