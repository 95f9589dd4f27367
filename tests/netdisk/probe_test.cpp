#include "netdisk/probe.h"

#include <gtest/gtest.h>

#include <functional>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

#include "codec.h"
#include "netdisk/sign.h"
#include "support/sim_app.h"
#include "util/codepage.h"
#include "util/text.h"

namespace pansift {
namespace {

// Records every wait; a hook may act on the n-th one (set a flag, end a pause).
class RecordingClock final : public Clock {
 public:
  TimePoint now() override { return TimePoint(std::chrono::milliseconds(elapsed_)); }
  void sleepFor(std::chrono::milliseconds duration) override {
    std::function<void(size_t)> hook;
    size_t n = 0;
    {
      std::lock_guard lock(mutex_);
      elapsed_ += duration.count();
      waits_.push_back(duration.count());
      n = waits_.size();
      hook = hook_;
    }
    if (hook) hook(n);
  }
  std::vector<long long> waits() const {
    std::lock_guard lock(mutex_);
    return waits_;
  }
  void onWait(std::function<void(size_t)> hook) { hook_ = std::move(hook); }

 private:
  mutable std::mutex mutex_;
  long long elapsed_ = 0;
  std::vector<long long> waits_;
  std::function<void(size_t)> hook_;
};

int Count(const std::string& text, const char* utf8Marker) {
  const std::string marker = L8(utf8Marker);
  int n = 0;
  for (int at = FindText(text, marker); at > 0; at = FindText(text, marker, at + 1)) ++n;
  return n;
}

const char* const kUndeterminedLine =
    "检测文件和谐状态时返回了结果：2， 需要再检测一次，以确认结果正确。。{\"errno\":2,";
const char* const kTooLongLine =
    "检测文件和谐状态时返回了结果：414 Request-URI Too Large，可能是线程数设置的太高，"
    "尝试降低线程数后再试。";
const char* const kUnknownLine =
    "检测文件和谐状态时返回了未知的结果，需联系我匹配处理。{\"errno\":";
const char* const kNoSignLine = "获取sign失败";
const char* const kPauseLine =
    "检测文件和谐状态时请求太快，将自动暂停 30 秒 "
    "后再开始，也可能是当前网盘被限制，可24小时后再试。";
const char* const kStillLimitedLine =
    "检测文件和谐状态时请求太快，经过暂停后仍然请求失败。可能是此网盘检测太快，等24小时后再试。";

class ProbeTest : public ::testing::Test, protected testing::BasicSimApp<RecordingClock> {
 protected:
  void SetUp() override {
    ASSERT_TRUE(service.started);
    account = {"prober", service.sim.addAccount({.userName = "prober"}), {}};
    plain = std::to_string(service.sim.addFile("prober", "/a.txt", 1));
    plain2 = std::to_string(service.sim.addFile("prober", "/b.txt", 1));
    blocked = std::to_string(service.sim.addFile("prober", "/c.txt", 1, true));
  }
  ProbeOutcome probe(const std::string& list) {
    return ProbeDownload(app, account, list, pauseText);
  }
  std::uint64_t downloads() { return sim.log().count("/api/download"); }
  std::uint64_t fetches() { return sim.log().count("/api/gettemplatevariable"); }

