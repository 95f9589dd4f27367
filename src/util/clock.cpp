#include "util/clock.h"

#include <thread>

namespace pansift {

void SystemClock::sleepFor(std::chrono::milliseconds duration) {
  if (duration.count() > 0) std::this_thread::sleep_for(duration);
}

SystemClock& SystemClock::instance() {
  static SystemClock clock;
  return clock;
}

void FakeClock::sleepFor(std::chrono::milliseconds duration) {
  if (duration.count() <= 0) return;
  elapsedMs_ += duration.count();
  sleptMs_ += duration.count();
  // Let other threads run, as a real sleep would.
  std::this_thread::yield();
}

}  // namespace pansift
