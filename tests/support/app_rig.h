// A headless program on a data folder of its own: what most tests below the window
// start from.
#pragma once

#include "core/app_state.h"
#include "core/headless_platform.h"
#include "support/temp_dir.h"
#include "util/clock.h"

namespace pansift::testing {

/// The data folder, a clock, a platform on that clock and the shared record, made in
/// that order and ended in the reverse. A test that needs to act at a wait or on a
/// prompt brings its own clock or platform (one constructed from a `Clock*`).
template <class TestClock = FakeClock, class TestPlatform = HeadlessPlatform>
struct BasicAppRig {
  TempDir dir;
  TestClock clock;
  TestPlatform platform{&clock};
  AppState app{platform, dir.path()};
};

/// Waits pass at once; prompts are answered from the platform's script or time out.
using AppRig = BasicAppRig<>;

}  // namespace pansift::testing
