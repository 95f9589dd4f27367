#include "accounts/add_account.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "accounts/account_store.h"
#include "core/app_state.h"
#include "core/headless_platform.h"
#include "core/main_form.h"
#include "simulator.h"
#include "support/sim_app.h"
#include "util/clock.h"
#include "util/codepage.h"

namespace pansift {
namespace {

using sim::AccountSpec;
using sim::LoginState;

// A headless platform that lets a test act while a prompt is up, as a user could.
class PromptHookPlatform : public HeadlessPlatform {
 public:
  using HeadlessPlatform::HeadlessPlatform;
  std::function<void(std::string_view text)> onPrompt;

  MessageBoxResult messageBox(std::string_view caption, std::string_view text, int timeoutMs,
                              MessageBoxStyle style, WindowId owner) override {
    if (onPrompt) onPrompt(text);
    return HeadlessPlatform::messageBox(caption, text, timeoutMs, style, owner);
  }
};

AccountRecord Row(const std::string& userName, const std::string& cookies, const std::string& uk,
                  const std::string& bdstoken, const std::string& status) {
  AccountRecord r;
  r.userName = userName;
  r.status = status;
  r.cookies = cookies;
  r.uk = uk;
  r.bdstoken = bdstoken;
  return r;
}

std::string Status(AccountStatus status) {
  return AccountStatusText(status);
}

class AddAccountTest : public ::testing::Test,
                       protected testing::BasicSimApp<FakeClock, PromptHookPlatform> {
 protected:
  void SetUp() override {
    ASSERT_TRUE(started);
    statusSubscription = app.status.subscribe([this](const StatusChanged& change) {
      std::lock_guard lock(mutex);
      statuses.push_back(change.text);
    });
  }
  // Every request the program sent must have been one the service takes.
  void TearDown() override { EXPECT_EQ(sim.log().rejections(), std::vector<std::string>{}); }

  // A live login on the service; its name holds a "*" the program shows as "_".
  std::string addLive(const char* userUtf8, const char* uk = "", const char* bdstoken = "") {
    return sim.addAccount({.userName = userUtf8, .uk = uk, .bdstoken = bdstoken});
  }

  std::vector<std::string> statusTexts() {
    std::lock_guard lock(mutex);
    return statuses;
  }

  // Waits (really) until `done`, for tests that act while a worker is inside a request.
  static bool waitFor(const std::function<bool()>& done) {
    for (int i = 0; i < 2000 && !done(); ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    return done();
  }

  MainForm form;
  AccountStore store;
  std::mutex mutex;
  std::vector<std::string> statuses;
  Subscription statusSubscription;
};

// ---- Input checks ----------------------------------------------------------------

TEST_F(AddAccountTest, InputCheckPassesOnEitherCookieNameInAnyCase) {
  struct Case {
    const char* text;
    bool passes;
  } cases[] = {
      {"BDUSS=abc", true}, {"x=1; baiduid=2", true},      {"BaiDuId=Q", true},
      {"bDuSs", true},     {"STOKEN=1; PANPSC=2", false}, {"bdus=1; baidu_id=2", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    HeadlessPlatform quiet(&clock);
    AppState local(quiet, dir.path());
    form.setText(FormText::kCookies, c.text);
    EXPECT_EQ(AddAccountFromInput(local, form), c.passes);
    if (c.passes) {
      EXPECT_TRUE(quiet.prompts().empty());
    } else {
      ASSERT_EQ(quiet.prompts().size(), 1u);
      EXPECT_EQ(quiet.prompts()[0].caption, L8("提示："));
      EXPECT_EQ(quiet.prompts()[0].text,
                L8("请填入正确的百度帐号cookies，或填入的不完整。\r\n\r\n是否打开教程？"));
      EXPECT_EQ(quiet.prompts()[0].timeoutMs, 10000);
      EXPECT_EQ(quiet.prompts()[0].style, kStyleWarning | 4);  // Yes/No, warning icon
      EXPECT_TRUE(quiet.openedUrls().empty());                 // it closed by itself: No
    }
  }
}

TEST_F(AddAccountTest, EmptyInputAsksForCookiesForFiveSeconds) {
  form.setText(FormText::kCookies, "");
  EXPECT_FALSE(AddAccountFromInput(app, form));
  ASSERT_EQ(platform.prompts().size(), 1u);
  EXPECT_EQ(platform.prompts()[0].caption, L8("提示："));
  EXPECT_EQ(platform.prompts()[0].text, L8("请填入要添加的帐号的cookies"));
  EXPECT_EQ(platform.prompts()[0].timeoutMs, 5000);
  EXPECT_EQ(platform.prompts()[0].style, kStyleInformation);
}

TEST_F(AddAccountTest, YesToTheHelpQuestionOpensTheHelpPage) {
  form.setText(FormText::kCookies, L8("不是cookies"));
  platform.answerNext(kIdYes);
  EXPECT_FALSE(AddAccountFromInput(app, form));
  ASSERT_EQ(platform.openedUrls().size(), 1u);
  std::string url = platform.openedUrls()[0];
  ASSERT_EQ(url.rfind("file://", 0), 0u) << url;
  EXPECT_TRUE(url.ends_with("/docs/cookies.html")) << url;
  EXPECT_TRUE(std::filesystem::is_regular_file(url.substr(7))) << url;
  EXPECT_EQ(sim.log().total(), 0u);  // nothing was started
}

TEST_F(AddAccountTest, HelpPageIsFoundBesideTheProgramFirst) {
  std::string programDir = dir.file("my programs");
  std::filesystem::create_directories(programDir + "/docs");
  std::ofstream(programDir + "/docs/cookies.html") << "<html></html>";
  EXPECT_EQ(CookieHelpPageUrl(programDir),
            "file://" + dir.path() + "/my%20programs/docs/cookies.html");

  // Without a copy beside the program, the source tree's page.
  std::string fallback = CookieHelpPageUrl(dir.file("empty"));
  EXPECT_TRUE(fallback.ends_with("/docs/cookies.html")) << fallback;
  EXPECT_EQ(fallback.find(dir.path()), std::string::npos) << fallback;
  EXPECT_TRUE(std::filesystem::is_regular_file(fallback.substr(7))) << fallback;
}

// ---- Adding ------------------------------------------------------------------------

TEST_F(AddAccountTest, PastedLiveLoginIsAppendedThenTheListTabShows) {
  std::string cookies = addLive("网盘*用户", "1234567890", "0123456789abcdef0123456789abcdef");
  store.appendAccountRow(
      Row(L8("旧帐号"), "BDUSS=old", "1", "t", Status(AccountStatus::kImported)));
  // Stored exactly as pasted: nothing trimmed, nothing merged.
  std::string pasted = cookies + "; PANPSC=extra ";
  form.setText(FormText::kCookies, pasted);
  form.setSelectedTab(kTabAddCookie);
  size_t promptsAtTabChange = 0;
  Subscription tab = form.subscribe([&](const FormChanged& change) {
    if (change.kind == FormChanged::Kind::kTab) promptsAtTabChange = platform.prompts().size();
  });

  ASSERT_TRUE(AddAccountFromInput(app, form));
  AddAccount(app, form, store, "");  // the empty text stands for the edit box

  ASSERT_EQ(store.rowCount(), 2);
  AccountRecord expected = Row(L8("网盘_用户"), pasted, "1234567890",
                               "0123456789abcdef0123456789abcdef", Status(AccountStatus::kAdded));
  expected.ordinal = "2";
  EXPECT_EQ(store.rows()[1], expected);
  EXPECT_EQ(form.text(FormText::kCookies), "");
  EXPECT_EQ(form.selectedTab(), kTabAccounts);
  ASSERT_EQ(platform.prompts().size(), 1u);
  EXPECT_EQ(platform.prompts()[0].caption, L8("提示"));
  EXPECT_EQ(platform.prompts()[0].text,
            L8("添加成功，如果需要软件下次自动导入此cookies，请点击 保存cookies 按钮。"));
  EXPECT_EQ(platform.prompts()[0].timeoutMs, 15000);
  EXPECT_EQ(promptsAtTabChange, 1u);  // the tab changed after the message
  EXPECT_EQ(statusTexts(),
            (std::vector<std::string>{L8("正在验证cookies有效性"), L8("添加的cookies有效"),
                                      L8("cookies添加成功")}));
  // Sent as stored (HTTP drops the blank at the end of a header value).
  EXPECT_EQ(sim.log().last("/")->cookies, cookies + "; PANPSC=extra");
  EXPECT_TRUE(app.currentCookies.get().empty());  // adding does not switch accounts
}

TEST_F(AddAccountTest, SameUserAgainIsReplacedOnlyAfterYes) {
  struct Case {
    MessageBoxResult answer;
    bool replaced;
  } cases[] = {{kIdYes, true}, {kIdNo, false}, {kIdTimeout, false}};
  std::string cookies = addLive("网盘*用户", "1234567890", "fedcba9876543210fedcba9876543210");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.answer);
    AccountStore rows;
    rows.appendAccountRow(Row(L8("别人"), "BDUSS=x", "9", "a", Status(AccountStatus::kImported)));
    rows.appendAccountRow(
        Row(L8("网盘_用户"), "BDUSS=stale", "1", "old", Status(AccountStatus::kImported)));
    rows.removeRow(0);  // ordinals stay: the row keeps "2"
    AccountRecord before = rows.rows()[0];
    form.setText(FormText::kCookies, cookies);
    form.setSelectedTab(kTabAddCookie);
    size_t promptsBefore = platform.prompts().size();
    platform.answerNext(c.answer);

    AddAccount(app, form, rows, "");

    std::vector<RecordedPrompt> prompts = platform.prompts();
    ASSERT_GT(prompts.size(), promptsBefore);
    EXPECT_EQ(prompts[promptsBefore].text, L8("当前用户 网盘_用户 已存在列表中，是否更新记录？"));
    EXPECT_EQ(prompts[promptsBefore].style, kStyleYesNoQuestion);
    EXPECT_EQ(prompts[promptsBefore].caption, L8("提示"));
    ASSERT_EQ(rows.rowCount(), 1);
    if (c.replaced) {
      AccountRecord after =
          Row(L8("网盘_用户"), cookies, "1234567890", "fedcba9876543210fedcba9876543210",
              Status(AccountStatus::kUpdated));
      after.ordinal = "2";
      EXPECT_EQ(rows.rows()[0], after);
      EXPECT_EQ(form.text(FormText::kCookies), "");
      EXPECT_EQ(form.selectedTab(), kTabAccounts);
      ASSERT_EQ(prompts.size(), promptsBefore + 2);
      EXPECT_EQ(prompts.back().text,
                L8("更新成功，如果需要软件下次自动导入此cookies，请点击 保存cookies 按钮。"));
      EXPECT_EQ(statusTexts().back(), L8("cookies更新成功"));
    } else {
      EXPECT_EQ(rows.rows()[0], before);
      EXPECT_EQ(form.text(FormText::kCookies), cookies);
      EXPECT_EQ(form.selectedTab(), kTabAddCookie);
      EXPECT_EQ(prompts.size(), promptsBefore + 1);
      EXPECT_EQ(statusTexts().back(), L8("添加的cookies有效"));
    }
  }
}

TEST_F(AddAccountTest, RowDeletedDuringTheQuestionIsAddedAgainNotWrittenElsewhere) {
  std::string cookies = addLive("网盘*用户", "1234567890", "fedcba9876543210fedcba9876543210");
  store.appendAccountRow(
      Row(L8("网盘_用户"), "BDUSS=stale", "1", "old", Status(AccountStatus::kImported)));
  store.appendAccountRow(Row(L8("别人"), "BDUSS=x", "9", "a", Status(AccountStatus::kImported)));
  AccountRecord other = store.rows()[1];
  platform.onPrompt = [&](std::string_view text) {
    if (text.starts_with(L8("当前用户 "))) store.removeRow(0);  // the user deletes it meanwhile
  };
  platform.answerNext(kIdYes);

  AddAccount(app, form, store, cookies);

  ASSERT_EQ(store.rowCount(), 2);
  EXPECT_EQ(store.rows()[0], other);
  EXPECT_EQ(store.cellText(1, kColumnUserName), L8("网盘_用户"));
  EXPECT_EQ(store.cellText(1, kColumnCookies), cookies);
  EXPECT_EQ(store.cellText(1, kColumnStatus), Status(AccountStatus::kAdded));
  EXPECT_EQ(platform.prompts().back().text,
            L8("添加成功，如果需要软件下次自动导入此cookies，请点击 保存cookies 按钮。"));
}

TEST_F(AddAccountTest, UnknownCookiesFailWithTheUserNameMessage) {
  addLive("网盘*用户");
  std::string unknown = "BAIDUID=ABC:FG=1; BDUSS=nobody-has-this";
  form.setText(FormText::kCookies, unknown);
  form.setSelectedTab(kTabAddCookie);

  AddAccount(app, form, store, "");

  EXPECT_EQ(store.rowCount(), 0);
  EXPECT_EQ(form.text(FormText::kCookies), unknown);
  EXPECT_EQ(form.selectedTab(), kTabAddCookie);
  EXPECT_EQ(statusTexts(),
            (std::vector<std::string>{L8("正在验证cookies有效性"), L8("cookies有效性验证失败")}));
  ASSERT_EQ(platform.prompts().size(), 1u);
  EXPECT_EQ(platform.prompts()[0].caption, L8("提示"));
  EXPECT_EQ(platform.prompts()[0].text,
            L8("获取用户名失败，可能是cookies失效，或百度网盘已更新。") + L8(kSupportSentence));
  EXPECT_EQ(platform.prompts()[0].timeoutMs, 15000);
  // Three attempts (each the web root page and its redirects), none of which got as
  // far as the liveness check.
  int rootPages = 0;
  for (const sim::LoggedRequest& request : sim.log().entries("/")) rootPages += request.path == "/";
  EXPECT_EQ(rootPages, 3);
  EXPECT_EQ(sim.log().count("/mbox/relation/getfollowlist"), 0u);
}

// A service that could not be reached is no dead login: the message adds why.
TEST_F(AddAccountTest, AnUnreachableServiceIsSaidWithItsReason) {
  app.origins.netdisk = "https://127.0.0.1:1";
  EXPECT_EQ(AddAccount(app, form, store, "BAIDUID=ABC:FG=1; BDUSS=x"),
            AccountOutcome::kUnreachable);
  EXPECT_EQ(store.rowCount(), 0);
  const std::string why = app.lastTransferError.get();
  EXPECT_TRUE(why.starts_with("127.0.0.1:1: ")) << why;
  ASSERT_EQ(platform.prompts().size(), 1u);
  EXPECT_EQ(platform.prompts()[0].text,
            L8("获取用户名失败，可能是cookies失效，或百度网盘已更新。") + L8(kSupportSentence) +
                "\r\n\r\n" + Utf8ToLocal(why));
}

TEST_F(AddAccountTest, NothingToAddEndsSilently) {
  form.setText(FormText::kCookies, "");
  AddAccount(app, form, store, "");
  EXPECT_TRUE(platform.prompts().empty());
  EXPECT_TRUE(statusTexts().empty());
  EXPECT_EQ(sim.log().total(), 0u);
}

// ---- Validating --------------------------------------------------------------------

TEST_F(AddAccountTest, ValidateAllMarksEachRowByTheService) {
  std::string live = addLive("活*着", "111", "livetoken");
  std::string expired = addLive("过期", "222", "expiredtoken");
  ASSERT_TRUE(sim.setLogin("过期", LoginState::Expired));
  // A login whose user name changed on the service since it was stored: the old
  // name now belongs to other cookies, the stored cookies to the new name.
  std::string renamed = addLive("旧名字", "333", "renamedtoken");
  AccountSpec spec = *sim.account("旧名字");
  sim.addAccount({.userName = "旧名字", .bduss = "moved-away"});
  spec.userName = "新名字";
  sim.addAccount(spec);

  store.appendAccountRow(Row(L8("活_着"), live, "", "", Status(AccountStatus::kImported)));
  store.appendAccountRow(
      Row(L8("过期"), expired, "222", "kept-token", Status(AccountStatus::kImported)));
  store.appendAccountRow(
      Row(L8("旧名字"), renamed, "333", "renamedtoken", Status(AccountStatus::kImported)));
  store.appendAccountRow(
      Row(L8("无名"), "BDUSS=unknown", "444", "t4", Status(AccountStatus::kAdded)));
  std::vector<AccountRecord> before = store.rows();
  std::vector<std::pair<int, std::string>> statusChanges;
  Subscription changes = store.subscribe([&](const AccountsChanged& change) {
    if (change.kind == AccountsChanged::Kind::kCell && change.column == kColumnStatus)
      statusChanges.emplace_back(change.row, store.cellText(change.row, kColumnStatus));
  });

  ValidateAllAccounts(app, store);

  std::vector<AccountRecord> after = store.rows();
  ASSERT_EQ(after.size(), 4u);
  EXPECT_EQ(after[0].userName, L8("活_着"));
  EXPECT_EQ(after[0].status, Status(AccountStatus::kValid));
  EXPECT_EQ(after[0].uk, "111");
  EXPECT_EQ(after[0].bdstoken, "livetoken");
  // Expired: only the status changes.
  AccountRecord expiredRow = before[1];
  expiredRow.status = Status(AccountStatus::kInvalid);
  EXPECT_EQ(after[1], expiredRow);
  EXPECT_EQ(after[2].userName, L8("新名字"));
  EXPECT_EQ(after[2].status, Status(AccountStatus::kValid));
  AccountRecord unknownRow = before[3];
  unknownRow.status = Status(AccountStatus::kInvalid);
  EXPECT_EQ(after[3], unknownRow);
  for (int row = 0; row < 4; ++row) EXPECT_EQ(after[row].ordinal, before[row].ordinal);

  // Strictly one row after the other, each "验证中" first.
  std::vector<std::pair<int, std::string>> expectedChanges = {
      {0, Status(AccountStatus::kValidating)}, {0, Status(AccountStatus::kValid)},
      {1, Status(AccountStatus::kValidating)}, {1, Status(AccountStatus::kInvalid)},
      {2, Status(AccountStatus::kValidating)}, {2, Status(AccountStatus::kValid)},
      {3, Status(AccountStatus::kValidating)}, {3, Status(AccountStatus::kInvalid)}};
  EXPECT_EQ(statusChanges, expectedChanges);
  ASSERT_EQ(platform.prompts().size(), 1u);
  EXPECT_EQ(platform.prompts()[0].text, L8("全部验证完成。"));
  EXPECT_EQ(platform.prompts()[0].caption, L8("提示"));
}

TEST_F(AddAccountTest, ValidateAllOnAnEmptyListOnlySaysSo) {
  ValidateAllAccounts(app, store);
  ASSERT_EQ(platform.prompts().size(), 1u);
  EXPECT_EQ(platform.prompts()[0].text, L8("没有要验证的cookies."));
  EXPECT_EQ(platform.prompts()[0].timeoutMs, 15000);
  EXPECT_EQ(sim.log().total(), 0u);
}

TEST_F(AddAccountTest, ValidateSelectedTouchesOnlyTheSelectedRow) {
  std::string live = addLive("活*着", "111", "livetoken");
  std::string expired = addLive("过期", "222", "expiredtoken");
  ASSERT_TRUE(sim.setLogin("过期", LoginState::Expired));
  store.appendAccountRow(Row(L8("活_着"), live, "", "", Status(AccountStatus::kAdded)));
  store.appendAccountRow(
      Row(L8("过期"), expired, "222", "expiredtoken", Status(AccountStatus::kAdded)));

  ValidateSelectedAccount(app, store);  // nothing selected
  ASSERT_EQ(platform.prompts().size(), 1u);
  EXPECT_EQ(platform.prompts()[0].text, L8("没有选中项目。"));
  EXPECT_EQ(sim.log().total(), 0u);

  store.setSelectedRow(1);
  ValidateSelectedAccount(app, store);
  EXPECT_EQ(store.cellText(0, kColumnStatus), Status(AccountStatus::kAdded));
  EXPECT_EQ(store.cellText(1, kColumnStatus), Status(AccountStatus::kInvalid));
  EXPECT_EQ(store.cellText(1, kColumnBdstoken), "expiredtoken");
  EXPECT_EQ(platform.prompts().size(), 1u);  // no message at the end

  sim.setLogin("过期", LoginState::Live);
  ValidateSelectedAccount(app, store);
  EXPECT_EQ(store.cellText(1, kColumnStatus), Status(AccountStatus::kValid));
}

TEST_F(AddAccountTest, ValidationReleasesTheListLockDuringTheReadAndFollowsItsRow) {
  std::string expired = addLive("过期", "222", "expiredtoken");
  ASSERT_TRUE(sim.setLogin("过期", LoginState::Expired));
  store.appendAccountRow(
      Row(L8("过期"), expired, "222", "expiredtoken", Status(AccountStatus::kImported)));
  store.appendAccountRow(Row(L8("别人"), "BDUSS=x", "9", "a", Status(AccountStatus::kImported)));
  store.setSelectedRow(0);
  sim.faults().root.latencyMs = 300;

  std::thread worker([&] { ValidateSelectedAccount(app, store); });
  // While the service is being asked, the lock is free: a test can take it and
  // still see "验证中". The user deletes the row meanwhile.
  bool lockFreeDuringRead = waitFor([&] {
    std::unique_lock lock(app.listLock, std::try_to_lock);
    return lock.owns_lock() &&
           store.cellText(0, kColumnStatus) == Status(AccountStatus::kValidating);
  });
  store.removeRow(0);
  worker.join();

  EXPECT_TRUE(lockFreeDuringRead);
  // The answer about the deleted account did not land on the row that moved up.
  ASSERT_EQ(store.rowCount(), 1);
  EXPECT_EQ(store.cellText(0, kColumnUserName), L8("别人"));
  EXPECT_EQ(store.cellText(0, kColumnStatus), Status(AccountStatus::kImported));
}

TEST_F(AddAccountTest, ARowDeletedWhileTheAnswerIsWrittenDoesNotMoveItOntoTheNextRow) {
  // The user deletes the validated row at the moment the worker starts writing
  // the answer (the first cell change it announces): the rest of the answer must
  // not land on the row that moves up.
  std::string live = addLive("活*着", "111", "livetoken");
  store.appendAccountRow(Row(L8("活_着"), live, "", "", Status(AccountStatus::kImported)));
  store.appendAccountRow(Row(L8("别人"), "BDUSS=x", "9", "a", Status(AccountStatus::kImported)));
  AccountRecord other = store.rows()[1];
  bool deleted = false;
  Subscription hook = store.subscribe([&](const AccountsChanged& change) {
    if (deleted || change.kind != AccountsChanged::Kind::kCell || change.column == kColumnStatus)
      return;
    deleted = true;
    std::thread ui([&] { store.removeRow(0); });  // the UI thread does not take listLock
    ui.join();
  });
  store.setSelectedRow(0);

  ValidateSelectedAccount(app, store);

  ASSERT_TRUE(deleted);
  ASSERT_EQ(store.rowCount(), 1);
  EXPECT_EQ(store.rows()[0], other);
}

}  // namespace
}  // namespace pansift
