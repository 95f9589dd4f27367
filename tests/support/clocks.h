// Test clocks beyond FakeClock (util/clock.h), for tests of work on several threads.
#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <thread>
#include <utility>

#include "util/clock.h"

namespace pansift::testing {

/// A test clock whose sleeps advance at once, and which lets a test act at a
/// chosen wait: the hook sees every sleep (on the sleeping thread) before it returns.
class HookClock final : public Clock {
 public:
  TimePoint now() override { return TimePoint(std::chrono::milliseconds(elapsedMs_.load())); }
  void sleepFor(std::chrono::milliseconds duration) override {
    if (duration.count() > 0) elapsedMs_ += duration.count();
    std::function<void(std::chrono::milliseconds)> hook;
    {
      std::lock_guard lock(mutex_);
      hook = hook_;
    }
    if (hook) hook(duration);
    std::this_thread::yield();
  }
  void setHook(std::function<void(std::chrono::milliseconds)> hook) {
    std::lock_guard lock(mutex_);
    hook_ = std::move(hook);
  }

 private:
  std::atomic<long long> elapsedMs_{0};
  std::mutex mutex_;
  std::function<void(std::chrono::milliseconds)> hook_;
};

/// A test clock for long runs: time advances by the whole wait at once, but each
/// wait also sleeps a twentieth of it for real, so that polling loops (the
/// dispatchers' 20 ms and 100 ms waits) do not spin on a shared machine.
class ScaledClock final : public Clock {
 public:
  TimePoint now() override { return TimePoint(std::chrono::milliseconds(elapsedMs_.load())); }
  void sleepFor(std::chrono::milliseconds duration) override {
    if (duration.count() <= 0) return;
    elapsedMs_ += duration.count();
    std::this_thread::sleep_for(std::chrono::microseconds(duration.count() * 50));
  }

 private:
  std::atomic<long long> elapsedMs_{0};
};

}  // namespace pansift::testing
