// A plain HTTPS client for the simulator's own tests: sends targets exactly as
// written (no encoding, no redirects) and trusts the simulator's certificate.
// SimTest, the fixture they share, ends each test with the check that the
// simulator rejected nothing.
#pragma once

#include <gtest/gtest.h>
#include <httplib.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "simulator.h"

namespace pansift::sim::testing {

/// A simulator for one test. A request it rejects fails the test, unless the test
/// sends malformed requests on purpose and says so with expectRejections().
class SimTest : public ::testing::Test {
 protected:
  void TearDown() override {
    if (!rejectionsExpected_) {
      EXPECT_EQ(sim.log().rejections(), std::vector<std::string>{});
    }
  }
  void expectRejections() { rejectionsExpected_ = true; }

  Simulator sim;

 private:
  bool rejectionsExpected_ = false;
};

struct HttpReply {
  bool ok = false;  // a reply arrived
  int status = 0;
  std::string body;
  httplib::Headers headers;

  std::string header(const std::string& name) const {
    auto it = headers.find(name);
    return it == headers.end() ? std::string() : it->second;
  }
  bool has(const std::string& marker) const { return body.find(marker) != std::string::npos; }
};

class SimClient {
 public:
  SimClient(const std::string& origin, const std::string& caFile)
      : client_(hostOf(origin), portOf(origin)) {
    client_.set_ca_cert_path(caFile);
    client_.enable_server_certificate_verification(true);
    client_.set_url_encode(false);
    client_.set_follow_location(false);
    client_.set_read_timeout(20, 0);
  }

  HttpReply get(const std::string& target, const std::string& cookies = {}) {
    return convert(client_.Get(target.c_str(), headers(cookies)));
  }
  /// A POST with the form's Content-Type, or another one ("": none).
  HttpReply post(const std::string& target, const std::string& body,
                 const std::string& cookies = {},
                 const std::string& contentType = "application/x-www-form-urlencoded") {
    return convert(client_.Post(target.c_str(), headers(cookies), body, contentType));
  }

  static std::string hostOf(const std::string& origin) {
    size_t start = origin.find("://") + 3;
    return origin.substr(start, origin.rfind(':') - start);
  }
  static int portOf(const std::string& origin) {
    return std::atoi(origin.c_str() + origin.rfind(':') + 1);
  }

 private:
  static httplib::Headers headers(const std::string& cookies) {
    httplib::Headers h;
    if (!cookies.empty()) h.emplace("Cookie", cookies);
    return h;
  }
  static HttpReply convert(const httplib::Result& result) {
    HttpReply r;
    if (!result) return r;
    r.ok = true;
    r.status = result->status;
    r.body = result->body;
    r.headers = result->headers;
    return r;
  }

  httplib::SSLClient client_;
};

// Request targets in the shapes the program sends.
inline std::string ListTarget(const std::string& dir, int page = 1, int num = 100,
                              const std::string& order = "time", const std::string& desc = "1") {
  return "/api/list?order=" + order + "&desc=" + desc +
         "&showempty=0&web=1&page=" + std::to_string(page) + "&num=" + std::to_string(num) +
         "&dir=" + dir +
         "&t=0.9874196068828893&channel=chunlei&web=1&app_id=250528&bdstoken=&clienttype=0";
}
inline std::string FollowListTarget() {
  return "/mbox/relation/"
         "getfollowlist?clienttype=0&app_id=250528&web=1&dp-logid=1234567890123456&start=0&limit="
         "10";
}
inline std::string TemplateTarget() {
  return "/api/gettemplatevariable?clienttype=0&app_id=250528&web=1&dp-logid=1234567890123456"
         "&fields=[%22sign1%22,%22sign2%22,%22sign3%22,%22timestamp%22]";
}
inline std::string DownloadTarget(const std::string& fidsEncoded, const std::string& signEncoded,
                                  const std::string& timestamp) {
  return "/api/download?clienttype=0&app_id=250528&web=1&dp-logid=1234567890123456&fidlist=%5B" +
         fidsEncoded + "%5D&type=dlink&vip=0&sign=" + signEncoded + "&timestamp=" + timestamp;
}
inline std::string DeleteTarget(const std::string& bdstoken, const std::string& async = "0") {
  return "/api/filemanager?async=" + async + "&onnest=fail&opera=delete&bdstoken=" + bdstoken +
         "&clienttype=0&app_id=250528&web=1&dp-logid=47999500603863712345";
}
inline std::string MoveTarget(const std::string& bdstoken) {
  return "/api/filemanager?async=0&onnest=fail&opera=move&bdstoken=" + bdstoken +
         "&clienttype=0&app_id=250528&web=1&dp-logid=1234567890123456";
}
inline std::string CreateTarget(const std::string& bdstoken) {
  return "/api/create?a=commit&bdstoken=" + bdstoken +
         "&clienttype=0&app_id=250528&web=1&dp-logid=1234567890123456";
}
inline std::string DeleteBody(const std::string& encodedPath) {
  return "filelist=%5B%22" + encodedPath + "%22%5D";
}
inline std::string MoveBody(const std::string& encodedPath, const std::string& encodedDest,
                            const std::string& encodedName) {
  return "filelist=%5B%7B%22path%22%3A%22" + encodedPath + "%22%2C%22dest%22%3A%22" + encodedDest +
         "%22%2C%22ondup%22%3A%22newcopy%22%2C%22newname%22%3A%22" + encodedName + "%22%7D%5D";
}

}  // namespace pansift::sim::testing
