// A test that drives the simulator fails when the service rejected one of its
// requests, naming the request, whatever the test itself looked at; a test that
// sends malformed requests on purpose says so and passes.
#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>

#include "net/http.h"
#include "support/sim_app.h"

namespace pansift {
namespace {

// A download without most of its keys, as a broken client might send it.
void SendMalformed(const testing::SimApp& env) {
  HttpRequest request;
  request.url = env.sim.netdiskOrigin() + "/api/download?clienttype=0";
  SendRequest(request);
}

TEST(SimServiceCheck, ARejectedRequestFailsTheTestThatSentIt) {
  EXPECT_NONFATAL_FAILURE(
      {
        testing::SimApp env;
        SendMalformed(env);
      },
      "GET /api/download?clienttype=0: missing key app_id");

  testing::SimApp env;
  ASSERT_TRUE(env.started);
  env.service.rejectionsExpected = true;
  SendMalformed(env);
  EXPECT_EQ(env.sim.log().rejected(), 1u);
}

// Clearing the log between steps hides nothing from the check.
TEST(SimServiceCheck, AClearedLogStillNamesEveryRejection) {
  EXPECT_NONFATAL_FAILURE(
      {
        testing::SimApp env;
        SendMalformed(env);
        env.sim.log().clear();
        EXPECT_EQ(env.sim.log().rejected(), 0u);
      },
      "missing key app_id");
}

}  // namespace
}  // namespace pansift
