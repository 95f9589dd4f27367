// Threads that run one action each (add an account, validate, list a folder) and
// end by themselves. Nobody waits for them while the program runs, but tests and
// shutdown must be able to: each thread is kept until it has ended and been joined.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

namespace pansift {

class WorkerThreads {
 public:
  WorkerThreads() = default;
  WorkerThreads(const WorkerThreads&) = delete;
  WorkerThreads& operator=(const WorkerThreads&) = delete;
  /// Waits for every thread (waitAll).
  ~WorkerThreads();

  /// Runs `work` on a new thread and returns at once. Threads that have ended are
  /// joined here, so the set never grows beyond the threads still running. A worker
  /// may start further workers.
  void start(std::function<void()> work);

  /// Waits until no thread runs, including threads started meanwhile, and joins them.
  /// Not from one of these threads.
  void waitAll();
  /// Like waitAll, but gives up after `timeout`; true when no thread runs any more.
  /// Lets a UI thread keep its events flowing between waits.
  bool waitAllFor(std::chrono::milliseconds timeout);

  /// The threads that have started and not yet ended.
  int running() const;

 private:
  /// Takes the threads that have ended out of the set, for joining; mutex_ held.
  std::vector<std::thread> takeFinished();

  mutable std::mutex mutex_;
  std::condition_variable idle_;
  std::map<std::uint64_t, std::thread> threads_;
  std::vector<std::uint64_t> finished_;
  std::uint64_t nextId_ = 0;
  int running_ = 0;
};

}  // namespace pansift
