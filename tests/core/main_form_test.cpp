#include "core/main_form.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "util/codepage.h"

namespace pansift {
namespace {

TEST(MainForm, OpensWithTheDefaultTexts) {
  struct Case {
    FormText box;
    const char* name;
    const char* text;
  };
  const Case cases[] = {
      {FormText::kCookies, "编辑框_百度cookies", ""},
      {FormText::kPrereadThreads, "编辑框_预读取线程数", "10"},
      {FormText::kCheckThreads, "编辑框_检查线程数", ""},
      {FormText::kFilesPerBatch, "编辑框_每次检查文件数量", "50"},
      {FormText::kDepth, "编辑框_检查深度", ""},
      {FormText::kAutoDelay, "编辑框_自动延时秒数", "30"},
      {FormText::kSubmitInterval, "编辑框_检测违规文件提交间隔", ""},
      {FormText::kDeleteInterval, "编辑框_删除违规文件操作间隔", ""},
  };
  MainForm form;
  for (const Case& c : cases) {
    EXPECT_STREQ(ControlName(c.box), c.name);
    EXPECT_EQ(form.text(c.box), L8(c.text)) << c.name;
  }
  EXPECT_FALSE(form.deleteFiles());
  EXPECT_EQ(form.sortOrder(), SortOrder::kNameAscending);
  EXPECT_EQ(form.selectedTab(), kTabAccounts);
  EXPECT_TRUE(form.refreshHintVisible());
  EXPECT_FALSE(form.taskRunning());
  EXPECT_EQ(form.caption(FormButton::kPauseCheck), L8("暂停"));
  EXPECT_EQ(form.caption(FormButton::kAddAccount), L8("手动添加，或通过下方的帐号登陆方式添加"));
  EXPECT_STREQ(ControlName(FormButton::kBlockedFiles), "按钮7");
}

TEST(MainForm, AnnouncesRealChangesOnly) {
  MainForm form;
  std::vector<FormChanged> seen;
  Subscription sub = form.subscribe([&](const FormChanged& c) { seen.push_back(c); });
  form.setText(FormText::kDepth, "2");
  form.setText(FormText::kDepth, "2");  // same text: nothing to announce
  form.setEnabled(FormButton::kStartCheck, false);
  form.setEnabled(FormButton::kStartCheck, false);
  form.setSelectedTab(7);  // no such tab
  form.setSelectedTab(kTabClean);
  form.hideRefreshHint();
  form.hideRefreshHint();
  ASSERT_EQ(seen.size(), 4u);
  EXPECT_EQ(seen[0].kind, FormChanged::Kind::kText);
  EXPECT_EQ(seen[0].index, static_cast<int>(FormText::kDepth));
  EXPECT_EQ(seen[1].kind, FormChanged::Kind::kEnabled);
  EXPECT_EQ(seen[1].index, static_cast<int>(FormButton::kStartCheck));
  EXPECT_EQ(seen[2].kind, FormChanged::Kind::kTab);
  EXPECT_EQ(seen[3].kind, FormChanged::Kind::kRefreshHint);
  EXPECT_TRUE(form.taskRunning());
  EXPECT_EQ(form.selectedTab(), kTabClean);
}

TEST(MainForm, ASubscriberSeesTheNewValueAndMayReadTheForm) {
  // Every setter announces after assigning and with the form's lock released: a
  // handler that reads the form sees the new value (and does not deadlock).
  MainForm form;
  std::vector<std::string> seen;
  Subscription sub = form.subscribe([&](const FormChanged& c) {
    switch (c.kind) {
      case FormChanged::Kind::kText:
        seen.push_back(form.text(static_cast<FormText>(c.index)));
        break;
      case FormChanged::Kind::kCaption:
        seen.push_back(form.caption(static_cast<FormButton>(c.index)));
        break;
      case FormChanged::Kind::kEnabled:
        seen.push_back(form.enabled(static_cast<FormButton>(c.index)) ? "on" : "off");
        break;
      case FormChanged::Kind::kDeleteFiles:
        seen.push_back(form.deleteFiles() ? "delete" : "keep");
        break;
      case FormChanged::Kind::kHalvingSearch:
        seen.push_back(form.halvingSearch() ? "halving" : "each");
        break;
      case FormChanged::Kind::kSortOrder:
        seen.push_back(std::to_string(static_cast<int>(form.sortOrder())));
        break;
      case FormChanged::Kind::kTab:
        seen.push_back("tab " + std::to_string(form.selectedTab()));
        break;
      case FormChanged::Kind::kRefreshHint:
        seen.push_back(form.refreshHintVisible() ? "hint" : "no hint");
        break;
    }
  });
  form.setText(FormText::kCookies, "a=1");
  form.setCaption(FormButton::kPauseCheck, "go");
  form.setEnabled(FormButton::kLogin, false);
  EXPECT_TRUE(form.claim(FormButton::kStopCheck));
  EXPECT_FALSE(form.claim(FormButton::kStopCheck));
  form.setDeleteFiles(true);
  form.setHalvingSearch(true);
  form.setSortOrder(SortOrder::kTimeDescending);
  form.setSelectedTab(kTabAddCookie);
  form.hideRefreshHint();
  EXPECT_EQ(seen, (std::vector<std::string>{"a=1", "go", "off", "off", "delete", "halving", "3",
                                            "tab 1", "no hint"}));
}

TEST(MainForm, BoxNumbersReadTheBoxText) {
  MainForm form;
  EXPECT_EQ(form.number(FormText::kFilesPerBatch), 50);
  EXPECT_EQ(form.number(FormText::kCheckThreads), 0);
  form.setText(FormText::kDepth, L8("２"));
  EXPECT_EQ(form.number(FormText::kDepth), 2);
}

TEST(MainForm, OnlyOneOfRacingStartsClaimsTheStartButton) {
  for (int round = 0; round < 50; ++round) {
    MainForm form;
    std::atomic<int> winners{0};
    std::vector<std::thread> threads;
    for (int i = 0; i < 4; ++i) {
      threads.emplace_back([&] {
        if (form.claim(FormButton::kStartCheck)) ++winners;
      });
    }
    for (std::thread& t : threads) t.join();
    ASSERT_EQ(winners.load(), 1);
    EXPECT_TRUE(form.taskRunning());
  }
}

TEST(MainForm, WorkersAndReadersShareItSafely) {
  MainForm form;
  std::atomic<bool> stop{false};
  std::thread reader([&] {
    while (!stop) {
      std::string text = form.text(FormText::kDepth);
      // Every value seen is one that was written whole.
      ASSERT_TRUE(text.empty() || text == "111111111111111111111111111111" || text == "2");
    }
  });
  std::thread writer([&] {
    for (int i = 0; i < 20000; ++i)
      form.setText(FormText::kDepth, i % 2 ? "2" : "111111111111111111111111111111");
  });
  writer.join();
  stop = true;
  reader.join();
  EXPECT_EQ(form.text(FormText::kDepth), "2");
}

}  // namespace
}  // namespace pansift
