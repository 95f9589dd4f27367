// Waiting in a test for something another thread does.
#pragma once

#include <chrono>
#include <thread>

namespace pansift::testing {

/// Polls `done()` until it holds or `limit` has passed; returns `done()`. The limit
/// only guards against a hang: tests never depend on how long it took.
template <class Pred>
bool WaitUntil(Pred done, std::chrono::milliseconds limit = std::chrono::seconds(60)) {
  auto end = std::chrono::steady_clock::now() + limit;
  while (!done() && std::chrono::steady_clock::now() < end)
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  return done();
}

}  // namespace pansift::testing
