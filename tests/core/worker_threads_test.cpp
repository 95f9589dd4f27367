#include "core/worker_threads.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <new>
#include <stdexcept>
#include <string>
#include <thread>

#include "core/app_state.h"
#include "core/headless_platform.h"
#include "support/temp_dir.h"
#include "util/codepage.h"

namespace pansift {
namespace {

TEST(WorkerThreads, WaitAllWaitsForEveryWorkerIncludingThoseStartedByWorkers) {
  WorkerThreads workers;
  std::atomic<int> done{0};
  for (int i = 0; i < 8; ++i) {
    workers.start([&] {
      // A worker that starts another one, as an action that hands on work does.
      workers.start([&] { ++done; });
      ++done;
    });
  }
  workers.waitAll();
  EXPECT_EQ(done.load(), 16);
  EXPECT_EQ(workers.running(), 0);
}

TEST(WorkerThreads, WaitAllForGivesUpWhileAWorkerIsBusy) {
  WorkerThreads workers;
  std::promise<void> release;
  std::shared_future<void> released = release.get_future().share();
  std::atomic<bool> finished{false};
  workers.start([released, &finished] {
    released.wait();
    finished = true;
  });
  EXPECT_FALSE(workers.waitAllFor(std::chrono::milliseconds(1)));
  EXPECT_EQ(workers.running(), 1);
  release.set_value();
  while (!workers.waitAllFor(std::chrono::milliseconds(10))) {
  }
  EXPECT_TRUE(finished.load());
  EXPECT_EQ(workers.running(), 0);
}

TEST(WorkerThreads, DestructionWaitsForTheWorkers) {
  std::atomic<int> done{0};
  {
    WorkerThreads workers;
    for (int i = 0; i < 4; ++i) {
      workers.start([&done] {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        ++done;
      });
    }
  }
  EXPECT_EQ(done.load(), 4);
}

// Work that throws ends alone: the process lives, the log and the status bar say
// which work failed and why, and the next work runs on the same set of threads.
TEST(WorkerThreads, WorkThatThrowsIsReportedAndTheNextWorkRuns) {
  struct Case {
    const char* what;
    std::function<void()> failure;
    const char* name;   // UTF-8
    std::string shown;  // UTF-8, the status bar and the end of the log line
  };
  const Case cases[] = {
      {"out of memory", [] { throw std::bad_alloc(); }, "导入表格数据",
       "后台任务“导入表格数据”出错，已中止：std::bad_alloc"},
      {"a runtime error whose text is awkward",
       [] { throw std::runtime_error("磁盘 &amp; \"满\" \\u0031 \U0001F600"); },
       "清除已删除成功列表",
       "后台任务“清除已删除成功列表”出错，已中止：磁盘 &amp; \"满\" \\u0031 ?"},
      {"not a std::exception", [] { throw 42; }, "", "后台任务出错，已中止：unknown exception"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    testing::TempDir dir;
    HeadlessPlatform platform;
    AppState app{platform, dir.path()};
    WorkerThreads workers(ReportToLog(app));
    EXPECT_TRUE(workers.start(c.failure, c.name));
    workers.waitAll();
    EXPECT_EQ(workers.running(), 0);
    EXPECT_EQ(LocalToUtf8(app.status.text()), c.shown);
    const std::string log = LocalToUtf8(app.log.text());
    EXPECT_EQ(log.substr(log.find(' ') + 1), c.shown + "\r\n");

    std::atomic<int> ran{0};
    EXPECT_TRUE(workers.start([&ran] { ++ran; }, "next"));
    workers.waitAll();
    EXPECT_EQ(ran.load(), 1);
  }
}

TEST(WorkerThreads, AReportThatFailsTooDoesNotEndTheProcess) {
  std::atomic<int> reports{0};
  WorkerThreads workers([&reports](std::string_view, std::string_view) {
    ++reports;
    throw std::bad_alloc();  // no memory left to report with either
  });
  workers.start([] { throw std::runtime_error("first"); });
  workers.waitAll();
  std::atomic<int> ran{0};
  workers.start([&ran] { ++ran; });
  workers.waitAll();
  EXPECT_EQ(reports.load(), 1);
  EXPECT_EQ(ran.load(), 1);
}

}  // namespace
}  // namespace pansift
