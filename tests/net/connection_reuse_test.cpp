// Which connection each request rides, seen from both ends: the server records the
// client's port of every request, and the client's own sockets tell whether a
// connection is still open. Both back ends.
#include <gtest/gtest.h>

#include <atomic>
#include <latch>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "https_fixture.h"
#include "net/http.h"
#include "support/back_ends.h"

namespace pansift {
namespace {

using testing::ClientConnectionOpen;
using testing::ScopedCaFile;
using testing::TestServer;

class ConnectionReuse : public ::testing::TestWithParam<Transport> {
 protected:
  static void SetUpTestSuite() {
    server_ = new TestServer();
    ASSERT_TRUE(server_->started());
  }
  static void TearDownTestSuite() {
    delete server_;
    server_ = nullptr;
  }
  void SetUp() override { server_->clearSeen(); }

  bool curl() const { return GetParam() == Transport::Curl; }

  // Sends one request from the calling thread; the client port the server saw it
  // come from, or -1 when it failed. Each request carries a tag of its own, so that
  // requests of several threads are told apart.
  int send(HttpMethod method = HttpMethod::Get, const std::string& path = "/echo") {
    static std::atomic<int> next{0};
    const std::string tag = "tag=" + std::to_string(next++);
    HttpRequest request;
    request.url = server_->url(path);
    request.method = method;
    request.cookies = tag;
    if (method != HttpMethod::Get && method != HttpMethod::Head) request.body = "fid_list=%5B1%5D";
    if (SendRequestVia(GetParam(), request).status != 200) return -1;
    return portOf(tag);
  }

  static int portOf(const std::string& cookie) {
    for (const testing::SeenRequest& seen : server_->seen()) {
      if (seen.value("Cookie") == cookie) return seen.clientPort;
    }
    return -1;
  }
  static int portOfPath(const std::string& path) {
    for (const testing::SeenRequest& seen : server_->seen()) {
      if (seen.path == path) return seen.clientPort;
    }
    return -1;
  }
  static bool open(int clientPort) { return ClientConnectionOpen(clientPort, server_->port()); }

  static TestServer* server_;
};

TestServer* ConnectionReuse::server_ = nullptr;

// A read rides the connection the thread keeps to the origin; a change gets a
// connection of its own, closed as soon as it is answered (a dead reused one could
// make libcurl send it twice), and leaves the kept one alone.
TEST_P(ConnectionReuse, ReadsRideTheKeptConnectionChangesGetOneOfTheirOwn) {
  struct Case {
    HttpMethod method;
    bool reuses;
  };
  std::vector<Case> cases = {{HttpMethod::Get, true}, {HttpMethod::Post, false}};
  if (!curl()) {
    cases.push_back({HttpMethod::Head, true});
    cases.push_back({HttpMethod::Put, false});
  }
  ScopedCaFile trust(server_->caFile());
  for (const Case& c : cases) {
    SCOPED_TRACE(MethodVerb(c.method));
    const int kept = send();
    ASSERT_NE(kept, -1);
    for (int i = 0; i < 2; ++i) {
      const int port = send(c.method);
      ASSERT_NE(port, -1);
      if (c.reuses) {
        EXPECT_EQ(port, kept);
      } else {
        EXPECT_NE(port, kept);
        EXPECT_FALSE(open(port)) << "a change's connection stays open";
      }
    }
    EXPECT_EQ(send(), kept);
    EXPECT_TRUE(open(kept));
  }
}

// Threads running at once never hand connections to each other (libcurl does not
// support that), and a thread's exit closes what it kept.
TEST_P(ConnectionReuse, EachThreadKeepsItsOwnConnectionUntilItEnds) {
  constexpr int kThreads = 4;
  constexpr int kEach = 6;
  ScopedCaFile trust(server_->caFile());
  std::vector<std::vector<int>> ports(kThreads);
  std::latch start(kThreads);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      start.arrive_and_wait();
      for (int i = 0; i < kEach; ++i) ports[t].push_back(send());
    });
  }
  for (std::thread& thread : threads) thread.join();

  std::set<int> firsts;
  for (int t = 0; t < kThreads; ++t) {
    ASSERT_EQ(ports[t].size(), static_cast<size_t>(kEach));
    EXPECT_NE(ports[t][0], -1);
    for (int port : ports[t]) EXPECT_EQ(port, ports[t][0]) << "thread " << t;
    firsts.insert(ports[t][0]);
    EXPECT_FALSE(open(ports[t][0])) << "thread " << t << " ended, its connection is open";
  }
  EXPECT_EQ(firsts.size(), static_cast<size_t>(kThreads));
}

