#include "accounts/account_store.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <atomic>
#include <fstream>
#include <iterator>
#include <mutex>
#include <thread>

#include "core/app_state.h"
#include "core/headless_platform.h"
#include "core/main_form.h"
#include "support/temp_dir.h"
#include "util/codepage.h"

namespace pansift {
namespace {

std::string Bytes(std::initializer_list<int> values) {
  std::string out;
  for (int v : values) out += static_cast<char>(v);
  return out;
}

std::string Utf16Le(std::u16string_view text) {
  std::string out;
  for (char16_t unit : text) {
    out += static_cast<char>(unit & 0xFF);
    out += static_cast<char>(unit >> 8);
  }
  return out;
}

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void WriteAll(const std::string& path, std::string_view bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

AccountRecord Account(const char* userUtf8, const char* cookies, const char* uk,
                      const char* bdstoken) {
  AccountRecord r;
  r.userName = L8(userUtf8);
  r.cookies = cookies;
  r.uk = uk;
  r.bdstoken = bdstoken;
  return r;
}

class AccountsTest : public ::testing::Test {
 protected:
  testing::TempDir dir;
  HeadlessPlatform platform;
  AppState app{platform, dir.path()};
  AccountStore store;
  MainForm form;

  std::string file() const { return dir.file("baiduset.ini"); }
  std::vector<std::string> promptTexts() const {
    std::vector<std::string> texts;
    for (const RecordedPrompt& p : platform.prompts()) texts.push_back(p.text);
    return texts;
  }
};

TEST(DetectTextEncoding, ByteOrderMarksThenUtf16ThenTheFirstNonAsciiByte) {
  struct Case {
    const char* what;
    std::string bytes;
    int expected;
  };
  const Case cases[] = {
      {"empty", "", kEncodingAnsi},
      {"ASCII only", "{\"data\":[]}", kEncodingAnsi},
      {"UTF-8 mark", Bytes({0xEF, 0xBB, 0xBF}) + "{}", kEncodingUtf8},
      {"UTF-16 LE mark", Bytes({0xFF, 0xFE, 0x7B, 0x00}), kEncodingUtf16Le},
      {"UTF-16 BE mark", Bytes({0xFE, 0xFF, 0x00, 0x7B}), kEncodingUtf16Be},
      {"UTF-16 LE JSON without mark", Utf16Le(u"{\"data\":[]}"), kEncodingUtf16Le},
      {"UTF-16 LE Chinese and ASCII", Utf16Le(u"中文ab"), kEncodingUtf16Le},
      {"UTF-16 LE with a stray control unit", Utf16Le(u"ab\u0001cd"), kEncodingAnsi},
      {"three-byte UTF-8", "user:" + Bytes({0xE4, 0xB8, 0xAD}), kEncodingUtf8},
      {"four-byte UTF-8", Bytes({0xF0, 0x9F, 0x98, 0x80}), kEncodingUtf8},
      {"two-byte UTF-8 lead counts as GBK", Bytes({0xC3, 0xA9}) + "x", kEncodingAnsi},
      {"GBK lead C0-DF", L8("张三") + "!", kEncodingAnsi},
      {"lead E4 without two continuations", Bytes({0xE4, 0xB8, 0x41}), kEncodingAnsi},
      {"sequence cut off at the end", "ab" + Bytes({0xE4, 0xB8}), kEncodingAnsi},
      {"only the first non-ASCII byte decides", Bytes({0xD6, 0xD0, 0xE4, 0xB8, 0xAD}),
       kEncodingAnsi},
  };
  for (const Case& c : cases) EXPECT_EQ(DetectTextEncoding(c.bytes), c.expected) << c.what;
}

TEST(LooksLikeUtf16Le, WantsEvenLengthValidUnitsAndAsciiEvidence) {
  EXPECT_TRUE(LooksLikeUtf16Le(Utf16Le(u"ab\r\n\t") + std::string(2, '\0')));  // terminator allowed
  EXPECT_FALSE(LooksLikeUtf16Le(Utf16Le(u"ab") + "c"));                        // odd length
  EXPECT_FALSE(
      LooksLikeUtf16Le(Utf16Le(u"a") + std::string(2, '\0') + Utf16Le(u"b")));  // inner NUL
  EXPECT_FALSE(LooksLikeUtf16Le(Utf16Le(u"ab\xD800x")));                        // lone surrogate
  EXPECT_TRUE(LooksLikeUtf16Le(Utf16Le(u"ab\xD83D\xDE00")));                    // paired surrogates
  EXPECT_FALSE(LooksLikeUtf16Le(Utf16Le(u"中文中文中文中a")));                  // too little ASCII
  EXPECT_FALSE(LooksLikeUtf16Le("abcdefgh"));                                   // single-byte text
}

TEST_F(AccountsTest, SavingTwoAccountsWritesOneCompactGbkLineReadableByTheUserOnly) {
  store.appendAccountRow(Account("张三", "BDUSS=abc; BAIDUID=X1:FG=1", "123456", "tok1"));
  store.appendAccountRow(Account("bob", "BDUSS=q\"x", "", ""));
  store.setAccountCell(0, kColumnStatus, L8("有效"));
  platform.answerNext(kIdYes);
  ASSERT_TRUE(SaveAccounts(app, store));

  std::string expected =
      L8("{\"dataname\":\"cookies\",\"num\":2,\"data\":["
         "{\"user\":\"张三\",\"cookies\":\"BDUSS=abc; "
         "BAIDUID=X1:FG=1\",\"uk\":\"123456\",\"bdstoken\":\"tok1\"},"
         "{\"user\":\"bob\",\"cookies\":\"BDUSS=q\\\"x\",\"uk\":\"\",\"bdstoken\":\"\"}]}");
  EXPECT_EQ(ReadAll(file()), expected);
  struct stat st {};
  ASSERT_EQ(stat(file().c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  EXPECT_EQ(promptTexts(),
            (std::vector<std::string>{L8("确定清除以前的记录重新保存？将在软件重启后生效。"),
                                      L8("保存成功。")}));
  EXPECT_EQ(platform.prompts()[0].style, kStyleYesNoQuestion);
  EXPECT_EQ(platform.prompts()[0].caption, L8("提示"));

  std::vector<AccountRecord> back = AccountsFromFileBytes(ReadAll(file()));
  ASSERT_EQ(back.size(), 2u);
  EXPECT_EQ(back[0].userName, L8("张三"));
  EXPECT_EQ(back[1].cookies, "BDUSS=q\"x");
  EXPECT_TRUE(back[0].status.empty());  // the status is not saved
}

TEST_F(AccountsTest, CookiesWithBackslashesAndGbkTrailBytesSurviveTheFile) {
  // "\" followed by n, a lone backslash at the end, and 乗 whose GBK trail byte is 0x5C.
  std::string cookies = "A=x\\ny; B=" + L8("乗") + "; C=\\";
  store.appendAccountRow(Account("u", cookies.c_str(), "1", "t"));
  platform.answerNext(kIdYes);
  ASSERT_TRUE(SaveAccounts(app, store));
  std::vector<AccountRecord> back = AccountsFromFileBytes(ReadAll(file()));
  ASSERT_EQ(back.size(), 1u);
  EXPECT_EQ(back[0].cookies, cookies);
}

TEST_F(AccountsTest, SaveWithoutYesLeavesTheFileAlone) {
  WriteAll(file(), "old");
  store.appendAccountRow(Account("a", "c", "1", "t"));
  platform.answerNext(kIdNo);
  EXPECT_FALSE(SaveAccounts(app, store));
  EXPECT_FALSE(SaveAccounts(app, store));  // the box closed by itself
  EXPECT_EQ(ReadAll(file()), "old");
  EXPECT_EQ(platform.prompts().size(), 2u);
}

TEST_F(AccountsTest, SavingAnEmptyListWritesNumZeroAndLoadsAsNothing) {
  platform.answerNext(kIdYes);
  ASSERT_TRUE(SaveAccounts(app, store));
  EXPECT_EQ(ReadAll(file()), "{\"dataname\":\"cookies\",\"num\":0,\"data\":[]}");
  form.setSelectedTab(kTabClean);
  EXPECT_EQ(LoadAccounts(app, store, form), 0);
  EXPECT_EQ(store.rowCount(), 0);
  EXPECT_EQ(form.selectedTab(), kTabAccounts);
}

TEST_F(AccountsTest, AFailedWriteIsReportedNotCalledASuccess) {
  AppState elsewhere(platform, dir.file("no-such-folder"));
  store.appendAccountRow(Account("a", "c", "1", "t"));
  platform.answerNext(kIdYes);
  EXPECT_FALSE(SaveAccounts(elsewhere, store));
  std::vector<std::string> texts = promptTexts();
  ASSERT_EQ(texts.size(), 2u);
  EXPECT_NE(texts[1], L8("保存成功。"));
  EXPECT_EQ(texts[1].rfind(L8("保存失败"), 0), 0u);
}

TEST_F(AccountsTest, LoadingThreeAccountsNumbersThemAndShowsTheCleanTab) {
  WriteAll(file(),
           L8("{\"dataname\":\"cookies\",\"num\":9,\"data\":["
              "{\"user\":\"甲\",\"cookies\":\"c1\",\"uk\":\"1\",\"bdstoken\":\"t1\"},"
              "{\"status\":\"有效\",\"user\":\"乙\",\"cookies\":\"c2\",\"uk\":\"2\",\"extra\":5},"
              "{\"user\":\"丙\",\"cookies\":\"c3\",\"uk\":3,\"bdstoken\":\"t3\"}]}"));
  EXPECT_EQ(LoadAccounts(app, store, form), 3);
  ASSERT_EQ(store.rowCount(), 3);
  const char* names[] = {"甲", "乙", "丙"};
  for (int r = 0; r < 3; ++r) {
    EXPECT_EQ(store.cellText(r, kColumnOrdinal), std::to_string(r + 1));
    EXPECT_EQ(store.cellText(r, kColumnUserName), L8(names[r]));
    EXPECT_EQ(store.cellText(r, kColumnStatus), L8("从记录导入"));
    EXPECT_EQ(store.cellText(r, kColumnCookies), "c" + std::to_string(r + 1));
    EXPECT_EQ(store.cellText(r, kColumnUk), std::to_string(r + 1));
  }
  EXPECT_EQ(store.cellText(1, kColumnBdstoken), "");  // missing member
  EXPECT_EQ(form.selectedTab(), kTabClean);
  EXPECT_TRUE(platform.prompts().empty());
  EXPECT_TRUE(app.currentCookies.get().empty());  // loading chooses no account
}

TEST_F(AccountsTest, UnusableFilesGiveAnEmptyListOnTheAccountTabSilently) {
  struct Case {
    const char* what;
    bool exists;
    std::string bytes;
  };
  const Case cases[] = {
      {"missing", false, ""},
      {"empty", true, ""},
      {"garbage", true, Bytes({0x00, 0xFF, 0x13}) + "not json at all"},
      {"no data member", true, "{\"dataname\":\"cookies\",\"num\":1}"},
      {"data not an array", true, "{\"data\":\"x\"}"},
      {"UTF-16 with mark", true, Bytes({0xFF, 0xFE}) + Utf16Le(u"{\"data\":[{\"user\":\"a\"}]}")},
  };
  for (const Case& c : cases) {
    std::remove(file().c_str());
    if (c.exists) WriteAll(file(), c.bytes);
    AccountStore fresh;
    form.setSelectedTab(kTabAddCookie);
    EXPECT_EQ(LoadAccounts(app, fresh, form), 0) << c.what;
    EXPECT_EQ(fresh.rowCount(), 0) << c.what;
    EXPECT_EQ(form.selectedTab(), kTabAccounts) << c.what;
  }
  EXPECT_TRUE(platform.prompts().empty());
}

TEST_F(AccountsTest, Utf8FilesAreDecodedAsUtf8AndGbkFilesAsGbk) {
  struct Case {
    const char* what;
    std::string bytes;
  };
  const std::string json =
      "{\"data\":[{\"user\":\"李四\",\"cookies\":\"c\"}]}";  // UTF-8 source text
  const Case cases[] = {
      {"UTF-8 with mark", Bytes({0xEF, 0xBB, 0xBF}) + json},
      {"UTF-8 without mark", json},
      {"GBK", L8(json)},  // 李 is D3 EE in GBK: a lead byte in C0-DF
  };
  for (const Case& c : cases) {
    std::vector<AccountRecord> rows = AccountsFromFileBytes(c.bytes);
    ASSERT_EQ(rows.size(), 1u) << c.what;
    EXPECT_EQ(rows[0].userName, L8("李四")) << c.what;
  }
}

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
  EXPECT_EQ(app.currentBdstoken.get(), "old");  // the tree's refresh reads the new one
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

}  // namespace
}  // namespace pansift
