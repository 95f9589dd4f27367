#include "accounts/account_file.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <random>

#include "accounts/account_rig.h"
#include "util/codepage.h"
#include "util/files.h"

namespace pansift {
namespace {

using testing::Account;
using testing::AccountsTest;

std::string Bytes(std::initializer_list<int> values) {
  std::string out;
  for (int v : values) out += static_cast<char>(v);
  return out;
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
  EXPECT_EQ(ReadFileBytes(file()).bytes, expected);
  struct stat st {};
  ASSERT_EQ(stat(file().c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
  EXPECT_EQ(promptTexts(),
            (std::vector<std::string>{L8("确定清除以前的记录重新保存？将在软件重启后生效。"),
                                      L8("保存成功。")}));
  EXPECT_EQ(platform.prompts()[0].style, kStyleYesNoQuestion);
  EXPECT_EQ(platform.prompts()[0].caption, L8("提示"));

  std::vector<AccountRecord> back = AccountsFromFileBytes(ReadFileBytes(file()).bytes);
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
  std::vector<AccountRecord> back = AccountsFromFileBytes(ReadFileBytes(file()).bytes);
  ASSERT_EQ(back.size(), 1u);
  EXPECT_EQ(back[0].cookies, cookies);
}

TEST_F(AccountsTest, SaveWithoutYesLeavesTheFileAlone) {
  WriteFileBytes(file(), "old");
  store.appendAccountRow(Account("a", "c", "1", "t"));
  platform.answerNext(kIdNo);
  EXPECT_FALSE(SaveAccounts(app, store));
  EXPECT_FALSE(SaveAccounts(app, store));  // the box closed by itself
  EXPECT_EQ(ReadFileBytes(file()).bytes, "old");
  EXPECT_EQ(platform.prompts().size(), 2u);
}

TEST_F(AccountsTest, SavingAnEmptyListWritesNumZeroAndLoadsAsNothing) {
  platform.answerNext(kIdYes);
  ASSERT_TRUE(SaveAccounts(app, store));
  EXPECT_EQ(ReadFileBytes(file()).bytes, "{\"dataname\":\"cookies\",\"num\":0,\"data\":[]}");
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
  WriteFileBytes(
      file(),
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
      {"UTF-16 with mark", true,
       Bytes({0xFF, 0xFE}) + ToUtf16LeBytes(u"{\"data\":[{\"user\":\"a\"}]}")},
  };
  for (const Case& c : cases) {
    std::remove(file().c_str());
    if (c.exists) WriteFileBytes(file(), c.bytes);
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

// ---- The file reads back as written ------------------------------------------------

// Pieces of generated texts: ASCII with the JSON specials, controls, Chinese
// characters (乗 ends in 0x5C, 楠宝 starts like UTF-8), the euro sign (0x80, one
// byte), the full-width space, and GBK text whose bytes are also valid UTF-8 ("你好"
// in UTF-8, read as GBK).
std::vector<std::string> TextPieces() {
  return {"a",      "Z",    "0",      " ",          "=",      ";",        "\"",
          "\\",     "/",    "\\n",    "\\u4e2d",    "\t",     "\n",       "\x01",
          "\x7f",   "'",    "%",      L8("张三"),   L8("乗"), L8("楠宝"), L8("网盘"),
          L8("　"), "\x80", "\x80\\", L8("浣犲ソ"), L8("€")};
}

TEST(AccountFile, GeneratedRowsReadBackExactly) {
  // GBK whose bytes are valid UTF-8 as a whole is written with escapes, as ASCII.
  std::vector<AccountRecord> ambiguous = {Account("浣犲ソ", "BDUSS=1", "1", "t")};
  std::string escaped = AccountsToJson(ambiguous);
  EXPECT_NE(escaped.find("\\u6d63\\u72b2\\u30bd"), std::string::npos) << escaped;
  EXPECT_EQ(AccountsFromFileBytes(escaped), ambiguous);

  const std::vector<std::string> pieces = TextPieces();
  std::mt19937 random(6);
  auto text = [&] {
    std::string out;
    for (size_t n = random() % 7; n > 0; --n) out += pieces[random() % pieces.size()];
    return out;
  };
  for (int round = 0; round < 400; ++round) {
    std::vector<AccountRecord> rows(random() % 4);
    for (AccountRecord& row : rows) {
      row.userName = text();
      row.cookies = "BDUSS=" + text() + "; STOKEN=" + text();
      row.uk = text();
      row.bdstoken = text();
    }
    std::string file = AccountsToJson(rows);
    SCOPED_TRACE(::testing::PrintToString(file));
    bool isJson = false;
    std::vector<AccountRecord> back = AccountsFromFileBytes(file, &isJson);
    ASSERT_TRUE(isJson);
    ASSERT_EQ(back, rows);
  }
}

TEST(AccountFile, TheEuroSignIsOneCharacterAndABackslashAfterItStaysOne) {
  // 0x80 is a character of its own: the backslash after it is a backslash, so
  // "a=€\n" must not come back with a line feed.
  AccountRecord row = Account("u", "a=\x80\\n; b=\\", "1", "t");
  std::vector<AccountRecord> back = AccountsFromFileBytes(AccountsToJson({row}));
  ASSERT_EQ(back.size(), 1u);
  EXPECT_EQ(back[0].cookies, row.cookies);
}

TEST(AccountFile, AByteThatStartsNoGbkCharacterTakesNothingWithIt) {
  // 0xFF starts no GBK character, nor does 0x81 before a quote: each stands for
  // itself and the text after it is kept.
  std::vector<AccountRecord> rows = {Account("a", "x=\xFFy; z=1", "1", "t"),
                                     Account("b", "w=\x81\"v", "2", "s"),
                                     Account("c", "BDUSS=ok", "3", "r")};
  std::vector<AccountRecord> back = AccountsFromFileBytes(AccountsToJson(rows));
  ASSERT_EQ(back.size(), 3u);
  EXPECT_TRUE(back[0].cookies.starts_with("x=")) << back[0].cookies;
  EXPECT_TRUE(back[0].cookies.ends_with("y; z=1")) << back[0].cookies;
  EXPECT_TRUE(back[1].cookies.ends_with("\"v")) << back[1].cookies;
  EXPECT_EQ(back[2], rows[2]);
  EXPECT_EQ(LocalToUnicode("\xFF"
                           "a"),
            u"\uFFFDa");
  EXPECT_EQ(LocalToUnicode("\x81\""), u"\uFFFD\"");
}

TEST_F(AccountsTest, AFileThatIsNotJsonIsKeptAsideAndTheLogSaysSo) {
  const std::string saved = AccountsToJson({Account("张三", "BDUSS=1", "1", "t")});
  struct Case {
    const char* what;
    std::string bytes;  // written as the file; "<dir>" makes a folder of that name
    bool keptAside;
  };
  const Case cases[] = {
      {"cut off", saved.substr(0, saved.size() / 2), true},
      {"UTF-16", Bytes({0xFF, 0xFE}) + ToUtf16LeBytes(u"{\"data\":[]}"), true},
      {"a folder in its place", "<dir>", true},
      {"empty", "", false},
      {"JSON without data", "{\"num\":0}", false},
      {"good", saved, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::filesystem::remove_all(dir.path());
    std::filesystem::create_directories(dir.path());
    if (c.bytes == "<dir>") {
      std::filesystem::create_directory(file());
    } else {
      WriteFileBytes(file(), c.bytes);
    }
    AccountStore fresh;
    HeadlessPlatform quiet;
    AppState local(quiet, dir.path());
    LoadAccounts(local, fresh, form);
    std::vector<std::string> aside;
    for (const auto& entry : std::filesystem::directory_iterator(dir.path())) {
      std::string name = entry.path().filename().string();
      if (name.starts_with("baiduset.ini.damaged-")) aside.push_back(entry.path().string());
    }
    if (!c.keptAside) {
      EXPECT_TRUE(aside.empty());
      EXPECT_EQ(local.log.text(), "");
      continue;
    }
    ASSERT_EQ(aside.size(), 1u);
    EXPECT_FALSE(std::filesystem::exists(file()));
    if (c.bytes != "<dir>") {
      EXPECT_EQ(ReadFileBytes(aside[0]).bytes, c.bytes);
    }
    EXPECT_NE(local.log.text().find(L8("帐号文件无法读取，已改名保留为：") + aside[0]),
              std::string::npos)
        << local.log.text();
    EXPECT_EQ(fresh.rowCount(), 0);
    EXPECT_TRUE(quiet.prompts().empty());
    // The next save writes a new file beside the one kept aside.
    fresh.appendAccountRow(Account("b", "c", "2", "t"));
    quiet.answerNext(kIdYes);
    EXPECT_TRUE(SaveAccounts(local, fresh));
    if (c.bytes != "<dir>") {
      EXPECT_EQ(ReadFileBytes(aside[0]).bytes, c.bytes);
    }
  }
}

TEST_F(AccountsTest, ALinkInPlaceOfTheFileIsNotFollowed) {
  const std::string elsewhere = dir.file("elsewhere.json");
  WriteFileBytes(elsewhere, AccountsToJson({Account("a", "BDUSS=1", "1", "t")}));
  std::filesystem::create_symlink(elsewhere, file());
  EXPECT_EQ(LoadAccounts(app, store, form), 0);
  // Kept aside like any file that cannot be read; its target is untouched.
  EXPECT_FALSE(std::filesystem::is_symlink(file()));
  EXPECT_EQ(AccountsFromFileBytes(ReadFileBytes(elsewhere).bytes).size(), 1u);
}

TEST_F(AccountsTest, ASaveThatCannotBeWrittenKeepsThePreviousFile) {
  const std::string previous = AccountsToJson({Account("旧", "BDUSS=old", "1", "t")});
  WriteFileBytes(file(), previous);
  for (int i = 0; i < 50; ++i)
    store.appendAccountRow(Account("新", ("BDUSS=" + std::to_string(i)).c_str(), "2", "t"));

  {
    // A full disk: writes beyond a small size fail (EFBIG stands in for ENOSPC).
    struct rlimit old {};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
    auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit small = old;
    small.rlim_cur = previous.size() + 16;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    platform.answerNext(kIdYes);
    bool saved = SaveAccounts(app, store);
    setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, oldHandler);
    EXPECT_FALSE(saved);
    EXPECT_EQ(ReadFileBytes(file()).bytes, previous);
    EXPECT_FALSE(std::filesystem::exists(file() + ".tmp"));
    EXPECT_EQ(promptTexts().back().rfind(L8("保存失败"), 0), 0u);
  }

  if (geteuid() != 0) {
    // A read-only folder (root may write anyway, so only for other users).
    ASSERT_EQ(chmod(dir.path().c_str(), 0500), 0);
    platform.answerNext(kIdYes);
    EXPECT_FALSE(SaveAccounts(app, store));
    chmod(dir.path().c_str(), 0700);
    EXPECT_EQ(ReadFileBytes(file()).bytes, previous);
  }

  platform.answerNext(kIdYes);
  ASSERT_TRUE(SaveAccounts(app, store));
  EXPECT_EQ(AccountsFromFileBytes(ReadFileBytes(file()).bytes).size(), 50u);
}

}  // namespace
}  // namespace pansift
