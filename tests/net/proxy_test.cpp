#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>
#include <thread>

#include "net/http.h"
#include "util/text.h"

namespace pansift {
namespace {

// A plain-HTTP proxy on 127.0.0.1 that answers one request with "ok" and keeps the
// request it was sent.
class OneShotProxy {
 public:
  OneShotProxy() {
    listener_ = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address);
    listen(listener_, 1);
    socklen_t length = sizeof address;
    getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length);
    port_ = ntohs(address.sin_port);
    thread_ = std::thread([this] { serve(); });
  }
  ~OneShotProxy() {
    shutdown(listener_, SHUT_RDWR);
    close(listener_);
    if (thread_.joinable()) thread_.join();
  }
  std::string address() const { return "127.0.0.1:" + std::to_string(port_); }
  /// Valid after the request returned.
  const std::string& received() const { return received_; }

 private:
  void serve() {
    int client = accept(listener_, nullptr, nullptr);
    if (client < 0) return;
    char buffer[4096];
    while (received_.find("\r\n\r\n") == std::string::npos) {
      ssize_t n = recv(client, buffer, sizeof buffer, 0);
      if (n <= 0) break;
      received_.append(buffer, static_cast<size_t>(n));
    }
    const std::string reply = "HTTP/1.1 200 OK\r\nContent-Length: 2\r\nConnection: close\r\n\r\nok";
    send(client, reply.data(), reply.size(), MSG_NOSIGNAL);
    close(client);
  }

  int listener_ = -1;
  int port_ = 0;
  std::thread thread_;
  std::string received_;
};

TEST(Proxy, PlatformSendsBasicProxyCredentials) {
  OneShotProxy proxy;
  HttpRequest request;
  request.url = "http://target.invalid/api/list?dir=%2F";
  request.proxy = proxy.address();
  request.proxyUser = "user";
  request.proxyPassword = "pass";
  request.timeoutMs = 2000;
  HttpResponse response = SendRequestVia(Transport::Platform, request);

  EXPECT_EQ(response.status, 200);
  EXPECT_EQ(response.body, "ok");
  EXPECT_EQ(FindText(proxy.received(), "GET http://target.invalid/api/list?dir=%2F HTTP/1.1\r\n"),
            1);
  EXPECT_NE(FindText(proxy.received(), "\r\nProxy-Authorization: Basic dXNlcjpwYXNz\r\n"), -1);
}

TEST(Proxy, CurlGoesThroughTheProxyWithoutCredentials) {
  OneShotProxy proxy;
  HttpRequest request;
  request.url = "http://target.invalid/x";
  request.proxy = proxy.address();
  request.timeoutMs = 2000;
  HttpResponse response = SendRequestVia(Transport::Curl, request);

  EXPECT_EQ(response.status, 200);
  EXPECT_EQ(response.body, "ok");
  EXPECT_EQ(FindText(proxy.received(), "GET http://target.invalid/x HTTP/1.1\r\n"), 1);
  EXPECT_EQ(FindText(proxy.received(), "Proxy-Authorization", 1, true), -1);
}

}  // namespace
}  // namespace pansift
