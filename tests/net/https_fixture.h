// A real HTTPS server on 127.0.0.1 for the transport tests, with the handlers the
// tests need and a record of what each request carried.
#pragma once

#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "https_server.h"
#include "support/temp_dir.h"

namespace pansift::testing {

struct SeenRequest {
  std::string method;
  std::string path;
  std::string body;
  /// Header names exactly as sent, in the server's order.
  std::vector<std::pair<std::string, std::string>> headers;

  int count(const std::string& name) const;
  /// The value of the only header of that name (compared with case), "" otherwise.
  std::string value(const std::string& name) const;
  bool hasNameIgnoringCase(const std::string& name) const;
};

class TestServer {
 public:
  /// A server whose certificate names 127.0.0.1 (or only `dnsName` when given).
  explicit TestServer(const std::string& dnsName = "");
  ~TestServer();

  bool started() const { return started_; }
  std::string url(const std::string& path) const { return server_->origin() + path; }
  /// The PEM file of the server's certificate, for PANSIFT_CA_FILE.
  const std::string& caFile() const { return caFile_; }

  std::vector<SeenRequest> seen();
  void clearSeen();
  /// Lets the /slow requests held so far finish.
  void releaseSlow();

 private:
  void record(const httplib::Request& request);

  TempDir dir_;
  std::string caFile_;
  std::unique_ptr<sim::HttpsServer> server_;
  bool started_ = false;
  std::mutex mutex_;
  std::condition_variable slowReleased_;
  int slowGeneration_ = 0;
  std::vector<SeenRequest> seen_;
};

/// The long text /gzip serves.
std::string GzipText();

}  // namespace pansift::testing
