// A running netdisk simulator and an AppState pointed at it, for tests of
// everything that talks to the service.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "core/app_state.h"
#include "core/headless_platform.h"
#include "net/http.h"
#include "simulator.h"
#include "support/app_rig.h"
#include "util/clock.h"

namespace pansift::testing {

/// A started simulator whose certificate the program trusts.
struct SimService {
  explicit SimService(sim::SimulatorOptions options = {}) : sim(options) {
    started = sim.start();
    // Trust the simulator's self-signed certificate like an extra CA.
    setenv("PANSIFT_CA_FILE", sim.caFile().c_str(), 1);
  }
  // The program keeps connections open for reuse; the simulator's stop would wait
  // for each of them to time out. Every request the program sent must have been
  // one the service takes, whatever the test looked at.
  ~SimService() {
    CloseIdleConnections();
    if (!rejectionsExpected) {
      EXPECT_EQ(sim.log().rejections(), std::vector<std::string>{});
    }
  }
  SimService(const SimService&) = delete;
  SimService& operator=(const SimService&) = delete;
  /// Points `app` at the simulator's origins.
  void point(AppState& app) const {
    app.origins.netdisk = sim.netdiskOrigin();
    app.origins.passport = sim.passportOrigin();
    app.origins.portal = sim.portalOrigin();
  }

  sim::Simulator sim;
  bool started = false;
  /// Set by a test that sends requests the service rejects on purpose.
  bool rejectionsExpected = false;
};

/// The simulator and a headless program pointed at it (BasicAppRig), the simulator
/// made first and stopped last. A test that acts at a wait or on a prompt brings its
/// own clock or platform.
template <class TestClock = FakeClock, class TestPlatform = HeadlessPlatform>
class BasicSimApp : public SimService, public BasicAppRig<TestClock, TestPlatform> {
 public:
  explicit BasicSimApp(sim::SimulatorOptions options = {}) : SimService(options) {
    point(this->app);
  }

  SimService& service = *this;
};

using SimApp = BasicSimApp<>;

}  // namespace pansift::testing
