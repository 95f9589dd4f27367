#include "accounts/account_store.h"

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <random>
#include <thread>

#include "accounts/account_file.h"
#include "accounts/account_rig.h"
#include "core/app_state.h"
#include "core/headless_platform.h"
#include "support/temp_dir.h"
#include "util/codepage.h"

namespace pansift {
namespace {

using testing::Account;

TEST(AccountStore, FindsWholeNamesAndKeepsTheSelectionOnItsRow) {
  AccountStore store;
  for (const char* name : {"bob", "bobby", "amy"})
    store.appendAccountRow(Account(name, "", "", ""));
  EXPECT_EQ(store.findAccountRow("bobby"), 1);
  EXPECT_EQ(store.findAccountRow("bo"), -1);
  EXPECT_EQ(store.findAccountRow(""), -1);
  EXPECT_FALSE(store.setAccountCell(3, kColumnUk, "x"));
  EXPECT_FALSE(store.setAccountCell(0, 6, "x"));
  store.setSelectedRow(5);
  EXPECT_EQ(store.selectedRow(), -1);

  std::vector<AccountsChanged> seen;
  Subscription sub = store.subscribe([&](const AccountsChanged& c) { seen.push_back(c); });
  store.setSelectedRow(2);
  store.removeRow(0);
  EXPECT_EQ(store.selectedRow(), 1);
  EXPECT_EQ(store.cellText(1, kColumnUserName), "amy");
  ASSERT_EQ(seen.size(), 3u);
  EXPECT_EQ(seen[1].kind, AccountsChanged::Kind::kRemoved);
  EXPECT_EQ(seen[2].kind, AccountsChanged::Kind::kSelection);
  EXPECT_EQ(seen[2].row, 1);
}

TEST(AccountStore, WorkersUnderListLockAndTheUiThreadDoNotCorruptRows) {
  testing::TempDir dir;
  HeadlessPlatform platform;
  AppState app(platform, dir.path());
  AccountStore store;
  for (int i = 0; i < 5; ++i) store.appendAccountRow(Account("u", "c", "", ""));
  std::atomic<bool> stop{false};
  std::thread validator([&] {
    for (int round = 0; round < 2000; ++round) {
      std::lock_guard lock(app.listLock);
      int row = round % 5;
      store.setAccountCell(row, kColumnStatus, L8("验证中"));
      store.setAccountCell(row, kColumnStatus, L8("有效"));
    }
  });
  std::thread adder([&] {
    for (int i = 0; i < 200; ++i) store.appendAccountRow(Account("n", "c", "", ""));
  });
  // The UI thread reads and selects without listLock.
  while (!stop) {
    AccountStore::Snapshot snap = store.snapshot();
    for (size_t i = 0; i < snap.rows.size(); ++i)
      ASSERT_EQ(snap.rows[i].ordinal, std::to_string(i + 1));
    store.setSelectedRow(static_cast<int>(snap.rows.size()) - 1);
    if (snap.rows.size() == 205) stop = true;
  }
  validator.join();
  adder.join();
  EXPECT_EQ(store.rowCount(), 205);
  EXPECT_EQ(store.cellText(4, kColumnStatus), L8("有效"));
}

TEST(AccountStore, KeyedUpdatesNeverLandOnAnotherRowWhileTheUiDeletesAndSaves) {
  // Workers update rows by cookie string while the UI thread deletes rows and puts
  // them back, and a save copies the rows. Every row must always be one account:
  // its stale texts or its fresh ones, never a mix and never another's.
  constexpr int kAccounts = 6;
  auto fresh = [](int i) {
    return Account(("new" + std::to_string(i)).c_str(), ("BDUSS=" + std::to_string(i)).c_str(),
                   std::to_string(100 + i).c_str(), "tok");
  };
  auto stale = [](int i) {
    return Account(("old" + std::to_string(i)).c_str(), ("BDUSS=" + std::to_string(i)).c_str(), "",
                   "");
  };
  auto consistent = [&](const AccountRecord& row) {
    for (int i = 0; i < kAccounts; ++i) {
      if (row.cookies != stale(i).cookies) continue;
      bool isStale = row.userName == stale(i).userName && row.uk.empty() && row.bdstoken.empty();
      bool isFresh = row.userName == fresh(i).userName && row.uk == fresh(i).uk &&
                     row.bdstoken == fresh(i).bdstoken;
      return isStale || isFresh;
    }
    return false;
  };
  AccountStore store;
  for (int i = 0; i < kAccounts; ++i) store.appendAccountRow(stale(i));
  std::atomic<bool> stop{false};
  std::thread worker([&] {
    for (int round = 0; !stop; ++round) {
      int i = round % kAccounts;
      AccountRecord update = fresh(i);
      store.updateAccount({kColumnCookies, update.cookies}, [&](AccountRecord& row) {
        row.userName = update.userName;
        row.uk = update.uk;
        row.bdstoken = update.bdstoken;
      });
    }
  });
  std::thread saver([&] {
    while (!stop) {
      for (const AccountRecord& row : AccountsFromFileBytes(AccountsToJson(store.rows())))
        ASSERT_TRUE(consistent(row)) << row.userName << " " << row.cookies << " " << row.uk;
    }
  });
  std::mt19937 random(3);
  for (int round = 0; round < 2000; ++round) {
    int row = static_cast<int>(random() % static_cast<unsigned>(kAccounts));
    AccountRecord removed = store.rows()[row];
    store.removeRow(row);
    removed.userName = stale(std::stoi(removed.cookies.substr(6))).userName;
    removed.uk.clear();
    removed.bdstoken.clear();
    store.appendAccountRow(removed);
    for (const AccountRecord& r : store.rows()) ASSERT_TRUE(consistent(r)) << r.userName;
  }
  stop = true;
  worker.join();
  saver.join();
  EXPECT_EQ(store.rowCount(), kAccounts);
}

}  // namespace
}  // namespace pansift
