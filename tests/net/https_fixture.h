// A real HTTPS server on 127.0.0.1 for the transport tests, with the handlers the
// tests need and a record of what each request carried.
#pragma once

#include <stdlib.h>

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
  /// The client's end of the connection it came on.
  int clientPort = -1;

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
  int port() const { return server_->port(); }
  std::string url(const std::string& path) const { return server_->origin() + path; }
  /// The PEM file of the server's certificate, for PANSIFT_CA_FILE.
  const std::string& caFile() const { return caFile_; }

  std::vector<SeenRequest> seen();
  void clearSeen();
  /// Lets the /slow requests held so far finish.
  void releaseSlow();
  /// Waits until a /slow request is held since the last release; false if none came
  /// in a generous while.
  bool waitForSlow();

 private:
  void record(const httplib::Request& request);

  TempDir dir_;
  std::string caFile_;
  std::unique_ptr<sim::HttpsServer> server_;
  bool started_ = false;
  std::mutex mutex_;
  std::condition_variable slowReleased_;
  int slowGeneration_ = 0;
  int slowHeld_ = 0;  // requests held since the last release
  std::condition_variable slowArrived_;
  std::vector<SeenRequest> seen_;
};

/// The PANSIFT_CA_FILE setting for the length of one scope ("" for none).
class ScopedCaFile {
 public:
  explicit ScopedCaFile(const std::string& path) {
    if (const char* old = getenv("PANSIFT_CA_FILE")) old_ = old, hadOld_ = true;
    if (path.empty()) {
      unsetenv("PANSIFT_CA_FILE");
    } else {
      setenv("PANSIFT_CA_FILE", path.c_str(), 1);
    }
  }
  ~ScopedCaFile() {
    if (hadOld_) {
      setenv("PANSIFT_CA_FILE", old_.c_str(), 1);
    } else {
      unsetenv("PANSIFT_CA_FILE");
    }
  }
  ScopedCaFile(const ScopedCaFile&) = delete;
  ScopedCaFile& operator=(const ScopedCaFile&) = delete;

 private:
  std::string old_;
  bool hadOld_ = false;
};

/// The long text /gzip serves.
std::string GzipText();

/// Whether this machine has an established TCP connection from 127.0.0.1:clientPort
/// to 127.0.0.1:serverPort, as the client's socket sees it (/proc/net/tcp): a
/// connection the client has closed is no longer established at its end.
bool ClientConnectionOpen(int clientPort, int serverPort);

}  // namespace pansift::testing
