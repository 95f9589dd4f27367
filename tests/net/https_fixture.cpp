#include "https_fixture.h"

#include <chrono>
#include <cstdio>
#include <fstream>
#include <sstream>

#include "net/http.h"

namespace pansift::testing {

int SeenRequest::count(const std::string& name) const {
  int count = 0;
  for (const auto& header : headers) count += header.first == name ? 1 : 0;
  return count;
}

std::string SeenRequest::value(const std::string& name) const {
  if (count(name) != 1) return "";
  for (const auto& header : headers) {
    if (header.first == name) return header.second;
  }
  return "";
}

bool SeenRequest::hasNameIgnoringCase(const std::string& name) const {
  for (const auto& header : headers) {
    if (header.first.size() == name.size() &&
        std::equal(name.begin(), name.end(), header.first.begin(),
                   [](char a, char b) { return std::tolower(a) == std::tolower(b); })) {
      return true;
    }
  }
  return false;
}

std::string GzipText() {
  std::string text;
  for (int i = 0; i < 400; ++i) text += "line " + std::to_string(i) + " of a compressible reply\n";
  return text;
}

TestServer::TestServer(const std::string& dnsName) {
  sim::Certificate certificate = dnsName.empty() ? sim::MakeSelfSignedCertificate()
                                                 : sim::MakeSelfSignedCertificate({dnsName}, {});
  caFile_ = dir_.file("ca.pem");
  sim::WriteTextFile(caFile_, certificate.certPem);
  server_ = std::make_unique<sim::HttpsServer>(certificate);
  httplib::Server& http = server_->http();

  auto echo = [this](const httplib::Request& request, httplib::Response& response) {
    record(request);
    response.set_content("cookie=" + request.get_header_value("Cookie"), "text/plain");
  };
  http.Get("/echo", echo);
  http.Post("/echo", echo);
  http.Put("/echo", echo);
  http.Get("/redirect", [this](const httplib::Request& request, httplib::Response& response) {
    record(request);
    response.status = 302;
    response.set_header("Location", "/landing");
    response.set_header("Set-Cookie", "r=1; Path=/");
  });
  http.Get("/downgrade", [this](const httplib::Request& request, httplib::Response& response) {
    record(request);
    response.status = 302;
    response.set_header("Location", "http://127.0.0.1:1/plain");
  });
  http.Get("/landing", [this](const httplib::Request& request, httplib::Response& response) {
    record(request);
    response.set_header("Set-Cookie", "land=2");
    response.set_content("landed", "text/plain");
  });
  http.Get("/setcookies", [this](const httplib::Request& request, httplib::Response& response) {
    record(request);
    response.set_header("Set-Cookie", "b=5; Path=/; HttpOnly");
    response.set_header("Set-Cookie", "d=6");
    response.set_header("Set-Cookie", "c=deleted; Expires=Thu, 01 Jan 1970 00:00:00 GMT");
    response.set_content("{\"errno\":0,}", "application/json");
  });
  http.Get("/gzip", [this](const httplib::Request& request, httplib::Response& response) {
    record(request);
    response.set_content(GzipText(), "text/plain");
  });
  http.Get("/slow", [this](const httplib::Request& request, httplib::Response& response) {
    record(request);
    std::unique_lock lock(mutex_);
    int generation = slowGeneration_;
    ++slowHeld_;
    slowArrived_.notify_all();
    // Bounded, so a test that never releases it still ends; long enough for a
    // loaded machine to act while the request is held.
    slowReleased_.wait_for(lock, std::chrono::seconds(30),
                           [&] { return slowGeneration_ != generation; });
    response.set_content("late", "text/plain");
  });
  started_ = server_->start();
}

TestServer::~TestServer() {
  releaseSlow();
  CloseIdleConnections();  // else the stop waits for each to time out
  server_->stop();
}

void TestServer::record(const httplib::Request& request) {
  SeenRequest seen;
  seen.method = request.method;
  seen.path = request.path;
  seen.body = request.body;
  for (const auto& [name, value] : request.headers) {
    // The server library adds the peer's addresses as pseudo headers.
    if (name == "REMOTE_ADDR" || name == "REMOTE_PORT" || name == "LOCAL_ADDR" ||
        name == "LOCAL_PORT")
      continue;
    seen.headers.emplace_back(name, value);
  }
  seen.clientPort = request.remote_port;
  std::lock_guard lock(mutex_);
  seen_.push_back(std::move(seen));
}

std::vector<SeenRequest> TestServer::seen() {
  std::lock_guard lock(mutex_);
  return seen_;
}

void TestServer::clearSeen() {
  std::lock_guard lock(mutex_);
  seen_.clear();
}

void TestServer::releaseSlow() {
  {
    std::lock_guard lock(mutex_);
    ++slowGeneration_;
    slowHeld_ = 0;
  }
  slowReleased_.notify_all();
}

bool TestServer::waitForSlow() {
  std::unique_lock lock(mutex_);
  return slowArrived_.wait_for(lock, std::chrono::seconds(60), [this] { return slowHeld_ > 0; });
}

bool ClientConnectionOpen(int clientPort, int serverPort) {
  // Lines of "sl local_address rem_address st ...", addresses as hex "IP:PORT" with
  // the IPv4 address in the kernel's byte order; state 01 is ESTABLISHED.
  char local[32];
  char remote[32];
  std::snprintf(local, sizeof local, "0100007F:%04X", clientPort);
  std::snprintf(remote, sizeof remote, "0100007F:%04X", serverPort);
  std::ifstream table("/proc/net/tcp");
  std::string line;
  std::getline(table, line);  // the heading
  while (std::getline(table, line)) {
    std::istringstream fields(line);
    std::string slot, localAddress, remoteAddress, state;
    fields >> slot >> localAddress >> remoteAddress >> state;
    if (localAddress == local && remoteAddress == remote && state == "01") return true;
  }
  return false;
}

}  // namespace pansift::testing
