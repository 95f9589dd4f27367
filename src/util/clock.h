// Every wait and time-out of the program goes through a Clock, so that tests of
// retry rules (ten tries 2 500 ms apart, 30 s pauses) run in milliseconds.
#pragma once

#include <atomic>
#include <chrono>

namespace pansift {

class Clock {
 public:
  using TimePoint = std::chrono::steady_clock::time_point;
  virtual ~Clock() = default;
  virtual TimePoint now() = 0;
  virtual void sleepFor(std::chrono::milliseconds duration) = 0;
};

/// The real clock: steady time and real sleeps.
class SystemClock final : public Clock {
 public:
  TimePoint now() override { return std::chrono::steady_clock::now(); }
  void sleepFor(std::chrono::milliseconds duration) override;
  static SystemClock& instance();
};

/// A clock for tests: sleeping advances the time at once. Thread-safe.
class FakeClock final : public Clock {
 public:
  TimePoint now() override { return TimePoint(std::chrono::milliseconds(elapsedMs_.load())); }
  void sleepFor(std::chrono::milliseconds duration) override;
  void advance(std::chrono::milliseconds duration) { elapsedMs_ += duration.count(); }
  /// Total time slept through this clock, in milliseconds.
  long long sleptMs() const { return sleptMs_.load(); }

 private:
  std::atomic<long long> elapsedMs_{0};
  std::atomic<long long> sleptMs_{0};
};

}  // namespace pansift
