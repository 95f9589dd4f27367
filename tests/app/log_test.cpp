#include "app/log.h"

#include <gtest/gtest.h>

#include <regex>
#include <thread>
#include <vector>

#include "app/app_state.h"
#include "platform/headless/headless_platform.h"
#include "support/temp_dir.h"
#include "util/codepage.h"
#include "util/text.h"

namespace pansift {
namespace {

class LogTest : public ::testing::Test {
 protected:
  testing::TempDir dir;
  HeadlessPlatform platform;
  AppState app{platform, dir.path()};
};

TEST_F(LogTest, DeleteMessagesAreFollowedByAnEmptyLine) {
  AppendLog(app, L8("文件删除成功。"));
  AppendLog(app, L8("文件正常"));
  std::vector<std::string> lines = SplitText(app.log.text(), "\r\n");
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_TRUE(lines[1].empty());
  EXPECT_EQ(TextRightOf(lines[2], " ", -1), L8("文件正常"));
  std::regex stamp("^\\d\\d:\\d\\d:\\d\\d ");
  EXPECT_TRUE(std::regex_search(lines[0], stamp));
}

TEST_F(LogTest, LinesFromManyWorkersStayWhole) {
  std::vector<std::thread> workers;
  for (int t = 0; t < 8; ++t) {
    workers.emplace_back([this, t] {
      for (int i = 0; i < 200; ++i) AppendLog(app, "worker-" + std::to_string(t) + "-line-" + std::to_string(i));
    });
  }
  for (auto& w : workers) w.join();
  std::vector<std::string> lines = SplitText(app.log.text(), "\r\n");
  ASSERT_EQ(lines.size(), 1600u);
  std::regex whole("^\\d\\d:\\d\\d:\\d\\d worker-\\d-line-\\d+$");
  for (const std::string& line : lines) ASSERT_TRUE(std::regex_match(line, whole)) << line;
}

TEST_F(LogTest, SubscribersSeeAppendsAndStatusChanges) {
  std::string seen;
  Subscription logSub = app.log.subscribe([&](const LogAppended& c) { seen += c.text; });
  std::string status;
  Subscription statusSub = app.status.subscribe([&](const StatusChanged& c) { status = c.text; });
  AppendLog(app, "x");
  SetStatus(app, "busy");
  EXPECT_EQ(seen, app.log.text());
  EXPECT_EQ(status, "busy");
  logSub.reset();
  AppendLog(app, "y");
  EXPECT_NE(seen, app.log.text());
}

}  // namespace
}  // namespace pansift
