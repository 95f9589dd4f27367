#include "pipeline/worker_pool.h"

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <new>
#include <set>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "core/app_state.h"
#include "core/headless_platform.h"
#include "support/temp_dir.h"
#include "util/clock.h"
#include "util/codepage.h"

namespace pansift {
namespace {

using namespace std::chrono_literals;

// Lets tests hold pool tasks until they are released.
class Gate {
 public:
  void wait() {
    std::unique_lock lock(mutex_);
    ++waiting_;
    changed_.notify_all();
    changed_.wait(lock, [this] { return open_; });
    --waiting_;
  }
  void open() {
    std::lock_guard lock(mutex_);
    open_ = true;
    changed_.notify_all();
  }
  bool waitForWaiting(int n) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, 30s, [&] { return waiting_ >= n; });
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  int waiting_ = 0;
  bool open_ = false;
};

// Waits (a guard against a hang, not a timing) until `done()` holds.
template <class Pred>
bool Eventually(Pred done) {
  for (int i = 0; i < 30000 && !done(); ++i) std::this_thread::sleep_for(1ms);
  return done();
}

TEST(WorkerPool, RunsTasksInOrderWithTheirArgumentsAndCountsThem) {
  FakeClock clock;
  WorkerPool pool(clock, 1, 1);
  EXPECT_EQ(pool.threadCount(), 1);
  EXPECT_TRUE(pool.isIdle());

  Gate gate;
  std::mutex mutex;
  std::vector<std::pair<int, int>> ran;
  ASSERT_TRUE(pool.post([&](std::int32_t, std::int32_t) { gate.wait(); }, 0, 0));
  ASSERT_TRUE(gate.waitForWaiting(1));
  for (int i = 1; i <= 3; ++i) {
    ASSERT_TRUE(pool.post(
        [&](std::int32_t a, std::int32_t b) {
          std::lock_guard lock(mutex);
          ran.emplace_back(a, b);
        },
        i, -i));
  }
  // One task in hand, three waiting; one worker only.
  EXPECT_EQ(pool.busyCount(), 1);
  EXPECT_EQ(pool.queuedCount(), 3);
  EXPECT_FALSE(pool.isIdle());
  EXPECT_FALSE(pool.post({}, 0, 0));

  gate.open();
  ASSERT_TRUE(Eventually([&] { return pool.isIdle(); }));
  EXPECT_EQ(ran, (std::vector<std::pair<int, int>>{{1, -1}, {2, -2}, {3, -3}}));
  EXPECT_EQ(pool.threadCount(), 1);
}

TEST(WorkerPool, NeverLooksIdleWhileATaskIsPostedOrRunning) {
  FakeClock clock;
  WorkerPool pool(clock, 1, 4);
  std::atomic<int> idleInside{0};
  for (int i = 0; i < 2000; ++i) {
    std::atomic<bool> finished{false};
    ASSERT_TRUE(pool.post(
        [&](std::int32_t, std::int32_t) {
          if (pool.isIdle()) ++idleInside;
          finished = true;
        },
        i, 0));
    // Idle only once the routine has returned: read the pool first, then the task.
    for (;;) {
      bool idle = pool.isIdle();
      bool done = finished.load();
      ASSERT_TRUE(!idle || done) << "task " << i;
      if (idle) break;
    }
  }
  EXPECT_EQ(idleInside.load(), 0);
}

TEST(WorkerPool, GrowsToTheMaximumAndExtraWorkersEndAfterTheIdleTimeout) {
  FakeClock clock;
  WorkerPool pool(clock, 1, 3, 10000ms);
  Gate gate;
  for (int i = 0; i < 5; ++i) pool.post([&](std::int32_t, std::int32_t) { gate.wait(); }, i, 0);
  // Three run at once, never more; the other two wait.
  ASSERT_TRUE(gate.waitForWaiting(3));
  EXPECT_EQ(pool.threadCount(), 3);
  EXPECT_EQ(pool.busyCount(), 3);
  EXPECT_EQ(pool.queuedCount(), 2);

  // A higher maximum lets the manager add workers for the waiting tasks.
  pool.setMaxThreads(5);
  ASSERT_TRUE(gate.waitForWaiting(5));
  EXPECT_EQ(pool.threadCount(), 5);

  // A lower maximum ends nobody; extra workers leave only when idle long enough.
  pool.setMaxThreads(0);
  EXPECT_EQ(pool.maxThreads(), 1);
  gate.open();
  ASSERT_TRUE(Eventually([&] { return pool.isIdle(); }));
  clock.advance(9000ms);
  std::this_thread::sleep_for(100ms);
  EXPECT_EQ(pool.threadCount(), 5);
  clock.advance(1000ms);
  ASSERT_TRUE(Eventually([&] { return pool.threadCount() == 1; }));

  // The core worker stays and still runs tasks.
  std::atomic<bool> ran{false};
  pool.post([&](std::int32_t, std::int32_t) { ran = true; }, 0, 0);
  ASSERT_TRUE(Eventually([&] { return ran.load() && pool.isIdle(); }));
  EXPECT_EQ(pool.threadCount(), 1);
}

TEST(WorkerPool, DestructionDropsWaitingTasksAndWaitsForRunningOnes) {
  FakeClock clock;
  std::atomic<int> ran{0};
  Gate gate;
  std::thread opener;
  {
    WorkerPool pool(clock, 1, 1);
    pool.post(
        [&](std::int32_t, std::int32_t) {
          gate.wait();
          ++ran;
        },
        0, 0);
    ASSERT_TRUE(gate.waitForWaiting(1));
    pool.post([&](std::int32_t, std::int32_t) { ran += 100; }, 0, 0);
    opener = std::thread([&] {
      std::this_thread::sleep_for(50ms);
      gate.open();
    });
  }
  opener.join();
  EXPECT_EQ(ran.load(), 1);
}

// A task that throws ends alone: it is reported with its name and what(), its
// worker is counted free again, and the next tasks run on the same workers.
TEST(WorkerPool, ATaskThatThrowsIsReportedAndTheNextTasksRun) {
  FakeClock clock;
  std::mutex mutex;
  std::multiset<std::string> reports;
  WorkerPool pool(clock, 1, 2, 10000ms, [&](std::string_view name, std::string_view what) {
    std::lock_guard lock(mutex);
    reports.insert(std::string(name) + ": " + std::string(what));
  });
  std::atomic<int> ran{0};
  for (int i = 0; i < 4; ++i) {
    ASSERT_TRUE(
        pool.post([](std::int32_t, std::int32_t) { throw std::bad_alloc(); }, i, 0, "检查批次"));
    ASSERT_TRUE(
        pool.post([](std::int32_t a,
                     std::int32_t) { throw std::runtime_error("range " + std::to_string(a)); },
                  i, 0, "预读目录"));
    ASSERT_TRUE(pool.post([&](std::int32_t, std::int32_t) { ++ran; }, i, 0));
  }
  ASSERT_TRUE(Eventually([&] { return pool.isIdle(); }));
  EXPECT_EQ(ran.load(), 4);
  std::lock_guard lock(mutex);
  EXPECT_EQ(reports,
            (std::multiset<std::string>{"检查批次: std::bad_alloc", "检查批次: std::bad_alloc",
                                        "检查批次: std::bad_alloc", "检查批次: std::bad_alloc",
                                        "预读目录: range 0", "预读目录: range 1",
                                        "预读目录: range 2", "预读目录: range 3"}));
  EXPECT_GE(pool.threadCount(), 1);
}

TEST(WorkerPool, TheProgramsPoolReportsToTheLogAndTheStatusBar) {
  testing::TempDir dir;
  FakeClock clock;
  HeadlessPlatform platform(&clock);
  AppState app(platform, dir.path());
  WorkerPool& pool = CreateWorkerPool(app);
  pool.post([](std::int32_t, std::int32_t) { throw std::bad_alloc(); }, 0, 50, "检查批次");
  ASSERT_TRUE(Eventually([&] { return pool.isIdle(); }));
  const std::string shown = "后台任务“检查批次”出错，已中止：std::bad_alloc";
  EXPECT_EQ(LocalToUtf8(app.status.text()), shown);
  EXPECT_NE(LocalToUtf8(app.log.text()).find(shown), std::string::npos);
  std::atomic<bool> ran{false};
  pool.post([&](std::int32_t, std::int32_t) { ran = true; }, 0, 0);
  EXPECT_TRUE(Eventually([&] { return ran.load() && pool.isIdle(); }));
}

}  // namespace
}  // namespace pansift
