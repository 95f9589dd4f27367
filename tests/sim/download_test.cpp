// The simulated download endpoint: the probe's query keys in their order, the
// pairing of each sign with its own fetch's timestamp, and the answers it can be
// told to give in place of the sign check.
#include <gtest/gtest.h>

#include "codec.h"
#include "sim_client.h"
#include "simulator.h"

namespace pansift::sim {
namespace {

using testing::HttpReply;
using testing::SimClient;

class SimDownload : public testing::SimTest {
 protected:
  void SetUp() override {
    ASSERT_TRUE(sim.start());
    client = std::make_unique<SimClient>(sim.netdiskOrigin(), sim.caFile());
    cookies = sim.addAccount({.userName = "prober"});
    plain = std::to_string(sim.addFile("prober", "/a.txt", 1));
  }
  struct Sign {
    std::string sign;  // encoded
    std::string timestamp;
  };
  Sign fetch() {
    JsonValue v;
    EXPECT_TRUE(ParseJson(client->get(testing::TemplateTarget(), cookies).body, v));
    const JsonValue* result = v.get("result");
    if (!result) return {};
    return {PercentEncode(ComputeSign(result->string("sign3"), result->string("sign1"))),
            result->string("timestamp")};
  }
  HttpReply download(const Sign& s) {
    return client->get(testing::DownloadTarget(plain, s.sign, s.timestamp), cookies);
  }

  std::unique_ptr<SimClient> client;
  std::string cookies, plain;
};

TEST_F(SimDownload, QueryKeysMustComeInTheProgramsOrder) {
  expectRejections();  // sends requests the service refuses
  Sign s = fetch();
  const std::string tail =
      "&fidlist=%5B" + plain + "%5D&type=dlink&vip=0&sign=" + s.sign + "&timestamp=" + s.timestamp;
  struct Case {
    const char* what;
    std::string target;
    const char* why;  // "" when accepted
  } cases[] = {
      {"as sent", "/api/download?clienttype=0&app_id=250528&web=1&dp-logid=1234567890123456" + tail,
       ""},
      {"swapped", "/api/download?app_id=250528&clienttype=0&web=1&dp-logid=1234567890123456" + tail,
       "key clienttype out of order: 'app_id' at position 1"},
      {"missing", "/api/download?clienttype=0&app_id=250528&dp-logid=1234567890123456" + tail,
       "missing key web"},
      {"extra",
       "/api/download?clienttype=0&app_id=250528&web=1&dp-logid=1234567890123456" + tail + "&x=1",
       "unexpected key x"},
      {"cut", "/api/download?clienttype=0&app_id=250528&web=1&dp-logid=1234567890123456",
       "missing key fidlist"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    HttpReply r = client->get(c.target, cookies);
    EXPECT_EQ(sim.log().last()->rejection, c.why);
    EXPECT_EQ(r.body.rfind(*c.why ? "{\"errno\":2," : "{\"errno\":0,\"request_id", 0), 0u)
        << r.body;
  }
}

TEST_F(SimDownload, EachSignGoesWithItsOwnFetchsTimestamp) {
  expectRejections();  // sends requests the service refuses
  Sign first = fetch();
  Sign second = fetch();
  EXPECT_NE(first.sign, second.sign);
  EXPECT_NE(first.timestamp, second.timestamp);
  EXPECT_TRUE(download(first).has("{\"errno\":0,\"request_id"));
  EXPECT_TRUE(download(second).has("{\"errno\":0,\"request_id"));
  EXPECT_EQ(sim.log().rejected(), 0u);

  HttpReply crossed = download({first.sign, second.timestamp});
  EXPECT_EQ(crossed.body.rfind("{\"errno\":113,\"request_id\":", 0), 0u) << crossed.body;
  EXPECT_EQ(sim.log().last()->rejection, "sign sent with the timestamp of another fetch");
  EXPECT_EQ(sim.log().rejected(), 1u);
}

TEST_F(SimDownload, AnswersInPlaceOfTheSignCheck) {
  Sign s = fetch();
  auto& f = sim.faults().download;
  f.refusedSigns = 1;
  f.unknownReplies = 1;
  f.rateLimitReplies = 1;
  // One of each, in this order, then the real answer.
  HttpReply limited = download(s);
  EXPECT_TRUE(limited.has(R"(\u64cd\u4f5c\u9891\u7387\u592a\u5feb\u4e86)")) << limited.body;
  HttpReply unknown = download(s);
  EXPECT_EQ(unknown.body.rfind("{\"errno\":31045,\"request_id\":", 0), 0u) << unknown.body;
  HttpReply refused = download(s);
  EXPECT_EQ(refused.body.rfind("{\"errno\":112,\"request_id\":", 0), 0u) << refused.body;
  EXPECT_TRUE(download(s).has("{\"errno\":0,\"request_id"));
  EXPECT_EQ(sim.log().rejected(), 0u);
}

}  // namespace
}  // namespace pansift::sim