// The hook a test calls before it stops a server: the idle connections of every
// thread close at once, also of threads that send nothing more; one carrying a
// request stays until the answer is in, then closes. Later reads open new ones.
TEST_P(ConnectionReuse, CloseIdleConnectionsClosesEveryThreadsIdleOnesAndABusyOneAfterIt) {
  ScopedCaFile trust(server_->caFile());
  const int mine = send();
  ASSERT_NE(mine, -1);

  std::latch idleSent(1);
  std::latch idleGo(1);
  std::atomic<int> idleFirst{-1};
  std::atomic<int> idleSecond{-1};
  std::thread idle([&] {
    idleFirst = send();
    idleSent.count_down();
    idleGo.wait();
    idleSecond = send();
  });
  std::latch busyDone(1);
  std::latch busyGo(1);
  std::thread busy([&] {
    send(HttpMethod::Get, "/slow");
    busyDone.count_down();
    busyGo.wait();  // alive, sending nothing
  });
  auto finish = [&] {
    server_->releaseSlow();
    idleGo.count_down();
    busyGo.count_down();
    idle.join();
    busy.join();
  };
  idleSent.wait();
  if (!server_->waitForSlow() || idleFirst == -1) {
    finish();
    FAIL() << "the requests before the close did not arrive";
  }
  const int busyPort = portOfPath("/slow");
  ASSERT_TRUE(open(mine));
  ASSERT_TRUE(open(idleFirst));
  ASSERT_TRUE(open(busyPort));

  CloseIdleConnections();
  EXPECT_FALSE(open(mine));
  EXPECT_FALSE(open(idleFirst));
  EXPECT_TRUE(open(busyPort)) << "a connection carrying a request was closed under it";

  server_->releaseSlow();
  busyDone.wait();
  EXPECT_FALSE(open(busyPort)) << "the busy connection stays open after its request";

  idleGo.count_down();
  idle.join();
  EXPECT_NE(idleSecond, -1);
  const int mineAgain = send();
  EXPECT_NE(mineAgain, -1);
  EXPECT_TRUE(open(mineAgain));
  busyGo.count_down();
  busy.join();
}

// Closing while other threads send must not pull a connection from under a
// transfer, nor race with them (the ThreadSanitizer build runs this too).
TEST_P(ConnectionReuse, CloseIdleConnectionsWhileThreadsSend) {
  constexpr int kThreads = 4;
  constexpr int kEach = 15;
  ScopedCaFile trust(server_->caFile());
  std::atomic<int> running{kThreads};
  std::vector<int> failed(kThreads, 0);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < kEach; ++i) failed[t] += send() == -1 ? 1 : 0;
      --running;
    });
  }
  while (running > 0) {
    CloseIdleConnections();
    std::this_thread::yield();
  }
  for (std::thread& thread : threads) thread.join();
  for (int t = 0; t < kThreads; ++t) EXPECT_EQ(failed[t], 0) << "thread " << t;
}

INSTANTIATE_TEST_SUITE_P(BothBackEnds, ConnectionReuse, testing::kBothBackEnds,
                         testing::BackEndName);

}  // namespace
}  // namespace pansift
