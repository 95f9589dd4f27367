#include "core/log.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "core/app_state.h"
#include "core/headless_platform.h"
#include "support/app_rig.h"
#include "util/codepage.h"
#include "util/text.h"

namespace pansift {
namespace {

// "HH:mm:ss " at the start of a log line.
bool HasStamp(const std::string& line) {
  if (line.size() < 9 || line[2] != ':' || line[5] != ':' || line[8] != ' ') return false;
  for (int i : {0, 1, 3, 4, 6, 7}) {
    if (line[i] < '0' || line[i] > '9') return false;
  }
  return true;
}

class LogTest : public ::testing::Test, protected testing::AppRig {};

TEST_F(LogTest, DeleteMessagesAreFollowedByAnEmptyLine) {
  AppendLog(app, L8("文件删除成功。"));
  AppendLog(app, L8("文件正常"));
  std::vector<std::string> lines = SplitText(app.log.text(), "\r\n");
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_TRUE(lines[1].empty());
  EXPECT_EQ(TextRightOf(lines[2], " ", -1), L8("文件正常"));
  EXPECT_TRUE(HasStamp(lines[0])) << lines[0];
}

TEST_F(LogTest, LinesFromManyWorkersStayWhole) {
  std::vector<std::thread> workers;
  for (int t = 0; t < 8; ++t) {
    workers.emplace_back([this, t] {
      for (int i = 0; i < 200; ++i)
        AppendLog(app, "worker-" + std::to_string(t) + "-line-" + std::to_string(i));
    });
  }
  for (auto& w : workers) w.join();
  std::vector<std::string> lines = SplitText(app.log.text(), "\r\n");
  ASSERT_EQ(lines.size(), 1600u);
  // Every line whole: one stamp, then one complete message.
  std::vector<int> next(8, 0);
  for (const std::string& line : lines) {
    ASSERT_TRUE(HasStamp(line)) << line;
    std::string message = line.substr(9);
    ASSERT_EQ(message.rfind("worker-", 0), 0u) << line;
    int worker = message[7] - '0';
    ASSERT_TRUE(worker >= 0 && worker < 8) << line;
    // Each worker's lines stay in the order it appended them.
    ASSERT_EQ(message,
              "worker-" + std::to_string(worker) + "-line-" + std::to_string(next[worker]++))
        << line;
  }
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
