// An HTTPS server on 127.0.0.1 for tests and the simulator: a self-signed
// certificate made at start-up, an ephemeral port, start and stop that wait.
#pragma once

#include <httplib.h>

#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace pansift::sim {

struct Certificate {
  std::string certPem;
  std::string keyPem;
};

/// A fresh self-signed certificate (RSA 2048, SHA-256) valid for the given host
/// names and IP addresses.
Certificate MakeSelfSignedCertificate(const std::vector<std::string>& dnsNames = {"localhost"},
                                      const std::vector<std::string>& ipAddresses = {"127.0.0.1"});

/// Writes `text` to `path`; false on failure.
bool WriteTextFile(const std::string& path, const std::string& text);

class HttpsServer {
 public:
  explicit HttpsServer(const Certificate& certificate);
  /// A plain-HTTP server (for tests that must see what a client sends in clear).
  HttpsServer();
  ~HttpsServer();
  HttpsServer(const HttpsServer&) = delete;
  HttpsServer& operator=(const HttpsServer&) = delete;

  /// Register handlers here before start().
  httplib::Server& http() { return *server_; }

  /// Binds 127.0.0.1 (port 0: any free port) and serves on a thread; returns once
  /// the server accepts connections. False when binding failed.
  bool start(int port = 0);
  void stop();
  int port() const { return port_; }
  /// "https://127.0.0.1:<port>" ("http://" for a plain server)
  std::string origin() const;

 private:
  std::unique_ptr<httplib::Server> server_;
  bool secure_ = true;
  std::thread thread_;
  int port_ = 0;
};

}  // namespace pansift::sim