  Credentials account;
  std::string pauseBox = "30";
  std::function<std::string()> pauseText = [this] { return pauseBox; };
  std::string plain, plain2, blocked;
};

TEST_F(ProbeTest, AsksOnceAndSendsTheProgramsQuery) {
  EXPECT_EQ(probe(plain + "," + plain2), ProbeOutcome::kNotBlocked);
  EXPECT_EQ(probe(plain + "," + blocked), ProbeOutcome::kBlocked);
  EXPECT_EQ(downloads(), 2u);
  EXPECT_EQ(fetches(), 1u);
  EXPECT_TRUE(clock.waits().empty());
  EXPECT_EQ(sim.log().rejected(), 0u);  // every key, in order, with its own timestamp
  auto request = sim.log().last("/api/download");
  ASSERT_TRUE(request);
  const std::string logId = sim::QueryValue(sim::ParseQuery(request->query), "dp-logid");
  EXPECT_EQ(logId.size(), 16u);
  EXPECT_EQ(request->target,
            ProbeUrl(plain + "," + blocked, app.signCacheSign, app.signCacheTimestamp, logId));
  EXPECT_NE(request->query.find("&fidlist=%5B" + plain + "%2C" + blocked + "%5D&type=dlink&vip=0"),
            std::string::npos);
  EXPECT_EQ(request->cookies, account.cookies);
  // Nothing to ask about decides nothing and sends nothing.
  EXPECT_EQ(probe(""), ProbeOutcome::kUndecided);
  EXPECT_EQ(downloads(), 2u);
}

TEST_F(ProbeTest, ProbeUrlEncodesTheListAndTheSign) {
  EXPECT_EQ(ProbeUrl("1,22", "a+b/c=", "1700000000", "1234567890123456"),
            "/api/download?clienttype=0&app_id=250528&web=1&dp-logid=1234567890123456"
            "&fidlist=%5B1%2C22%5D&type=dlink&vip=0&sign=a%2Bb%2Fc%3D&timestamp=1700000000");
}

// Each ending of the probe, with the requests it costs, the waits between them
// and the log lines it leaves.
TEST_F(ProbeTest, EveryEndingWithItsRequestsWaitsAndLogLines) {
  struct Case {
    const char* what;
    std::function<void(sim::Faults&)> fault;
    std::string pauseBox;
    ProbeOutcome outcome;
    std::uint64_t downloads;
    std::uint64_t fetches;
    std::vector<long long> waits;
    std::vector<std::pair<const char*, int>> lines;  // marker, times
    // Requests the transport may send once more: an attempt can ride a connection an
    // earlier request left open, and a GET whose reused connection proves closed goes
    // out again on a new one.
    std::uint64_t resent = 0;
  };
  const std::vector<long long> tenUndetermined(10, 2500);
  const std::vector<long long> tenRetries(10, 1500);
  const std::vector<long long> fivePauses(5, 30000);
  std::vector<Case> cases = {
      {"undetermined ten times",
       [](sim::Faults& f) { f.download.errno2Replies = 10; },
       "30",
       ProbeOutcome::kUndecided,
       10,
       1,
       tenUndetermined,
       {{kUndeterminedLine, 1}}},
      {"undetermined, then an answer",
       [](sim::Faults& f) { f.download.errno2Replies = 3; },
       "30",
       ProbeOutcome::kNotBlocked,
       4,
       1,
       {2500, 2500, 2500},
       {}},
      {"URL too long",
       [](sim::Faults& f) { f.download.maxUrlLength = 50; },
       "30",
       ProbeOutcome::kUndecided,
       10,
       1,
       tenRetries,
       {{kTooLongLine, 1}}},
      {"empty replies",
       [](sim::Faults& f) { f.download.emptyReplies = 10; },
       "30",
       ProbeOutcome::kUndecided,
       10,
       1,
       {},
       {}},
      {"connection dropped",
       [](sim::Faults& f) { f.download.dropProbability = 1.0; },
       "30",
       ProbeOutcome::kUndecided,
       10,
       1,
       {},
       {},
       1},
      {"no sign",
       [](sim::Faults& f) { f.templateVariable.emptyReplies = 10; },
       "30",
       ProbeOutcome::kUndecided,
       0,
       10,
       {},
       {{kNoSignLine, 1}}},
      {"sign refused, then accepted",
       [](sim::Faults& f) { f.download.refusedSigns = 4; },
       "30",
       ProbeOutcome::kNotBlocked,
       5,
       5,
       {1500, 1500, 1500},
       {}},
      {"sign refused throughout",
       [](sim::Faults& f) { f.download.refusedSigns = 11; },
       "30",
       ProbeOutcome::kUndecided,
       11,
       11,
       tenRetries,
       {{kUnknownLine, 1}}},
      {"unknown answer",
       [](sim::Faults& f) { f.download.unknownReplies = 1; },
       "30",
       ProbeOutcome::kUndecided,
       1,
       1,
       {},
       {{kUnknownLine, 1}}},
      {"rate limited once",
       [](sim::Faults& f) { f.download.rateLimitReplies = 1; },
       "30",
       ProbeOutcome::kNotBlocked,
       2,
       1,
       {30000},
       {{kPauseLine, 1}, {kStillLimitedLine, 0}}},
      {"rate limited in every pass",
       [](sim::Faults& f) { f.download.rateLimitReplies = 5; },
       "30",
       ProbeOutcome::kUndecided,
       5,
       1,
       fivePauses,
       {{kPauseLine, 5}, {kStillLimitedLine, 1}}},
      {"rate limited, box not a number",
       [](sim::Faults& f) { f.download.rateLimitReplies = 1; },
       "abc",
       ProbeOutcome::kNotBlocked,
       2,
       1,
       {},
       {{"将自动暂停 abc 秒 后再开始", 1}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    sim.faults().reset();
    c.fault(sim.faults());
    sim.log().clear();
    ClearSignCache(app);
    const size_t waitsBefore = clock.waits().size();
    const std::string logBefore = app.log.text();
    pauseBox = c.pauseBox;

    EXPECT_EQ(probe(plain), c.outcome);
    EXPECT_GE(downloads(), c.downloads);
    EXPECT_LE(downloads(), c.downloads + c.resent);
    EXPECT_EQ(fetches(), c.fetches);
    std::vector<long long> waits = clock.waits();
    EXPECT_EQ(std::vector<long long>(waits.begin() + static_cast<long>(waitsBefore), waits.end()),
              c.waits);
    const std::string log = app.log.text().substr(logBefore.size());
    for (const auto& [marker, times] : c.lines) EXPECT_EQ(Count(log, marker), times) << marker;
    int lines = 0;
    for (const auto& line : c.lines) lines += line.second;
    EXPECT_EQ(Count(log, "\r\n"), lines) << log;
    EXPECT_EQ(sim.log().rejected(), 0u);
  }
}

TEST_F(ProbeTest, ARefusedSignIsFetchedAnewForEveryLaterTry) {
  sim.faults().download.refusedSigns = 4;
  EXPECT_EQ(probe(plain), ProbeOutcome::kNotBlocked);
  std::vector<sim::LoggedRequest> sent = sim.log().entries("/api/download");
  ASSERT_EQ(sent.size(), 5u);
  std::set<std::string> signs;
  for (const sim::LoggedRequest& r : sent) {
    signs.insert(sim::QueryValue(sim::ParseQuery(r.query), "sign"));
  }
  EXPECT_EQ(signs.size(), 5u);  // a new sign for each of the four later tries
  EXPECT_EQ(sim.log().rejected(), 0u);
}

TEST_F(ProbeTest, StopAndPauseAreHonouredBeforeEveryRequest) {
  // Stopped before the start: nothing is sent, nothing logged.
  app.stopRequested = true;
  EXPECT_EQ(probe(plain), ProbeOutcome::kUndecided);
  EXPECT_EQ(downloads(), 0u);
  app.stopRequested = false;

  // A stop during the wait after an undetermined answer ends the probe at its next try.
  sim.faults().download.errno2Replies = 10;
  clock.onWait([this](size_t) { app.stopRequested = true; });
  EXPECT_EQ(probe(plain), ProbeOutcome::kUndecided);
  EXPECT_EQ(downloads(), 1u);
  EXPECT_EQ(clock.waits(), std::vector<long long>{2500});
  EXPECT_EQ(app.log.text(), "");
  app.stopRequested = false;

  // Paused: one-second waits until the pause ends, then the request.
  sim.faults().reset();
  app.paused = true;
  clock.onWait([this](size_t n) {
    if (n == 4) app.paused = false;
  });
  EXPECT_EQ(probe(plain), ProbeOutcome::kNotBlocked);
  EXPECT_EQ(downloads(), 2u);
  EXPECT_EQ(clock.waits(), (std::vector<long long>{2500, 1000, 1000, 1000}));

  // A stop while paused ends the pause as well.
  app.paused = true;
  clock.onWait([this](size_t n) {
    if (n == 6) app.stopRequested = true;
  });
  EXPECT_EQ(probe(plain), ProbeOutcome::kUndecided);
  EXPECT_EQ(downloads(), 2u);
}

TEST_F(ProbeTest, ConcurrentProbesShareOneSignAndNeverCrossTimestamps) {
  sim.faults().templateVariable.latencyMs = 100;
  std::vector<ProbeOutcome> outcomes(5, ProbeOutcome::kUndecided);
  std::vector<std::thread> workers;
  for (size_t i = 0; i < outcomes.size(); ++i)
    workers.emplace_back([&, i] { outcomes[i] = probe(i % 2 ? blocked : plain); });
  for (std::thread& w : workers) w.join();
  EXPECT_EQ(fetches(), 1u);
  for (size_t i = 0; i < outcomes.size(); ++i)
    EXPECT_EQ(outcomes[i], i % 2 ? ProbeOutcome::kBlocked : ProbeOutcome::kNotBlocked);

  // Signs used up every few requests: workers force fresh fetches while others
  // still hold older signs. Each request carries its own sign's timestamp.
  sim.faults().templateVariable.latencyMs = 0;
  sim.faults().download.signUses = 3;
  workers.clear();
  std::atomic<int> decided{0};
  for (int w = 0; w < 5; ++w) {
    workers.emplace_back([&] {
      for (int i = 0; i < 12; ++i) decided += probe(plain) == ProbeOutcome::kNotBlocked ? 1 : 0;
    });
  }
  for (std::thread& w : workers) w.join();
  EXPECT_EQ(decided.load(), 60);
  EXPECT_GT(fetches(), 10u);
  EXPECT_EQ(sim.log().rejected(), 0u);
}

}  // namespace
}  // namespace pansift
