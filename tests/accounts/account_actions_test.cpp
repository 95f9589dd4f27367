#include "accounts/account_actions.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "accounts/account_rig.h"
#include "accounts/login_flow.h"
#include "util/codepage.h"

namespace pansift {
namespace {

using testing::Account;
using testing::AccountsTest;

TEST_F(AccountsTest, DeletingKeepsOrdinalsAndAsksFirst) {
  for (const char* name : {"a", "b", "c"}) store.appendAccountRow(Account(name, name, "1", "t"));
  app.currentUserName.set(L8("a"));
  app.currentCookies.set("a");

  DeleteSelectedAccount(app, store);  // nothing selected
  EXPECT_EQ(promptTexts().back(), L8("没有选中项目。"));

  store.setSelectedRow(0);
  platform.answerNext(kIdNo);
  DeleteSelectedAccount(app, store);
  EXPECT_EQ(promptTexts().back(), L8("确定删除 a 的cookies?"));
  EXPECT_EQ(store.rowCount(), 3);

  platform.answerNext(kIdYes);
  DeleteSelectedAccount(app, store);
  ASSERT_EQ(store.rowCount(), 2);
  EXPECT_EQ(store.cellText(0, kColumnOrdinal), "2");
  EXPECT_EQ(store.cellText(1, kColumnOrdinal), "3");
  EXPECT_EQ(store.selectedRow(), -1);
  EXPECT_EQ(store.appendAccountRow(Account("d", "d", "", "")), 2);
  EXPECT_EQ(store.cellText(2, kColumnOrdinal), "3");  // ordinals may repeat
  EXPECT_EQ(app.currentCookies.get(), "a");           // the operating account stays in use
}

// A login window's browser data that outlived the window may hold the login of the
// account removed: it goes with the account, and only when the removal is confirmed.
TEST_F(AccountsTest, DeletingAnAccountRemovesTheLoginProfilesLeftBehind) {
  namespace fs = std::filesystem;
  const fs::path leftover = NewLoginProfileDir(app.dirs.cache);
  ASSERT_FALSE(leftover.empty());
  RemoveLoginProfileDir(leftover);
  fs::create_directories(leftover);  // written by the closing browser after that
  std::ofstream(leftover / "Cookies") << "BDUSS";
  store.appendAccountRow(Account("a", "a", "1", "t"));
  store.setSelectedRow(0);

  platform.answerNext(kIdNo);
  DeleteSelectedAccount(app, store);
  EXPECT_TRUE(fs::exists(leftover / "Cookies"));
  platform.answerNext(kIdYes);
  DeleteSelectedAccount(app, store);
  EXPECT_EQ(store.rowCount(), 0);
  EXPECT_FALSE(fs::exists(leftover));
  EXPECT_TRUE(fs::is_empty(LoginProfileArea(app.dirs.cache)));
}

TEST_F(AccountsTest, SwitchingSetsTheOperatingAccountFromTheSelectedRow) {
  store.appendAccountRow(Account("a", "ca", "1", "ta"));
  store.appendAccountRow(Account("张三", "cb", "2", "tb"));
  app.currentBdstoken.set("old");
  EXPECT_FALSE(SwitchOperatingAccount(app, store));
  EXPECT_EQ(promptTexts(), std::vector<std::string>{L8("没有选中项目。")});
  EXPECT_TRUE(app.currentCookies.get().empty());

  store.setSelectedRow(1);
  EXPECT_TRUE(SwitchOperatingAccount(app, store));
  EXPECT_EQ(app.currentUserName.get(), L8("张三"));
  EXPECT_EQ(app.currentCookies.get(), "cb");
  EXPECT_EQ(app.currentBdstoken.get(), "tb");  // never the previous account's token
  EXPECT_EQ(platform.prompts().size(), 1u);
}

TEST_F(AccountsTest, CopyPutsTheSelectedCellOnTheClipboardOrDoesNothing) {
  store.appendAccountRow(Account("张三", "BDUSS=1", "42", "t"));
  CopySelectedField(app, store, kColumnCookies);
  EXPECT_TRUE(platform.clipboard().empty());
  store.setSelectedRow(0);
  const std::pair<int, std::u16string> cases[] = {
      {kColumnUserName, u"张三"}, {kColumnCookies, u"BDUSS=1"}, {kColumnUk, u"42"}};
  for (const auto& [column, text] : cases) {
    CopySelectedField(app, store, column);
    EXPECT_EQ(platform.clipboard(), text);
  }
  EXPECT_TRUE(platform.prompts().empty());
}

}  // namespace
}  // namespace pansift
