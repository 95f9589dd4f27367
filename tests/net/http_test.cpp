#include "net/http.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <thread>
#include <vector>

#include "https_fixture.h"
#include "support/back_ends.h"
#include "support/temp_dir.h"
#include "util/text.h"

namespace pansift {
namespace {

using testing::ScopedCaFile;
using testing::SeenRequest;
using testing::TestServer;

constexpr const char* kChromeUserAgent =
    "Mozilla/5.0 (Windows NT 10.0; WOW64) AppleWebKit/537.36 (KHTML, like Gecko) "
    "Chrome/94.0.4606.71 "
    "Safari/537.36";
constexpr const char* kRefererOrigin = "https://netdisk.example";

class HttpTransport : public ::testing::TestWithParam<Transport> {
 protected:
  static void SetUpTestSuite() {
    server_ = new TestServer();
    ASSERT_TRUE(server_->started());
    SetRefererOrigin(kRefererOrigin);
  }
  static void TearDownTestSuite() {
    delete server_;
    server_ = nullptr;
  }
  void SetUp() override { server_->clearSeen(); }

  bool curl() const { return GetParam() == Transport::Curl; }

  HttpResponse send(HttpRequest& request) {
    ScopedCaFile trust(server_->caFile());
    return SendRequestVia(GetParam(), request);
  }

  SeenRequest onlySeen() {
    std::vector<SeenRequest> seen = server_->seen();
    EXPECT_EQ(seen.size(), 1u);
    return seen.empty() ? SeenRequest{} : seen.back();
  }

