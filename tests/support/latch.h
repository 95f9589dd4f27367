// Holding a worker at a chosen point until the test lets it go on.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace pansift::testing {

/// Holds the threads that reach it until the test opens it.
class Latch {
 public:
  void arriveAndWait() {
    std::unique_lock lock(mutex_);
    arrived_ = true;
    changed_.notify_all();
    changed_.wait(lock, [this] { return open_; });
  }
  bool waitForArrival() {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, std::chrono::seconds(60), [this] { return arrived_; });
  }
  void open() {
    std::lock_guard lock(mutex_);
    open_ = true;
    changed_.notify_all();
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  bool arrived_ = false;
  bool open_ = false;
};

}  // namespace pansift::testing
