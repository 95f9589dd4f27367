// The login cookies never reach err.txt, the log pane, the status bar or the
// standard streams, even when the other side quotes them back in its replies.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include "accounts/account_store.h"
#include "accounts/add_account.h"
#include "core/app_state.h"
#include "core/headless_platform.h"
#include "core/log.h"
#include "core/main_form.h"
#include "https_server.h"
#include "netdisk/identity.h"
#include "netdisk/listing.h"
#include "support/temp_dir.h"
#include "tree/folder_tree.h"
#include "tree/tree_operations.h"
#include "util/clock.h"
#include "util/codepage.h"
#include "util/files.h"

namespace pansift {
namespace {

// Sends standard output and error to files while it lives.
class CapturedStreams {
 public:
  explicit CapturedStreams(const std::string& folder) {
    for (int i = 0; i < 2; ++i) {
      std::fflush(i == 0 ? stdout : stderr);
      files_[i] = folder + (i == 0 ? "/stdout" : "/stderr");
      saved_[i] = ::dup(1 + i);
      int fd = ::open(files_[i].c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
      ::dup2(fd, 1 + i);
      ::close(fd);
    }
  }
  ~CapturedStreams() { restore(); }
  // Both streams' text, once restored.
  std::string text() {
    restore();
    return ReadFileBytes(files_[0]).bytes + ReadFileBytes(files_[1]).bytes;
  }

 private:
  void restore() {
    for (int i = 0; i < 2; ++i) {
      if (saved_[i] < 0) continue;
      std::fflush(i == 0 ? stdout : stderr);
      ::dup2(saved_[i], 1 + i);
      ::close(saved_[i]);
      saved_[i] = -1;
    }
  }
  std::string files_[2];
  int saved_[2] = {-1, -1};
};

TEST(HideLoginCookies, HidesTheValuesOfLoginCookiesOnly) {
  struct Case {
    const char* text;
    const char* shown;
  } cases[] = {
      {"BAIDUID=AB:FG=1; BDUSS=xyz; STOKEN=s1", "BAIDUID=***; BDUSS=***; STOKEN=***"},
      {"cookie: bduss=Low&stoken=x\r\nnext", "cookie: bduss=***&stoken=***\r\nnext"},
      {"{\"BDUSS_BFESS\":\"v\",\"x\":\"BDUSS=q\\\"\"}",
       "{\"BDUSS_BFESS\":\"v\",\"x\":\"BDUSS=***\\\"\"}"},
      {"MYBDUSS=1; BDUSSX=2; BDUSS=; PANPSC=p", "MYBDUSS=1; BDUSSX=2; BDUSS=; PANPSC=***"},
      {"no cookies here: a=b", "no cookies here: a=b"},
  };
  for (const Case& c : cases) EXPECT_EQ(HideLoginCookies(c.text), c.shown) << c.text;
}

TEST(CookieLeaks, RepliesThatQuoteTheCookiesLeaveNoTraceOfThem) {
  // A service (or a proxy in front of it) whose every reply quotes the request's
  // Cookie header. "/" shows a login without a name, so that the identity read goes on to
  // getfollowlist, whose quoting reply is then shown as the reason of the failure.
  sim::Certificate certificate = sim::MakeSelfSignedCertificate();
  testing::TempDir dir;
  const std::string caFile = dir.file("ca.pem");
  ASSERT_TRUE(sim::WriteTextFile(caFile, certificate.certPem));
  sim::HttpsServer server(certificate);
  server.http().set_keep_alive_timeout(0);
  server.http().Get(".*", [](const httplib::Request& request, httplib::Response& response) {
    std::string quoted = "Bad request; your Cookie: " + request.get_header_value("Cookie");
    if (request.path == "/") {
      quoted += "\"userInfo\":{\"username\":\"\",\"uk\":\"1\",\"bdstoken\":\"t\"};";
    }
    response.set_content(quoted, "text/html");
  });
  ASSERT_TRUE(server.start());
  setenv("PANSIFT_CA_FILE", caFile.c_str(), 1);

  const std::string cookies = "BAIDUID=BID-SECRET:FG=1; BDUSS=BDUSS-SECRET; STOKEN=STOKEN-SECRET";
  FakeClock clock;
  HeadlessPlatform platform(&clock);
  AppState app(platform, dir.path());
  app.origins.netdisk = server.origin();
  app.currentUserName.set("u");
  app.currentCookies.set(cookies);
  MainForm form;
  AccountStore accounts;
  FolderTree tree;
  {
    CapturedStreams streams(dir.path());
    RefreshRootTree(app, form, accounts, tree);
    std::string failedStatus = app.status.text();
    EXPECT_EQ(ListFolderPage(app, app.operatingAccount(), {"name", "0"}, "/a", 1), "");
    AddAccount(app, form, accounts, cookies);
    AppendLog(app, "reply: " + ReadIdentity(app, cookies, 1).replyText);
    std::string out = streams.text();

    const std::string errors = ReadFileBytes(dir.file("err.txt")).bytes;
    ASSERT_NE(errors.find("BDUSS=***"), std::string::npos) << errors;  // the reply got there
    ASSERT_NE(failedStatus.find("BDUSS=***"), std::string::npos) << failedStatus;
    for (const char* secret : {"BID-SECRET", "BDUSS-SECRET", "STOKEN-SECRET"}) {
      SCOPED_TRACE(secret);
      EXPECT_EQ(errors.find(secret), std::string::npos) << errors;
      EXPECT_EQ(app.log.text().find(secret), std::string::npos) << app.log.text();
      EXPECT_EQ(failedStatus.find(secret), std::string::npos) << failedStatus;
      EXPECT_EQ(app.status.text().find(secret), std::string::npos);
      EXPECT_EQ(out.find(secret), std::string::npos) << out;
    }
  }
  server.stop();
  unsetenv("PANSIFT_CA_FILE");
}

}  // namespace
}  // namespace pansift
