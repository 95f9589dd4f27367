#include "core/headless_platform.h"

#include <gtest/gtest.h>

#include <thread>

namespace pansift {
namespace {

TEST(HeadlessPlatform, ScriptedAnswersThenTimeOut) {
  FakeClock clock;
  HeadlessPlatform platform(&clock);
  platform.answerNext(kIdYes);
  EXPECT_EQ(TimedMessageBox(platform, "c", "first", 15000, kStyleYesNoQuestion), kIdYes);
  EXPECT_EQ(TimedMessageBox(platform, "c", "second"), kIdTimeout);
  auto prompts = platform.prompts();
  ASSERT_EQ(prompts.size(), 2u);
  EXPECT_EQ(prompts[0].style, kStyleYesNoQuestion);
  EXPECT_EQ(prompts[1].timeoutMs, kPromptTimeoutMs);
}

TEST(HeadlessPlatform, WaitPumpingGoesThroughTheClock) {
  FakeClock clock;
  HeadlessPlatform platform(&clock);
  WaitPumping(platform, std::chrono::seconds(3));
  WaitPumping(platform, std::chrono::minutes(2));
  WaitPumping(platform, std::chrono::milliseconds(250));
  EXPECT_EQ(clock.sleptMs(), 3000 + 120000 + 250);
}

TEST(HeadlessPlatform, KnowsItsUiThread) {
  HeadlessPlatform platform;
  EXPECT_TRUE(platform.isUiThread());
  bool onWorker = true;
  std::thread([&] { onWorker = platform.isUiThread(); }).join();
  EXPECT_FALSE(onWorker);
}

}  // namespace
}  // namespace pansift