  static TestServer* server_;
};

TestServer* HttpTransport::server_ = nullptr;

TEST_P(HttpTransport, EmptyHeadersGetTheDefaultSet) {
  HttpRequest request;
  request.url = server_->url("/echo");
  request.cookies = "BDUSS=abc; STOKEN=def";
  HttpResponse response = send(request);

  EXPECT_EQ(response.status, 200);
  EXPECT_EQ(response.body, "cookie=BDUSS=abc; STOKEN=def");
  EXPECT_EQ(request.headers, kDefaultUserAgentLine) << "empty headers are written back";
  SeenRequest seen = onlySeen();
  EXPECT_EQ(seen.method, "GET");
  EXPECT_EQ(seen.count("User-Agent"), 1);
  EXPECT_EQ(seen.value("User-Agent"), kChromeUserAgent);
  EXPECT_EQ(seen.count("Accept"), 1);
  EXPECT_EQ(seen.value("Accept"), "*/*");
  EXPECT_EQ(seen.value("Accept-Language"), "zh-cn");
  EXPECT_EQ(seen.value("Referer"),
            curl() ? std::string(kRefererOrigin) + "/disk/main" : request.url);
  EXPECT_EQ(seen.value("Cookie"), "BDUSS=abc; STOKEN=def");
  EXPECT_FALSE(seen.hasNameIgnoringCase("Content-Type"));
}

TEST_P(HttpTransport, CallerHeadersAreCompletedNotDuplicatedAndCapitalised) {
  HttpRequest request;
  request.url = server_->url("/echo");
  request.method = HttpMethod::Post;
  request.body = "fid_list=%5B1%5D";
  request.headers = "referer: https://caller.example/page\r\nx-requested-with: XMLHttpRequest";
  HttpResponse response = send(request);

  EXPECT_EQ(response.status, 200);
  SeenRequest seen = onlySeen();
  EXPECT_EQ(seen.method, "POST");
  EXPECT_EQ(seen.body, "fid_list=%5B1%5D");
  EXPECT_EQ(seen.count("Referer"), 1);
  EXPECT_EQ(seen.value("Referer"), "https://caller.example/page");
  EXPECT_FALSE(seen.count("referer"));
  EXPECT_EQ(seen.value("X-Requested-With"), "XMLHttpRequest");
  EXPECT_EQ(seen.count("Content-Type"), 1);
  EXPECT_EQ(seen.value("Content-Type"), "application/x-www-form-urlencoded");
  EXPECT_EQ(seen.value("Accept"), "*/*");
  EXPECT_EQ(seen.value("Accept-Language"), "zh-cn");
  // Headers without a User-Agent get the back end's own fallback line.
  EXPECT_EQ(seen.value("User-Agent"),
            curl() ? kChromeUserAgent : "Mozilla/4.0 (compatible; MSIE 9.0; Windows NT 6.1)");
}

TEST_P(HttpTransport, WithoutCompletionOnlyTheCallersHeadersGoOut) {
  HttpRequest request;
  request.url = server_->url("/echo");
  request.headers = "user-agent: probe";
  request.completeHeaders = false;
  request.normaliseHeaderCase = false;
  send(request);
  SeenRequest seen = onlySeen();
  EXPECT_EQ(seen.value("user-agent"), "probe");
  EXPECT_FALSE(seen.hasNameIgnoringCase("Referer"));
  EXPECT_FALSE(seen.hasNameIgnoringCase("Accept-Language"));
}

TEST_P(HttpTransport, RedirectsFollowedByDefault) {
  HttpRequest request;
  request.url = server_->url("/redirect");
  request.cookies = "a=1";
  HttpResponse response = send(request);

  EXPECT_EQ(response.status, 200);
  EXPECT_EQ(response.body, "landed");
  std::vector<SeenRequest> seen = server_->seen();
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_EQ(seen[1].path, "/landing");
  EXPECT_EQ(seen[1].value("Cookie"), "a=1");
  if (curl()) {
    // Every response's header block, and the cookies of both responses in the jar.
    EXPECT_NE(FindText(response.headers, "HTTP/1.1 302"), -1);
    EXPECT_NE(FindText(response.headers, "HTTP/1.1 200"), -1);
    EXPECT_EQ(response.cookies, "a=1; r=1; land=2");
  } else {
    // The final response only, without status line.
    EXPECT_EQ(FindText(response.headers, "HTTP/"), -1);
    EXPECT_EQ(FindText(response.headers, "Location"), -1);
    EXPECT_EQ(response.cookies, "land=2");
  }
}

TEST_P(HttpTransport, RedirectNotFollowedReportsStatusAndLocation) {
  HttpRequest request;
  request.url = server_->url("/redirect");
  request.noRedirect = true;
  request.headers = kDefaultUserAgentLine;
  HttpResponse response = send(request);

  EXPECT_EQ(response.status, 302);
  EXPECT_EQ(TextBetween(response.headers, "Location: ", "\r\n"), "/landing");
  EXPECT_EQ(server_->seen().size(), 1u);
}

TEST_P(HttpTransport, ARedirectDownToPlainHttpIsNotFollowedButReturned) {
  HttpRequest request;
  request.url = server_->url("/downgrade");
  request.cookies = "BDUSS=secret";
  HttpResponse response = send(request);

  EXPECT_EQ(response.status, 302);
  EXPECT_EQ(TextBetween(response.headers, "Location: ", "\r\n"), "http://127.0.0.1:1/plain");
  EXPECT_EQ(server_->seen().size(), 1u);
}

TEST_P(HttpTransport, LineBreaksInTheCookieStringCannotEndTheHeaderBlock) {
  HttpRequest request;
  request.url = server_->url("/echo");
  request.cookies = "BDUSS=abc;\r\n STOKEN=x\r\n";  // pasted with line breaks
  HttpResponse response = send(request);

  EXPECT_EQ(response.body, "cookie=BDUSS=abc; STOKEN=x");
  SeenRequest seen = onlySeen();
  EXPECT_TRUE(seen.hasNameIgnoringCase("User-Agent"));
  EXPECT_TRUE(seen.hasNameIgnoringCase("Referer"));
}

TEST_P(HttpTransport, ReplyCookiesPerBackEnd) {
  HttpRequest request;
  request.url = server_->url("/setcookies");
  request.cookies = "a=1; b=2; c=3";
  HttpResponse response = send(request);
  ASSERT_EQ(response.status, 200);
  if (curl()) {
    EXPECT_EQ(response.cookies, "a=1; b=5; c=deleted; d=6");
  } else {
    EXPECT_EQ(response.cookies, "b=5; d=6; c=deleted");
  }
  EXPECT_EQ(request.cookies, "a=1; b=2; c=3");
}

TEST_P(HttpTransport, TimeOutGivesStatusZeroAndEmptyBody) {
  HttpRequest request;
  request.url = server_->url("/slow");
  request.cookies = "a=1";
  request.timeoutMs = 300;
  HttpResponse response = send(request);
  server_->releaseSlow();

  EXPECT_EQ(response.status, 0);
  EXPECT_EQ(response.body, "");
  EXPECT_EQ(response.headers, "");
  EXPECT_EQ(response.cookies, curl() ? "a=1" : "");
}

TEST_P(HttpTransport, GzipRepliesAreDecodedByCurlOnly) {
  HttpRequest request;
  request.url = server_->url("/gzip");
  HttpResponse response = send(request);
  ASSERT_EQ(response.status, 200);
  EXPECT_EQ(response.body, testing::GzipText());
  SeenRequest seen = onlySeen();
  if (curl()) {
    EXPECT_EQ(seen.value("Accept-Encoding"), "gzip");
    EXPECT_NE(FindText(response.headers, "Content-Encoding: gzip", 1, true), -1);
  } else {
    EXPECT_FALSE(seen.hasNameIgnoringCase("Accept-Encoding"));
  }
}

TEST_P(HttpTransport, SelfSignedCertificateRefusedUnlessTrusted) {
  HttpRequest request;
  request.url = server_->url("/echo");
  {
    ScopedCaFile untrusted("");
    HttpResponse response = SendRequestVia(GetParam(), request);
    EXPECT_EQ(response.status, 0);
    EXPECT_EQ(response.body, "");
  }
  EXPECT_TRUE(server_->seen().empty());
  EXPECT_EQ(send(request).status, 200);
}

TEST_P(HttpTransport, TrustedCertificateForAnotherHostIsRefused) {
  TestServer other("other.invalid");
  ASSERT_TRUE(other.started());
  ScopedCaFile trust(other.caFile());
  HttpRequest request;
  request.url = other.url("/echo");
  HttpResponse response = SendRequestVia(GetParam(), request);
  EXPECT_EQ(response.status, 0);
  EXPECT_TRUE(other.seen().empty());
}

// A transfer that brings no reply says why, naming what it concerns (the CA file
// that cannot be used, the host whose certificate is not trusted, the host that
// could not be reached) and giving libcurl's message.
TEST_P(HttpTransport, AFailedTransferSaysWhyAndWhere) {
  testing::TempDir dir;
  const std::string missing = dir.file("missing.pem");
  const std::string garbage = dir.file("garbage.pem");
  std::ofstream(garbage) << "not a certificate\n";
  TestServer other;
  ASSERT_TRUE(other.started());
  const std::string origin = server_->url("");
  const std::string host = origin.substr(origin.find("://") + 3);
  struct Case {
    const char* what;
    std::string caFile;
    std::string url;
    TransferFailure failure;
    std::vector<std::string> said;  // parts of the error
  } cases[] = {
      {"a reply", server_->caFile(), server_->url("/echo"), TransferFailure::kNone, {}},
      {"no such CA file",
       missing,
       server_->url("/echo"),
       TransferFailure::kCaFile,
       {"cannot use the CA file " + missing + " (No such file or directory): "}},
      {"a folder as CA file",
       dir.path(),
       server_->url("/echo"),
       TransferFailure::kCaFile,
       {"cannot use the CA file " + dir.path() + " (Is a directory): "}},
      {"no certificate in the CA file",
       garbage,
       server_->url("/echo"),
       TransferFailure::kCaFile,
       {"cannot use the CA file " + garbage + " (it holds no PEM certificate): "}},
      {"another server's certificate",
       other.caFile(),
       server_->url("/echo"),
       TransferFailure::kUntrusted,
       {"the certificate of " + host + " is not trusted (extra CA file " + other.caFile() + "): ",
        "SSL certificate problem"}},
      {"no extra CA file",
       "",
       server_->url("/echo"),
       TransferFailure::kUntrusted,
       {"the certificate of " + host + " is not trusted: ", "SSL certificate problem"}},
      {"nothing listens",
       server_->caFile(),
       "https://127.0.0.1:1/",
       TransferFailure::kOther,
       {"127.0.0.1:1: "}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ScopedCaFile trust(c.caFile);
    HttpRequest request;
    request.url = c.url;
    HttpResponse response = SendRequestVia(GetParam(), request);
    EXPECT_EQ(response.failure, c.failure) << response.error;
    EXPECT_EQ(response.status, c.failure == TransferFailure::kNone ? 200 : 0);
    if (c.failure == TransferFailure::kNone) {
      EXPECT_EQ(response.error, "");
      continue;
    }
    for (const std::string& part : c.said)
      EXPECT_NE(response.error.find(part), std::string::npos) << response.error;
    // libcurl's message follows, on the same line.
    EXPECT_FALSE(response.error.ends_with(": ")) << response.error;
    EXPECT_EQ(response.error.find('\n'), std::string::npos) << response.error;
  }
}

// The trusted certificates are parsed once and shared; the shared store must follow
// the file when it is rewritten in place, and when the setting names another file.
TEST_P(HttpTransport, TrustFollowsTheExtraFileWhenItChanges) {
  TestServer second;
  ASSERT_TRUE(second.started());
  testing::TempDir dir;
  const std::string trusted = dir.file("trusted.pem");
  auto trustOnly = [&](const TestServer& server) {
    std::filesystem::copy_file(server.caFile(), trusted,
                               std::filesystem::copy_options::overwrite_existing);
  };
  auto status = [&](const TestServer& server) {
    HttpRequest request;
    request.url = server.url("/echo");
    return SendRequestVia(GetParam(), request).status;
  };
  ScopedCaFile trust(trusted);
  trustOnly(*server_);
  EXPECT_EQ(status(*server_), 200);
  EXPECT_EQ(status(second), 0);
  trustOnly(second);
  EXPECT_EQ(status(*server_), 0);
  EXPECT_EQ(status(second), 200);
  {
    ScopedCaFile other(server_->caFile());
    EXPECT_EQ(status(*server_), 200);
    EXPECT_EQ(status(second), 0);
  }
  EXPECT_EQ(status(second), 200);
}

TEST_P(HttpTransport, ConcurrentRequestsShareNothing) {
  constexpr int kThreads = 6;
  constexpr int kEach = 3;
  std::vector<std::thread> threads;
  std::vector<std::string> wrong(kThreads);  // what each worker got that it did not send
  ScopedCaFile trust(server_->caFile());
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < kEach; ++i) {
        HttpRequest request;
        request.url = server_->url("/echo");
        request.cookies = "worker=" + std::to_string(t) + "; n=" + std::to_string(i);
        HttpResponse response = SendRequestVia(GetParam(), request);
        if (response.status != 200 || response.body != "cookie=" + request.cookies) {
          wrong[t] += "request " + std::to_string(i) + ": status " +
                      std::to_string(response.status) + ", body '" + response.body + "'\n";
        }
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  for (int t = 0; t < kThreads; ++t) EXPECT_EQ(wrong[t], "") << "worker " << t;
}

TEST_P(HttpTransport, SelectTransportChoosesTheBackEndOfSendRequest) {
  Transport before = SelectedTransport();
  SelectTransport(curl());
  HttpRequest request;
  request.url = server_->url("/echo");
  ScopedCaFile trust(server_->caFile());
  SendRequest(request);
  SelectTransport(before == Transport::Curl);
  EXPECT_EQ(onlySeen().value("Referer"),
            curl() ? std::string(kRefererOrigin) + "/disk/main" : request.url);
}

INSTANTIATE_TEST_SUITE_P(BothBackEnds, HttpTransport, testing::kBothBackEnds, testing::BackEndName);

// Rules of one back end only, on the same server.
class BackEndRules : public HttpTransport {};

TEST_P(BackEndRules, PlatformStripsCookiePrefixAndSkipsKeepAlive) {
  HttpRequest request;
  request.url = server_->url("/echo");
  request.cookies = "Cookie: a=1; b=2";
  request.headers = std::string(kDefaultUserAgentLine) + "\r\nConnection: keep-alive\r\nX-Extra: 1";
  HttpResponse response = send(request);
  ASSERT_EQ(response.status, 200);
  EXPECT_EQ(request.cookies, " a=1; b=2") << "the prefix removal is written back";
  SeenRequest seen = onlySeen();
  EXPECT_EQ(TrimText(seen.value("Cookie")), "a=1; b=2");
  EXPECT_FALSE(seen.hasNameIgnoringCase("Connection"));
  EXPECT_FALSE(seen.hasNameIgnoringCase("Expect"));
  EXPECT_EQ(seen.value("X-Extra"), "1");
}

TEST_P(BackEndRules, PlatformMergesCookiesOnRequest) {
  HttpRequest request;
  request.url = server_->url("/setcookies");
  request.cookies = "a=1; b=2; c=3";
  request.mergeCookies = true;
  HttpResponse response = send(request);
  EXPECT_EQ(response.cookies, "b=5; d=6; a=1");
  EXPECT_EQ(request.cookies, "b=5; d=6; a=1");
}

TEST_P(BackEndRules, PlatformSendsOtherVerbs) {
  HttpRequest request;
  request.url = server_->url("/echo");
  request.method = HttpMethod::Put;
  request.body = "payload";
  EXPECT_EQ(send(request).status, 200);
  SeenRequest seen = onlySeen();
  EXPECT_EQ(seen.method, "PUT");
  EXPECT_EQ(seen.body, "payload");
}

INSTANTIATE_TEST_SUITE_P(Platform, BackEndRules, ::testing::Values(Transport::Platform));

class CurlRules : public HttpTransport {};

TEST_P(CurlRules, EmptyHeaderLineIsNotSent) {
  HttpRequest request;
  request.url = server_->url("/echo");
  request.headers = "X-One: 1\r\n\r\nX-Two: 2";
  request.normaliseHeaderCase = false;
  EXPECT_EQ(send(request).status, 200);
  SeenRequest seen = onlySeen();
  EXPECT_EQ(seen.value("X-One"), "1");
  EXPECT_EQ(seen.value("X-Two"), "2");
}

TEST_P(CurlRules, UnsupportedMethodSendsNothing) {
  HttpRequest request;
  request.url = server_->url("/echo");
  request.method = HttpMethod::Put;
  request.cookies = "a=1";
  HttpResponse response = send(request);
  EXPECT_EQ(response.status, 0);
  EXPECT_EQ(response.body, "");
  EXPECT_EQ(response.cookies, "");
  EXPECT_TRUE(server_->seen().empty());
}

INSTANTIATE_TEST_SUITE_P(Curl, CurlRules, ::testing::Values(Transport::Curl));

}  // namespace
}  // namespace pansift
