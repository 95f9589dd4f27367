// The pool that runs the tasks of the scan-and-check task: crawl tasks in the
// pre-read phase, check batches in the check phase. One pool lives from start-up
// to exit; the controller only changes its maximum between phases.
//
// Core workers (the minimum) start with the pool and wait for tasks without limit.
// When more work waits than workers run, a manager thread starts extra workers up
// to the maximum; an extra worker that finds no task for the idle time-out (measured
// on the pool's clock) ends. A task that throws ends alone: the exception is
// reported and its worker takes the next task.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string_view>
#include <thread>
#include <vector>

#include "core/worker_threads.h"

namespace pansift {

struct AppState;
class Clock;

class WorkerPool {
 public:
  /// A task's routine, called with the two integers it was posted with.
  using Routine = std::function<void(std::int32_t a, std::int32_t b)>;

  static constexpr int kDefaultMinThreads = 1;
  static constexpr int kDefaultMaxThreads = 10;
  static constexpr std::chrono::milliseconds kDefaultIdleTimeout{10000};

  /// Starts the core workers and the manager. `report` hears of every task that
  /// ends by an exception.
  explicit WorkerPool(Clock& clock, int minThreads = kDefaultMinThreads,
                      int maxThreads = kDefaultMaxThreads,
                      std::chrono::milliseconds idleTimeout = kDefaultIdleTimeout,
                      WorkerFailureReport report = {});
  WorkerPool(const WorkerPool&) = delete;
  WorkerPool& operator=(const WorkerPool&) = delete;
  /// Drops the tasks not yet taken, waits for the running ones and ends every thread.
  ~WorkerPool();

  /// Appends a task; `name` (UTF-8, a literal: it is kept as a pointer) says what it is
  /// when it fails. False without a routine or once the pool is shutting down.
  bool post(Routine routine, std::int32_t a, std::int32_t b, const char* name = "");
  /// Maximum threads := max(n, 1). Running workers are never ended by a lower maximum.
  void setMaxThreads(int n);

  int queuedCount() const { return queued_.load(); }
  int busyCount() const { return busy_.load(); }
  int threadCount() const { return threads_.load(); }
  int maxThreads() const { return maxThreads_.load(); }
  /// No task waits and none runs.
  bool isIdle() const { return queued_.load() == 0 && busy_.load() == 0; }

 private:
  struct Task {
    Routine routine;
    std::int32_t a = 0;
    std::int32_t b = 0;
    const char* name = "";
  };
  struct Worker {
    std::thread thread;
    bool ended = false;  // an extra worker that left its loop and only returns now
  };

  void workerLoop(std::uint64_t id, bool extra);
  void managerLoop();
  /// Whether more workers are allowed and needed.
  bool wantsWorker() const;
  void wakeManager();
  /// Starts one worker thread; false when the thread could not be made. mutex_ held.
  bool startWorker(bool extra);
  /// Joins extra workers that have ended. mutex_ held; allocates nothing.
  void joinEnded();

  Clock& clock_;
  const WorkerFailureReport report_;
  const int minThreads_;
  const std::chrono::milliseconds idleTimeout_;

  std::atomic<int> queued_{0};
  std::atomic<int> busy_{0};
  std::atomic<int> threads_{0};
  std::atomic<int> maxThreads_;

  mutable std::mutex mutex_;
  std::condition_variable taskReady_;
  std::condition_variable managerWake_;
  std::deque<Task> tasks_;
  bool running_ = true;
  bool managerWoken_ = false;
  std::map<std::uint64_t, Worker> workers_;
  std::uint64_t nextWorkerId_ = 0;
  std::thread manager_;
};

/// The process's pool (AppState::workerPool): made at start-up with 1 to 10 threads
/// and a 10 s idle time-out on the platform's clock; made here when still missing.
WorkerPool& CreateWorkerPool(AppState& app);

}  // namespace pansift
