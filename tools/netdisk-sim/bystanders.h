// Two listeners that are not the service: a foreign https host and a plain-http
// one. Redirect faults send clients to them; they log every request they get
// (cookies included), so a test can prove a login never reached them.
#pragma once

#include <memory>
#include <string>

#include "https_server.h"
#include "request_log.h"

namespace pansift::sim {

class Bystanders {
 public:
  explicit Bystanders(RequestLog& log) : log_(log) {}
  ~Bystanders() { stop(); }
  Bystanders(const Bystanders&) = delete;
  Bystanders& operator=(const Bystanders&) = delete;

  /// Starts both on free ports of 127.0.0.1; false when one cannot bind.
  bool start(const Certificate& certificate);
  void stop();
  /// "https://localhost:<port>": another host name than the service's origins.
  std::string foreignOrigin() const;
  /// "http://127.0.0.1:<port>"
  std::string plainHttpOrigin() const;

 private:
  void serve(HttpsServer& server, Origin origin);

  RequestLog& log_;
  std::unique_ptr<HttpsServer> foreign_;
  std::unique_ptr<HttpsServer> plain_;
};

}  // namespace pansift::sim
