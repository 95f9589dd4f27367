#include "core/worker_threads.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <thread>

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

}  // namespace
}  // namespace pansift
