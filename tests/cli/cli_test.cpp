#include "cli/cli_app.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "accounts/account_file.h"
#include "accounts/account_store.h"
#include "app/main_window.h"
#include "blocked/exports.h"
#include "cli/cli_platform.h"
#include "cli/console.h"
#include "cli/json_out.h"
#include "codec.h"
#include "core/main_form.h"
#include "https_server.h"
#include "json/json_doc.h"
#include "pansift_version.h"
#include "pipeline/catalogue_db.h"
#include "pipeline/locked_catalogue.h"
#include "support/catalogue_rows.h"
#include "support/clocks.h"
#include "support/sim_app.h"
#include "support/temp_dir.h"
#include "support/wait_until.h"
#include "util/codepage.h"
#include "util/escapes.h"
#include "util/files.h"
#include "util/text.h"

namespace pansift::cli {
namespace {

struct CliRun {
  int code = -1;
  std::string out;
  std::string err;
};

bool Contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

// The simulator with the fixture's two accounts (one live, one expired) and a data
// folder of its own; the command line runs in-process against both.
class CliTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // The task makes its catalogue in the current directory: one of this test's own,
    // not the build folder that tests running beside it share.
    previousDir = std::filesystem::current_path();
    std::filesystem::current_path(dir.path());
    ASSERT_TRUE(service.started);
    std::string error;
    ASSERT_TRUE(
        service.sim.loadFixture(std::string(PANSIFT_TEST_DATA_DIR) + "/sim/basic.json", &error))
        << error;
    live = service.sim.cookies("网盘*用户**");
    expired = service.sim.cookies("过期用户");
  }

  /// Runs pansift-cli with the global options that point it at the simulator and the
  /// data folder, then `args`.
  CliRun cli(std::vector<std::string> args, const std::string& input = {},
             const std::string& netdiskOrigin = {}) {
    std::vector<std::string> all = {
        "pansift-cli",
        "--data-dir",
        dir.path(),
        "--netdisk-origin",
        netdiskOrigin.empty() ? service.sim.netdiskOrigin() : netdiskOrigin,
        "--passport-origin",
        service.sim.passportOrigin(),
        "--portal-origin",
        service.sim.portalOrigin(),
        "--ca-file",
        service.sim.caFile()};
    all.insert(all.end(), args.begin(), args.end());
    return runRaw(all, input);
  }

  CliRun runRaw(const std::vector<std::string>& args, const std::string& input = {}) {
    std::vector<const char*> argv;
    for (const std::string& a : args) argv.push_back(a.c_str());
    std::istringstream in(input);
    std::ostringstream out;
    std::ostringstream err;
    CliRun run;
    CliIo io{in, out, err, terminal, &clock};
    io.inIsTerminal = inTerminal;
    run.code = RunCli(static_cast<int>(argv.size()), argv.data(), io);
    run.out = out.str();
    run.err = err.str();
    return run;
  }

  /// Starts pansift-cli as a program of its own (the simulator and data folder as
  /// for cli()), stdout and stderr into out.txt and err.txt; its pid, or -1.
  /// `stdoutFd`, when given, is its stdout instead.
  pid_t spawnCli(std::vector<std::string> args, int stdoutFd = -1) {
    std::vector<std::string> all = {PANSIFT_CLI_EXE,
                                    "--data-dir",
                                    dir.path(),
                                    "--netdisk-origin",
                                    service.sim.netdiskOrigin(),
                                    "--ca-file",
                                    service.sim.caFile()};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& a : all) argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t files;
    posix_spawn_file_actions_init(&files);
    posix_spawn_file_actions_addopen(&files, 0, "/dev/null", O_RDONLY, 0);
    if (stdoutFd >= 0) {
      posix_spawn_file_actions_adddup2(&files, stdoutFd, 1);
    } else {
      posix_spawn_file_actions_addopen(&files, 1, dir.file("out.txt").c_str(),
                                       O_WRONLY | O_CREAT | O_TRUNC, 0600);
    }
    posix_spawn_file_actions_addopen(&files, 2, dir.file("err.txt").c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0600);
    pid_t pid = -1;
    if (posix_spawn(&pid, argv[0], &files, nullptr, argv.data(), environ) != 0) pid = -1;
    posix_spawn_file_actions_destroy(&files);
    return pid;
  }

  /// Saves both fixture accounts as the window would.
  void saveBoth() {
    ASSERT_EQ(cli({"accounts", "add", live}).code, kExitDone);
    ASSERT_EQ(cli({"accounts", "add", expired}).code, kExitNoAccount);
  }

  std::vector<AccountRecord> savedRows() const {
    return AccountsFromFileBytes(ReadFileBytes(dir.file("baiduset.ini")).bytes);
  }

  void TearDown() override { std::filesystem::current_path(previousDir); }

  testing::SimService service;
  testing::TempDir dir;
  std::filesystem::path previousDir;
  // Waits pass at once (a twentieth of them for real, so polling loops do not spin).
  testing::ScaledClock clock;
  bool terminal = false;
  bool inTerminal = false;
  std::string live;
  std::string expired;
};

// The catalogue file of the last task (in the current directory, where the window
// keeps it too): path, fs_id and mark of every row, in an order of their own.
std::multiset<std::string> CatalogueRows() {
  std::multiset<std::string> rows;
  for (const std::vector<std::string>& cells :
       testing::CatalogueRows("vintrel.db", "select folder, target, other_1 from list")) {
    std::string row;
    for (const std::string& cell : cells) row += cell + "|";
    rows.insert(row);
  }
  return rows;
}

std::string Between(const std::string& text, const std::string& left, const std::string& right) {
  size_t from = text.find(left);
  if (from == std::string::npos) return {};
  from += left.size();
  return text.substr(from, text.find(right, from) - from);
}

// ---- the command line itself -------------------------------------------------------

TEST(CliUsage, HelpEverywhereAndUsageErrorsExitWithOne) {
  struct Case {
    std::vector<std::string> args;
    int code;
    std::string inOut;  // a text the output (help on stdout, errors on stderr) holds
  } cases[] = {
      {{"--help"}, kExitDone, "accounts"},
      {{"accounts", "--help"}, kExitDone, "validate"},
      {{"accounts", "add", "--help"}, kExitDone, "--file"},
      {{"tree", "--help"}, kExitDone, "--json"},
      {{"check", "--help"}, kExitDone, "--halving"},
      {{"--version"}, kExitDone, "pansift-cli " PANSIFT_VERSION_TEXT "\n"},
      {{"check", "--version"}, kExitDone, "pansift-cli " PANSIFT_VERSION_TEXT "\n"},
      {{}, kExitUsage, "subcommand"},
      {{"accounts"}, kExitUsage, "subcommand"},
      {{"--yes", "--no", "accounts", "list"}, kExitUsage, "excludes"},
      {{"tree", "--bogus"}, kExitUsage, "bogus"},
      {{"accounts", "remove"}, kExitUsage, "NAME"},
      {{"x"},
       kExitUsage,
       "pansift-cli: unknown command 'x' (commands: accounts, tree, history, check)"},
      {{"--yes", "lsit"}, kExitUsage, "unknown command 'lsit'"},
      {{"accounts", "lsit"},
       kExitUsage,
       "unknown command 'lsit' (accounts takes: list, add, validate, remove)"},
      {{"check", "--depth", "-1"}, kExitUsage, "--depth: must be 0 or more, not -1"},
      {{"check", "-d", "0", "--batch", "0"}, kExitUsage, "--batch: must be 1 or more, not 0"},
      {{"check", "-d", "0", "--submit-interval", "-1"}, kExitUsage, "--submit-interval: must be"},
      {{"check", "-d", "0", "--delete-interval", "-5"}, kExitUsage, "--delete-interval: must be"},
      {{"check", "-d", "0", "--rate-limit-pause", "-1"}, kExitUsage, "--rate-limit-pause: must"},
      {{"check", "-d", "0", "--threads", "0"}, kExitUsage, "--threads: must be 1 or more"},
      {{"check", "-d", "x"}, kExitUsage, "--depth: must be 0 or more, not x"},
      {{"tree", "--depth", "2"}, kExitUsage, "--depth requires --recursive"},
      {{"tree", "-R", "--depth", "-1"}, kExitUsage, "--depth: must be 0 or more"},
  };
  for (const Case& c : cases) {
    std::vector<std::string> args = {"pansift-cli"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    std::vector<const char*> argv;
    for (const std::string& a : args) argv.push_back(a.c_str());
    std::istringstream in;
    std::ostringstream out;
    std::ostringstream err;
    int code = RunCli(static_cast<int>(argv.size()), argv.data(), CliIo{in, out, err, false});
    SCOPED_TRACE(args.size() > 1 ? args[1] : "(none)");
    EXPECT_EQ(code, c.code);
    EXPECT_TRUE(Contains(out.str() + err.str(), c.inOut)) << out.str() << err.str();
  }
}

TEST(CliProgress, SaysWhatThePhaseHasDone) {
  struct Case {
    ProgressState state;
    bool bar;
    std::string text;
  } cases[] = {
      {{1534, -1, 0, 0, false, 812.4}, false, "reading folders: 1534 entries, 812/s"},
      {{10, 300, 120, 3, false, 4.3},
       true,
       "checking [#########...............] 120/300 files, 3 blocked, 4.3/s"},
      {{10, 300, 120, 3, true, 40}, false, "checking: 120/300 files, 3 blocked, 40/s (paused)"},
      {{0, 0, 0, 0, false, 0},
       true,
       "checking [########################] 0/0 files, 0 blocked, 0.0/s"},
  };
  for (const Case& c : cases) EXPECT_EQ(ProgressText(c.state, c.bar), c.text);
}

TEST(CliTerminalText, EscapesWhatCouldDriveTheTerminalAndNothingElse) {
  struct Case {
    const char* what;
    std::string text;
    std::string shown;
  } cases[] = {
      {"plain names stay", "/电影 2023/a&b's, [1].mp4 😀~", "/电影 2023/a&b's, [1].mp4 😀~"},
      {"entity words stay", "&amp;amp;&quot;divide;", "&amp;amp;&quot;divide;"},
      {"window title", "\x1b]0;title\x07", "\\x1b]0;title\\x07"},
      {"colour", "\x1b[31mred", "\\x1b[31mred"},
      {"line breaks and tab", "a\nb\rc\td", "a\\nb\\rc\\td"},
      {"other C0 and DEL", std::string("\0\x01\x1f\x7f", 4), "\\x00\\x01\\x1f\\x7f"},
      {"C1 controls",
       "\xc2\x80\xc2\x9b"
       "2J\xc2\x9f",
       "\\u0080\\u009b2J\\u009f"},
      {"after C1", "\xc2\xa0", "\xc2\xa0"},
      {"line and paragraph separators", "a\u2028b\u2029c", "a\\u2028b\\u2029c"},
      {"bidi embeddings and overrides", "\u202a\u202b\u202c\u202d\u202e",
       "\\u202a\\u202b\\u202c\\u202d\\u202e"},
      {"bidi isolates and marks", "\u2066\u2067\u2068\u2069\u200e\u200f\u061c",
       "\\u2066\\u2067\\u2068\\u2069\\u200e\\u200f\\u061c"},
      {"neighbours of the bidi ranges", "\u2027\u202f\u2065\u206a", "\u2027\u202f\u2065\u206a"},
      // A backslash is doubled, so a name that holds escape-like text reads apart
      // from an escape.
      {"backslash", "a\\b", "a\\\\b"},
      {"literal escape text", "\\u0031\\x1b", "\\\\u0031\\\\x1b"},
      {"bytes that are not UTF-8", "\xff\xfe", "\\xff\\xfe"},
      {"cut-off sequence", "a\xe4\xb8", "a\\xe4\\xb8"},
      {"overlong slash", "\xc0\xaf", "\\xc0\\xaf"},
      {"surrogate", "\xed\xa0\x80", "\\xed\\xa0\\x80"},
      {"beyond U+10FFFF", "\xf4\x90\x80\x80", "\\xf4\\x90\\x80\\x80"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(TerminalText(c.text), c.shown);
  }
}

// JSON keeps every name exact; what JSON itself must escape, and what could drive a
// terminal showing the document, are escaped in JSON's own way.
TEST(CliJson, QuotesNamesExactlyAndNothingRawReachesATerminal) {
  struct Case {
    const char* what;
    std::string text;
    std::string quoted;
  } cases[] = {
      {"plain names stay", "/电影 2023/a&b's, [1].mp4 😀~", "\"/电影 2023/a&b's, [1].mp4 😀~\""},
      {"quotes and backslashes", "a\"b\\c\\u0031", "\"a\\\"b\\\\c\\\\u0031\""},
      {"C0 controls", "\x1b[2J\n\x01", "\"\\u001b[2J\\n\\u0001\""},
      {"DEL and C1", "\x7f\xc2\x9b", "\"\\u007f\\u009b\""},
      {"separators and bidi", "a\u2028\u202e", "\"a\\u2028\\u202e\""},
      {"no-break space stays", "\xc2\xa0", "\"\xc2\xa0\""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(JsonQuote(c.text), c.quoted);
    JsonDoc doc;
    ASSERT_TRUE(doc.parseUtf8("{\"a\":" + JsonQuote(c.text) + "}"));
    EXPECT_EQ(UnicodeToUtf8(doc.getUnicode("a")), c.text);
  }
}

TEST(CliTerminalText, PromptsAndLogLinesBecomeOneLineEach) {
  struct Case {
    const char* what;
    std::string local;  // as the program writes it
    std::string prompt;
    std::string log;
  } cases[] = {
      {"paragraphs of a prompt", L8("获取失败，请重试。\r\n\r\n失败原因：x"),
       "获取失败，请重试。 失败原因：x", "获取失败，请重试。\r\n\r\n失败原因：x"},
      {"a log line's ends", L8("12:00 删除成功：/a\r\n\r\n"), "12:00 删除成功：/a",
       "12:00 删除成功：/a"},
      // A name's own lone breaks stay for the console to escape.
      {"breaks of a name", L8("/a\nb\r\r\n"), "/a\nb\r", "/a\nb\r"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(PromptLine(c.local), c.prompt);
    EXPECT_EQ(LogLine(c.local), c.log);
  }
  std::ostringstream err;
  Console console(err, false);
  console.line(PromptLine(L8("删除 /a\nb\x1b[2J 的cookies?\r\n")));
  EXPECT_EQ(err.str(), "删除 /a\\nb\\x1b[2J 的cookies?\n");
}

// ---- accounts ----------------------------------------------------------------------

TEST_F(CliTest, AddedAccountsAreSavedInTheWindowsFileAndListed) {
  // From an argument, with the line break a pasted string may carry.
  CliRun added = cli({"accounts", "add", live + "\n"});
  EXPECT_EQ(added.code, kExitDone) << added.err;
  std::vector<AccountRecord> rows = savedRows();
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0].userName, L8("网盘_用户__"));
  EXPECT_EQ(rows[0].cookies, live);
  EXPECT_EQ(rows[0].uk, "1098765432");
  EXPECT_EQ(
      std::filesystem::status(dir.file("baiduset.ini")).permissions() & std::filesystem::perms::all,
      std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);

  // The same user from stdin: the update question times out and the row stays.
  std::string renewed = live + "; PANPSC=new";
  CliRun kept = cli({"accounts", "add"}, renewed + "\n");
  EXPECT_EQ(kept.code, kExitDone);
  EXPECT_TRUE(Contains(kept.err, "已存在列表中")) << kept.err;
  EXPECT_EQ(savedRows()[0].cookies, live);
  // --yes answers it; from a file this time.
  std::string file = dir.file("cookies.txt");
  std::ofstream(file) << renewed << "\r\n";
  CliRun updated = cli({"--yes", "accounts", "add", "--file", file});
  EXPECT_EQ(updated.code, kExitDone) << updated.err;
  ASSERT_EQ(savedRows().size(), 1u);
  EXPECT_EQ(savedRows()[0].cookies, renewed);

  CliRun list = cli({"accounts", "list"});
  EXPECT_EQ(list.code, kExitDone);
  EXPECT_EQ(list.out, "1\t网盘_用户__\t1098765432\n");
  CliRun json = cli({"accounts", "list", "--json"});
  EXPECT_EQ(json.out, "[{\"user\":\"网盘_用户__\",\"uk\":\"1098765432\"}]\n");
}

TEST_F(CliTest, RemoveAsksAndOnlyYesRemoves) {
  saveBoth();
  ASSERT_EQ(savedRows().size(), 2u);
  // Not removed is not done.
  CliRun kept = cli({"accounts", "remove", "过期用户"});
  EXPECT_EQ(kept.code, kExitUsage);
  EXPECT_TRUE(Contains(kept.err, "确定删除 过期用户 的cookies?")) << kept.err;
  EXPECT_TRUE(Contains(kept.err, "pansift-cli: kept 过期用户")) << kept.err;
  EXPECT_EQ(savedRows().size(), 2u);
  EXPECT_EQ(cli({"--no", "accounts", "remove", "过期用户"}).code, kExitUsage);
  EXPECT_EQ(savedRows().size(), 2u);

  CliRun removed = cli({"accounts", "remove", "过期用户", "--yes"});
  EXPECT_EQ(removed.code, kExitDone) << removed.err;
  ASSERT_EQ(savedRows().size(), 1u);
  EXPECT_EQ(savedRows()[0].userName, L8("网盘_用户__"));
  EXPECT_EQ(cli({"accounts", "remove", "nobody", "--yes"}).code, kExitNoAccount);
}

// --account names a saved account exactly, compared as Unicode: in GBK both emoji
// would become "?" and the two names one.
TEST_F(CliTest, AccountIsChosenByItsExactName) {
  const std::string grin = "乙😀用户";
  const std::string devil = "乙😈用户";
  // The accounts file as a person or another program may have written it: UTF-8.
  std::string file = "{\"dataname\":\"cookies\",\"num\":2,\"data\":[";
  for (const std::string& name : {grin, devil}) {
    sim::AccountSpec spec;
    spec.userName = name;
    std::string cookies = service.sim.addAccount(spec);
    ASSERT_NE(service.sim.addFile(name, "/" + name + ".txt", 1), 0u);
    file += std::string(name == grin ? "" : ",") + "{\"user\":\"" + name + "\",\"cookies\":\"" +
            cookies + "\",\"uk\":\"" + service.sim.account(name)->uk + "\",\"bdstoken\":\"" +
            service.sim.account(name)->bdstoken + "\"}";
  }
  std::ofstream(dir.file("baiduset.ini"), std::ios::binary) << file << "]}";
  std::vector<AccountRecord> rows = savedRows();
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(UnicodeToUtf8(DecodeUnicodeEscapes(rows[1].userName)), devil);

  struct Case {
    const char* what;
    std::vector<std::string> args;
    int code;
    std::string out;
  } cases[] = {
      {"the second", {"--account", devil, "tree"}, kExitDone, devil + ".txt\n"},
      {"the first", {"--account", grin, "tree"}, kExitDone, grin + ".txt\n"},
      {"as GBK has it", {"--account", "乙?用户", "tree"}, kExitNoAccount, ""},
      {"a part of the name", {"--account", "乙😈", "tree"}, kExitNoAccount, ""},
      {"validate one", {"accounts", "validate", devil}, kExitDone, "\t有效\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    CliRun run = cli(c.args);
    EXPECT_EQ(run.code, c.code) << run.err;
    // (validate shows the name the service gave the login, which it reads as GBK)
    EXPECT_TRUE(run.out.ends_with(c.out)) << run.out;
    EXPECT_EQ(run.out.empty(), c.out.empty()) << run.out;
  }

  // A third row with the same name, 乙 spelled as an escape in the file: the name no
  // longer says which account is meant, and nothing is done.
  AccountRecord twin = rows[1];
  twin.userName = "\\u4e59" + twin.userName.substr(L8("乙").size());
  twin.cookies += "; twin=1";
  rows.push_back(twin);
  std::ofstream(dir.file("baiduset.ini"), std::ios::binary | std::ios::trunc)
      << AccountsToJson(rows);
  for (std::vector<std::string> args : {std::vector<std::string>{"--account", devil, "tree"},
                                        {"--yes", "accounts", "remove", devil},
                                        {"accounts", "validate", devil}}) {
    SCOPED_TRACE(args[1]);
    CliRun run = cli(args);
    EXPECT_EQ(run.code, kExitUsage);
    EXPECT_EQ(run.out, "");
    EXPECT_TRUE(Contains(run.err, "the name 乙😈用户 is ambiguous: 2 saved accounts (rows 2, 3)"))
        << run.err;
  }
  EXPECT_EQ(savedRows().size(), 3u);
  EXPECT_EQ(cli({"--account", grin, "tree"}).out, grin + ".txt\n");
  CliRun removed = cli({"--yes", "accounts", "remove", grin});
  EXPECT_EQ(removed.code, kExitDone) << removed.err;
  rows = savedRows();
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(UnicodeToUtf8(DecodeUnicodeEscapes(rows[0].userName)), devil);
}

TEST_F(CliTest, ValidateReportsEachLoginAndTheWorstOutcome) {
  saveBoth();
  CliRun all = cli({"accounts", "validate"});
  EXPECT_EQ(all.code, kExitNoAccount);
  EXPECT_EQ(all.out, "网盘_用户__\t有效\n过期用户\t已失效\n");
  EXPECT_EQ(cli({"accounts", "validate", "网盘_用户__"}).code, kExitDone);

  CliRun json = cli({"accounts", "validate", "--json"});
  EXPECT_EQ(json.code, kExitNoAccount);
  EXPECT_EQ(json.out,
            "[{\"user\":\"网盘_用户__\",\"uk\":\"1098765432\",\"valid\":true,\"status\":\"有效\"},"
            "{\"user\":\"过期用户\",\"uk\":\"\",\"valid\":false,\"status\":\"已失效\"}]\n");

  // Nothing listens on port 1: the answer is not known, which is not a dead login.
  CliRun down = cli({"accounts", "validate"}, {}, "https://127.0.0.1:1");
  EXPECT_EQ(down.code, kExitService);
  EXPECT_EQ(down.out, "网盘_用户__\tunreachable\n过期用户\tunreachable\n");
  EXPECT_TRUE(Contains(down.err,
                       "pansift-cli: the netdisk service could not be reached "
                       "(https://127.0.0.1:1): 127.0.0.1:1: "))
      << down.err;
  CliRun downJson =
      cli({"accounts", "validate", "--json", "网盘_用户__"}, {}, "https://127.0.0.1:1");
  EXPECT_EQ(downJson.code, kExitService);
  JsonDoc result;
  ASSERT_TRUE(result.parseUtf8(downJson.out)) << downJson.out;
  EXPECT_EQ(result.getText("[0].status"), "unreachable");
  EXPECT_TRUE(result.getText("[0].error").starts_with("127.0.0.1:1: ")) << downJson.out;
}

// Every way of getting no usable account exits with 2, a service that cannot be
// reached with 3, whatever the command.
TEST_F(CliTest, ExitCodesOfAccountAndServiceFailures) {
  struct Case {
    const char* what;
    bool saved;
    std::vector<std::string> args;
    std::string input;
    std::string origin;
    int code;
  } cases[] = {
      {"no saved account", false, {"tree", "/"}, {}, {}, kExitNoAccount},
      {"unknown --account", true, {"--account", "nobody", "tree"}, {}, {}, kExitNoAccount},
      {"expired login", true, {"--account", "过期用户", "tree", "/"}, {}, {}, kExitNoAccount},
      {"not a cookie string", false, {"accounts", "add", "hello"}, {}, {}, kExitNoAccount},
      {"empty stdin", false, {"accounts", "add"}, "\n", {}, kExitNoAccount},
      {"unknown login",
       false,
       {"accounts", "add", "BAIDUID=x; BDUSS=nobody"},
       {},
       {},
       kExitNoAccount},
      {"expired login added", false, {"accounts", "add", "@expired"}, {}, {}, kExitNoAccount},
      {"service down (tree)", true, {"tree", "/"}, {}, "https://127.0.0.1:1", kExitService},
      {"service down (add)",
       false,
       {"accounts", "add", "@live"},
       {},
       "https://127.0.0.1:1",
       kExitService},
      {"no such folder", true, {"tree", "/没有这个目录"}, {}, {}, kExitUsage},
      {"a file is no folder", true, {"tree", "/readme.txt"}, {}, {}, kExitUsage},
      {"missing cookie file",
       false,
       {"accounts", "add", "--file", "/nonexistent"},
       {},
       {},
       kExitUsage},
  };
  for (Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::filesystem::remove(dir.file("baiduset.ini"));
    if (c.saved) saveBoth();
    for (std::string& a : c.args) {
      if (a == "@live") a = live;
      if (a == "@expired") a = expired;
    }
    CliRun run = cli(c.args, c.input, c.origin);
    EXPECT_EQ(run.code, c.code) << run.err;
  }
}

// ---- tree --------------------------------------------------------------------------

TEST_F(CliTest, TreeListsFoldersOfTheOperatingAccount) {
  saveBoth();
  CliRun root = cli({"tree"});
  EXPECT_EQ(root.code, kExitDone) << root.err;
  // The window's default order: by name, ascending.
  for (const char* name : {"电影 2023/\n", "文档/\n", "readme.txt\n", "移动目标/\n"})
    EXPECT_TRUE(Contains(root.out, name)) << root.out;

  CliRun movies = cli({"tree", "/电影 2023", "--json"});
  EXPECT_EQ(movies.code, kExitDone) << movies.err;
  for (const char* entry : {"{\"name\":\"a&b's, [1].mp4\",\"folder\":false,",
                            "{\"name\":\"普通 视频.mkv\",\"folder\":false,",
                            "{\"name\":\"😀 emoji~name.mp4\",\"folder\":false,"})
    EXPECT_TRUE(Contains(movies.out, entry)) << movies.out;
  EXPECT_TRUE(movies.out.starts_with("{\"folder\":\"/电影 2023\",\"entries\":[")) << movies.out;

  CliRun deep = cli({"tree", "/文档/子目录/"});
  EXPECT_EQ(deep.code, kExitDone) << deep.err;
  EXPECT_EQ(deep.out, "deep.txt\n");
}

// ---- names on the terminal ---------------------------------------------------------

// What in `text` could drive a terminal, split a line or reorder it: a control
// character other than the line feeds that end lines (and, in results, the tabs
// between their fields), DEL, a C1 control, a line or paragraph separator or a bidi
// formatting character (all as UTF-8); "" when none.
std::string RawControlIn(const std::string& text, bool tabs = false) {
  static const char* const kFormats[] = {"\u2028", "\u2029", "\u202a", "\u202b", "\u202c",
                                         "\u202d", "\u202e", "\u2066", "\u2067", "\u2068",
                                         "\u2069", "\u200e", "\u200f", "\u061c"};
  for (size_t i = 0; i < text.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    bool c1 = c == 0xC2 && i + 1 < text.size() &&
              (static_cast<unsigned char>(text[i + 1]) & 0xE0) == 0x80;
    if ((c < 0x20 && c != '\n' && !(tabs && c == '\t')) || c == 0x7F || c1)
      return "byte " + std::to_string(c) + " at " + std::to_string(i) + " in: " + text;
  }
  for (const char* format : kFormats) {
    if (Contains(text, format)) return "a bidi or separator character in: " + text;
  }
  return {};
}

TEST_F(CliTest, NamesAreShownNeverExecuted) {
  // Sets the window title, colours, splits and rewrites the line, then reverses it.
  const std::string evil = "\x1b]0;title\x07\x1b[31m红\n行\r回\u202e4pm.exe";
  const std::string folder = "/恶意\x1b[2J目录";
  ASSERT_NE(service.sim.addFile("网盘*用户**", folder + "/" + evil, 10, true), 0u);
  ASSERT_NE(service.sim.addFile("网盘*用户**", folder + "/plain.txt", 10), 0u);
  const std::string user = "坏\x1b]0;pwned\x07名\n";
  sim::AccountSpec spec;
  spec.userName = user;
  std::string badCookies = service.sim.addAccount(spec);
  saveBoth();
  ASSERT_EQ(cli({"accounts", "add", badCookies}).code, kExitDone);

  // The JSON result keeps the name as it is, escaped the JSON way, what could drive
  // a terminal showing it included.
  CliRun json = cli({"tree", folder, "--json"});
  EXPECT_TRUE(Contains(json.out,
                       "\"name\":\"\\u001b]0;title\\u0007\\u001b[31m红\\n行\\r回\\u202e4pm.exe\""))
      << json.out;
  EXPECT_EQ(RawControlIn(json.out), "");

  struct Case {
    const char* what;
    std::vector<std::string> args;
    int code;
    std::string inOut;  // escaped text the results hold
    std::string inErr;  // and the log, prompts and errors
  } cases[] = {
      {"tree listing",
       {"tree", folder},
       kExitDone,
       "\\x1b]0;title\\x07\\x1b[31m红\\n行\\r回\\u202e4pm.exe\nplain.txt\n",
       {}},
      {"listing of the root", {"tree", "/"}, kExitDone, "恶意\\x1b[2J目录/\n", {}},
      {"check, delete and log",
       {"--yes", "check", folder, "-d", "0", "--delete", "--batch", "1", "--rate-limit-pause", "1"},
       kExitDone,
       "/恶意\\x1b[2J目录/\\x1b]0;title\\x07\\x1b[31m红\\n行\\r回\\u202e4pm.exe\t删除成功\n",
       "文件已被和谐：/恶意\\x1b"},
      {"no such folder",
       {"tree", folder + "/plain.txt\x1b[31m"},
       kExitUsage,
       {},
       "no such folder: /恶意\\x1b[2J目录/plain.txt\\x1b[31m\n"},
      {"a file named as a folder",
       {"tree", folder + "/plain.txt"},
       kExitUsage,
       {},
       "not a folder: /恶意\\x1b[2J目录/plain.txt\n"},
      {"no such account",
       {"--account", "x\x1b]0;t\x07", "tree"},
       kExitNoAccount,
       {},
       "no saved account named x\\x1b]0;t\\x07\n"},
      {"accounts list", {"accounts", "list"}, kExitDone, "\t坏\\x1b]0;pwned\\x07名\\n\t", {}},
      {"validate",
       {"accounts", "validate"},
       kExitNoAccount,
       "\n坏\\x1b]0;pwned\\x07名\\n\t有效\n",
       {}},
      {"remove asks",
       {"accounts", "remove", user},
       kExitUsage,
       {},
       "确定删除 坏\\x1b]0;pwned\\x07名\\n 的cookies? [no"},
      {"the parser's error", {"tree", "--x\x1b[31m"}, kExitUsage, {}, "--x\\x1b[31m\n"},
      {"unreadable cookie file",
       {"accounts", "add", "--file", "/no/such\x1b[31m"},
       kExitUsage,
       {},
       "cannot read /no/such\\x1b[31m\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    CliRun run = cli(c.args);
    EXPECT_EQ(run.code, c.code) << run.err;
    EXPECT_EQ(RawControlIn(run.out, true), "");
    EXPECT_EQ(RawControlIn(run.err), "");
    EXPECT_TRUE(Contains(run.out, c.inOut)) << run.out;
    EXPECT_TRUE(Contains(run.err, c.inErr)) << run.err;
  }
}

// ---- check -------------------------------------------------------------------------

// fs_id and path (UTF-8) of each blocked file of a "check --json" result.
std::set<std::pair<std::string, std::string>> BlockedOf(const std::string& json) {
  std::set<std::pair<std::string, std::string>> found;
  for (size_t at = json.find("{\"fs_id\":\""); at != std::string::npos;
       at = json.find("{\"fs_id\":\"", at + 1)) {
    std::string entry = json.substr(at, json.find('}', at) - at);
    found.insert({Between(entry, "\"fs_id\":\"", "\""), Between(entry, "\"path\":\"", "\",")});
  }
  return found;
}

TEST_F(CliTest, CheckFindsTheSameBlockedFilesAndCatalogueAsTheWindow) {
  saveBoth();
  std::string table = dir.file("table.txt");
  CliRun run = cli({"check", "/", "--depth", "0", "--json", "--export-table", table});
  ASSERT_EQ(run.code, kExitDone) << run.err;
  const std::set<std::pair<std::string, std::string>> expected = {
      {"388670939482157", "/电影 2023/a&b's, [1].mp4"},
      {"388670939482159", "/电影 2023/😀 emoji~name.mp4"}};
  EXPECT_EQ(BlockedOf(run.out), expected) << run.out;
  // Entries: six files and four folders.
  EXPECT_TRUE(run.out.starts_with(
      "{\"folder\":\"/\",\"total\":10,\"resumed\":false,\"files\":6,\"folders\":4,"))
      << run.out;
  // No delete was asked for: the window's "待处理".
  EXPECT_TRUE(Contains(run.out, "\"status\":\"待处理\"")) << run.out;
  EXPECT_TRUE(run.out.ends_with(",\"undecided\":0,\"failed_folders\":[]}\n")) << run.out;
  std::multiset<std::string> cliCatalogue = CatalogueRows();
  ASSERT_FALSE(cliCatalogue.empty());
  // The log's summary and plain progress lines went to stderr; stdout holds the JSON only.
  EXPECT_TRUE(Contains(run.err, "已检测完成，总检测文件数量")) << run.err;
  EXPECT_TRUE(Contains(run.err, "checking: ")) << run.err;
  // The log's lines name the files as stdout does, not as the window's pane shows them.
  for (const auto& [fsId, path] : expected)
    EXPECT_TRUE(Contains(run.err, "文件已被和谐：" + path + "\n")) << run.err;
  EXPECT_EQ(std::count(run.out.begin(), run.out.end(), '\n'), 1);

  // The exported table reads back as the window's table import reads it.
  std::vector<BlockedRow> imported = ParseTable(DecodeOwnFile(ReadFileBytes(table).bytes));
  std::set<std::string> importedIds;
  for (const BlockedRow& row : imported) importedIds.insert(row.fsid);
  EXPECT_EQ(importedIds, (std::set<std::string>{"388670939482157", "388670939482159"}));

  // The window: the same data folder, its event table driven as a user would.
  HeadlessPlatform platform(&clock);
  AppState app(platform, dir.path());
  service.point(app);
  MainForm form;
  AccountStore accounts;
  std::set<std::pair<std::string, std::string>> inWindow;
  {
    MainWindow window(app, form, accounts);
    window.start();
    window.waitForAccountLoader();
    window.onAccountDoubleClicked(0);
    window.waitForWorkers();
    window.tree().select(window.tree().root());
    form.setText(FormText::kDepth, "0");
    window.onStartCheckClicked();
    for (int i = 0; i < 3000 && (form.taskRunning() || window.checkTask().active()); ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    window.waitForWorkers();
    for (const BlockedRow& row : window.blocked().rows())
      inWindow.insert({row.fsid, UnicodeToUtf8(row.netdiskPath)});
  }
  EXPECT_EQ(inWindow, expected);
  EXPECT_EQ(CatalogueRows(), cliCatalogue);
}

// A scheduled check reports only what is new: the history (history.db in the data
// folder) keeps every finding across runs, with its first and last sighting and state.
TEST_F(CliTest, TheHistoryKeepsEveryFindingAndASecondCheckMarksOnlyTheNewOnes) {
  saveBoth();
  const std::string user = "网盘*用户**";
  const auto blockedOf = [](const CliRun& run) {
    std::map<std::string, std::pair<bool, std::string>> found;  // path: new, state
    JsonDoc result;
    EXPECT_TRUE(result.parseUtf8(run.out)) << run.out;
    for (int i = 0; i < result.count("blocked"); ++i) {
      const std::string at = "blocked[" + std::to_string(i) + "]";
      found[UnicodeToUtf8(result.getUnicode(at + ".path"))] = {
          result.getJson(at + ".new") == "true", result.getText(at + ".state")};
    }
    return found;
  };
  CliRun first = cli({"check", "/", "--depth", "0", "--json"});
  ASSERT_EQ(first.code, kExitDone) << first.err;
  const std::string a = "/电影 2023/a&b's, [1].mp4";
  const std::string b = "/电影 2023/😀 emoji~name.mp4";
  EXPECT_EQ(blockedOf(first), (std::map<std::string, std::pair<bool, std::string>>{
                                  {a, {true, "pending"}}, {b, {true, "pending"}}}));

  const std::string added = "/电影 2023/new \"q\" \\u0031 &amp; 😀.mp4";
  service.sim.addFile(user, added, 1, true);
  CliRun second = cli({"--yes", "check", "/", "--depth", "0", "--json", "--delete"});
  ASSERT_EQ(second.code, kExitDone) << second.err;
  EXPECT_EQ(blockedOf(second),
            (std::map<std::string, std::pair<bool, std::string>>{
                {a, {false, "deleted"}}, {b, {false, "deleted"}}, {added, {true, "deleted"}}}));

  CliRun history = cli({"history", "--json"});
  ASSERT_EQ(history.code, kExitDone) << history.err;
  JsonDoc records;
  ASSERT_TRUE(records.parseUtf8(history.out)) << history.out;
  ASSERT_EQ(records.count(""), 3) << history.out;
  std::set<std::string> paths;
  for (int i = 0; i < 3; ++i) {
    const std::string at = "[" + std::to_string(i) + "]";
    paths.insert(UnicodeToUtf8(records.getUnicode(at + ".path")));
    // The account as the saved list names it.
    EXPECT_EQ(UnicodeToUtf8(records.getUnicode(at + ".account")), "网盘_用户__");
    EXPECT_EQ(records.getText(at + ".state"), "deleted");
    const std::string firstSeen = records.getText(at + ".first_seen");
    EXPECT_EQ(firstSeen.size(), std::string("2026-12-11T10:00:00+00:00").size()) << firstSeen;
    EXPECT_LE(firstSeen, records.getText(at + ".last_seen"));
  }
  EXPECT_EQ(paths, (std::set<std::string>{a, b, added}));
  EXPECT_EQ(cli({"history", "--since", "2999-01-01", "--json"}).out, "[]\n");
  EXPECT_EQ(cli({"--account", "nobody", "history", "--json"}).out, "[]\n");
  EXPECT_EQ(cli({"--account", "网盘_用户__", "history", "--json"}).out, history.out);
  CliRun text = cli({"history"});
  EXPECT_TRUE(Contains(text.out, "\tdeleted\t")) << text.out;
  EXPECT_EQ(cli({"history", "--since", "last week"}).code, kExitUsage);
}

// Every saved account in one command: one task per account in turn, each with its own
// catalogue; a dead login is reported and the others still run; the exit code is the
// most serious one.
TEST_F(CliTest, AllAccountsChecksEachSavedAccountInTurn) {
  ASSERT_EQ(cli({"accounts", "add", live}).code, kExitDone);
  const char* second = "第二&amp;用户";
  const char* dead = "失效 用户";
  for (const char* user : {second, dead}) {
    service.sim.addAccount({.userName = user});
    service.sim.addFile(user, "/电影 2023/" + std::string(user) + " 被封.mp4", 1, true);
    service.sim.addFile(user, "/电影 2023/ok.mp4", 1);
    ASSERT_EQ(cli({"accounts", "add", service.sim.cookies(user)}).code, kExitDone);
  }
  service.sim.setLogin(dead, sim::LoginState::Expired);

  CliRun run = cli({"check", "/电影 2023", "--depth", "0", "--all-accounts", "--json"});
  EXPECT_EQ(run.code, kExitNoAccount) << run.err;
  std::vector<std::string> lines;
  std::istringstream out(run.out);
  for (std::string line; std::getline(out, line);) lines.push_back(line);
  ASSERT_EQ(lines.size(), 3u) << run.out;
  std::map<std::string, std::set<std::string>> blockedByAccount;
  std::map<std::string, std::string> errors;
  for (const std::string& line : lines) {
    JsonDoc result;
    ASSERT_TRUE(result.parseUtf8(line)) << line;
    const std::string account = UnicodeToUtf8(result.getUnicode("account"));
    errors[account] = result.getText("error");
    for (int i = 0; i < result.count("blocked"); ++i)
      blockedByAccount[account].insert(
          UnicodeToUtf8(result.getUnicode("blocked[" + std::to_string(i) + "].path")));
  }
  EXPECT_EQ(blockedByAccount,
            (std::map<std::string, std::set<std::string>>{
                {"网盘_用户__", {"/电影 2023/a&b's, [1].mp4", "/电影 2023/😀 emoji~name.mp4"}},
                {second, {"/电影 2023/第二&amp;用户 被封.mp4"}}}));
  EXPECT_EQ(errors, (std::map<std::string, std::string>{
                        {"网盘_用户__", ""}, {second, ""}, {dead, "login"}}));
  // The progress names each account; each had a catalogue of its own.
  EXPECT_TRUE(Contains(run.err, "checking account 第二&amp;用户")) << run.err;
  int catalogues = 0;
  for (const auto& entry : std::filesystem::directory_iterator(dir.path()))
    if (entry.path().filename().string().starts_with("vintrel-") &&
        entry.path().extension() == ".db")
      ++catalogues;
  EXPECT_EQ(catalogues, 2);

  // --account several times: those accounts only, in that order; all live, exit 0.
  CliRun two = cli({"--account", second, "--account", "网盘_用户__", "check", "/电影 2023",
                    "--depth", "0", "--json"});
  EXPECT_EQ(two.code, kExitDone) << two.err;
  EXPECT_TRUE(two.out.starts_with("{\"account\":\"第二&amp;用户\"")) << two.out;
  EXPECT_EQ(std::count(two.out.begin(), two.out.end(), '\n'), 2);
  EXPECT_EQ(cli({"--account", second, "--account", dead, "tree"}).code, kExitUsage);
}

TEST_F(CliTest, HalvingAsksAboutHalvesOfARefusedBatch) {
  saveBoth();
  CliRun run = cli({"check", "/电影 2023", "-d", "1", "--halving", "--batch", "3",
                    "--submit-interval", "0", "--rate-limit-pause", "1"});
  ASSERT_EQ(run.code, kExitDone) << run.err;
  EXPECT_EQ(std::count(run.out.begin(), run.out.end(), '\n'), 2) << run.out;
  // Asked file by file, a refused batch of three or four never gives a probe of two.
  size_t pairs = 0;
  for (const sim::LoggedRequest& probe : service.sim.log().entries("/api/download")) {
    size_t first = probe.query.find("%2C");
    if (first != std::string::npos && probe.query.find("%2C", first + 1) == std::string::npos)
      ++pairs;
  }
  EXPECT_GT(pairs, 0u);
}

TEST_F(CliTest, CheckPrintsPathsAndDeletesWhenAsked) {
  saveBoth();
  terminal = true;
  CliRun run = cli({"--yes", "check", "/电影 2023", "-d", "1", "--delete", "--threads", "2",
                    "--batch", "2", "--submit-interval", "0", "--delete-interval", "0",
                    "--rate-limit-pause", "1", "--preread-threads", "3"});
  ASSERT_EQ(run.code, kExitDone) << run.err;
  EXPECT_EQ(service.sim.find("网盘*用户**", "/电影 2023/a&b's, [1].mp4"), std::nullopt);
  EXPECT_EQ(service.sim.find("网盘*用户**", "/电影 2023/😀 emoji~name.mp4"), std::nullopt);
  EXPECT_TRUE(service.sim.find("网盘*用户**", "/电影 2023/普通 视频.mkv").has_value());
  // One line per blocked file: its path and what became of it.
  std::vector<std::string> lines;
  for (size_t at = 0; at < run.out.size();) {
    size_t end = run.out.find('\n', at);
    lines.push_back(run.out.substr(at, end - at));
    at = end + 1;
  }
  ASSERT_EQ(lines.size(), 2u) << run.out;
  std::sort(lines.begin(), lines.end());
  EXPECT_TRUE(lines[0].starts_with("/电影 2023/a&b's, [1].mp4\t")) << lines[0];
  EXPECT_TRUE(lines[1].starts_with("/电影 2023/😀 emoji~name.mp4\t")) << lines[1];
  EXPECT_TRUE(lines[0].ends_with("\t删除成功")) << lines[0];
  // A terminal gets the bar, rewritten in place.
  EXPECT_TRUE(Contains(run.err, "\r\033[Kchecking [")) << run.err;
}

// Each blocked file beside a normal sibling whose name a careless decoder would take
// for its own (and the other way round), in folders whose names are awkward too: the
// check deletes exactly the blocked files and reports their paths exactly.
TEST_F(CliTest, CheckDeletesExactlyTheBlockedFileOfEachSiblingPair) {
  saveBoth();
  const std::string user = "网盘*用户**";
  const std::pair<std::string, std::string> pairs[] = {
      // blocked, normal
      {"Tom &amp; Jerry.mp4", "Tom & Jerry.mp4"},
      {"camp;1.mp4", "c1.mp4"},
      {"movie\\u0031.mp4", "movie1.mp4"},
      {"q\"],[\"v.mp4", "v.mp4"},
      {"a%20b.mp4", "a b.mp4"},
      {"&quot;divide;x.mp4", "\"x.mp4"},
      {"it&apos;s.mp4", "it's.mp4"},
      {"a&#126;b.mp4", "a~b.mp4"},
      {"ctl\x01\x7f.mp4", "ctl.mp4"},
      {"😀\\u0041.mp4", "😀A.mp4"},
      {"x&y.mp4", "x&amp;y.mp4"},
      {"back\\slash.mp4", "backslash.mp4"},
  };
  std::set<std::string> blocked;
  std::set<std::string> normal;
  for (const char* folder : {"/pairs", "/pairs/R&amp;D -|||||- 1", "/pairs/R&D"}) {
    for (const auto& [bad, good] : pairs) {
      blocked.insert(std::string(folder) + "/" + bad);
      normal.insert(std::string(folder) + "/" + good);
    }
  }
  for (const std::string& path : blocked) service.sim.addFile(user, path, 1, true);
  for (const std::string& path : normal) service.sim.addFile(user, path, 1, false);

  CliRun run =
      cli({"--yes", "check", "/pairs", "--depth", "0", "--json", "--delete", "--batch", "5",
           "--submit-interval", "0", "--delete-interval", "0", "--rate-limit-pause", "1"});
  ASSERT_EQ(run.code, kExitDone) << run.err;
  JsonDoc result;
  ASSERT_TRUE(result.parseUtf8(run.out)) << run.out;
  std::set<std::string> reported;
  for (int i = 0; i < result.count("blocked"); ++i) {
    const std::string at = "blocked[" + std::to_string(i) + "]";
    reported.insert(UnicodeToUtf8(result.getUnicode(at + ".path")));
    EXPECT_EQ(result.getText(at + ".status"), L8("删除成功")) << i;
    EXPECT_EQ(result.getText(at + ".state"), "deleted") << i;
  }
  EXPECT_EQ(reported, blocked);
  for (const std::string& path : blocked) EXPECT_FALSE(service.sim.find(user, path)) << path;
  for (const std::string& path : normal) EXPECT_TRUE(service.sim.find(user, path)) << path;
  EXPECT_EQ(service.sim.log().rejected(), 0u);
}

TEST_F(CliTest, ExitCodesOfTheCheck) {
  saveBoth();
  struct Case {
    const char* what;
    std::vector<std::string> args;
    std::function<void(sim::Faults&)> arm;
    int code;
    std::string inErr;
  } cases[] = {
      {"no depth", {"check", "/"}, {}, kExitUsage, "--depth"},
      {"a file", {"check", "/readme.txt", "--depth", "0"}, {}, kExitUsage, "选择的不是目录。"},
      {"too many threads, not confirmed",
       {"check", "/文档", "--depth", "0", "--threads", "8"},
       {},
       kExitUsage,
       "过大"},
      {"too many threads, confirmed",
       {"--yes", "check", "/文档", "--depth", "0", "--threads", "8"},
       {},
       kExitDone,
       "检查任务已完成。"},
      {"expired login",
       {"--account", "过期用户", "check", "/", "--depth", "0"},
       {},
       kExitNoAccount,
       "cookies"},
      {"undecided files",
       {"check", "/文档", "--depth", "0", "--json", "--rate-limit-pause", "1"},
       [](sim::Faults& f) { f.download.errno2Probability = 1.0; },
       kExitService,
       "未能检测的文件数量"},
  };
  for (Case& c : cases) {
    SCOPED_TRACE(c.what);
    service.sim.faults().reset();
    if (c.arm) c.arm(service.sim.faults());
    CliRun run = cli(c.args);
    EXPECT_EQ(run.code, c.code) << run.err;
    EXPECT_TRUE(Contains(run.err, c.inErr)) << run.err;
    if (c.code == kExitService) {
      EXPECT_TRUE(Contains(run.out, "\"blocked\":[],\"undecided\":")) << run.out;
      EXPECT_FALSE(Contains(run.out, "\"undecided\":0,")) << run.out;
    }
  }
  service.sim.faults().reset();
  EXPECT_EQ(cli({"check", "/", "--depth", "0"}, {}, "https://127.0.0.1:1").code, kExitService);
}

// A folder the service would not list (ten tries, the lines of err.txt), be it the
// selected one or one below it, leaves its entries unchecked: the run ends with 3,
// names it on stderr as names are shown, and lists it exactly in the JSON.
TEST_F(CliTest, FoldersThatCannotBeListedEndTheCheckWithThreeAndAreNamed) {
  saveBoth();
  const std::string user = "网盘*用户**";
  const std::string awkward = "/文档/坏 R&amp;D\x1b[2J\\u0031 divide;😀\n";
  service.sim.addFile(user, awkward + "/inside.txt", 1, true);
  struct Case {
    const char* what;
    std::vector<std::string> failing;  // the folders whose listing fails
    std::string shown;                 // how stderr names the failed folder
  } cases[] = {
      {"nothing fails", {}, ""},
      {"the selected folder", {"/文档"}, "/文档"},
      {"a folder below it", {awkward}, "/文档/坏 R&amp;D\\x1b[2J\\\\u0031 divide;😀\\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    service.sim.faults().reset();
    for (const std::string& folder : c.failing) service.sim.faults().failListing(folder);
    CliRun run = cli({"check", "/文档", "--depth", "0", "--json"});
    JsonDoc result;
    ASSERT_TRUE(result.parseUtf8(run.out)) << run.out;
    std::vector<std::string> failed;
    for (int i = 0; i < result.count("failed_folders"); ++i)
      failed.push_back(
          UnicodeToUtf8(result.getUnicode("failed_folders[" + std::to_string(i) + "]")));
    EXPECT_EQ(failed, c.failing) << run.out;
    if (c.failing.empty()) {
      EXPECT_EQ(run.code, kExitDone) << run.err;
      EXPECT_TRUE(Contains(run.out, "\"failed_folders\":[]")) << run.out;
      EXPECT_FALSE(Contains(run.err, "could not be listed")) << run.err;
      continue;
    }
    EXPECT_EQ(run.code, kExitService) << run.err;
    // The name ends the line: whatever it holds, nothing after it is taken for it.
    EXPECT_TRUE(Contains(run.err, "; its entries were not checked: " + c.shown + "\n")) << run.err;
    EXPECT_TRUE(Contains(run.err, "未能读取的目录数量： 1")) << run.err;
    // The control characters of the name never reach the terminal.
    EXPECT_FALSE(Contains(run.err, "\x1b")) << run.err;
  }
}

// A catalogue that cannot be made (here a folder stands at its name) is a refused
// start whose log line names the file and the reason.
TEST_F(CliTest, ACatalogueThatCannotBeMadeEndsTheCheckNamingTheFileAndWhy) {
  saveBoth();
  std::filesystem::create_directories(dir.file("vintrel.db/inside"));
  CliRun run = cli({"check", "/文档", "--depth", "0", "--json"});
  EXPECT_EQ(run.code, kExitUsage) << run.err;
  const std::string file = (std::filesystem::current_path() / "vintrel.db").string();
  EXPECT_TRUE(Contains(run.err, "无法创建检查数据库 " + file + "：Is a directory")) << run.err;
  EXPECT_EQ(run.out, "");
}

// Another program locks the catalogue while the check waits for its first answer:
// the marks and counts that follow are given up after their tries, stderr says
// which file and why, and the run ends with 3 instead of a clean result.
TEST_F(CliTest, ACatalogueThatFailsDuringTheCheckEndsWithThree) {
  saveBoth();
  service.sim.faults().holdRequestsOf(live, "/api/download");
  CliRun run;
  std::thread check([&] { run = cli({"check", "/电影 2023", "--depth", "0", "--json"}); });
  ASSERT_TRUE(testing::WaitUntil([this] { return service.sim.faults().heldRequests() > 0; }));
  const std::string file = (std::filesystem::current_path() / "vintrel.db").string();
  testing::LockedByAnotherProgram other(file);
  EXPECT_TRUE(other.locked());
  service.sim.faults().releaseHeld();
  check.join();
  EXPECT_EQ(run.code, kExitService) << run.err;
  EXPECT_TRUE(
      Contains(run.err, "检查数据库 " + file + " 读写失败（已试 10 次）：database is locked"))
      << run.err;
  EXPECT_TRUE(Contains(run.err, "pansift-cli: the catalogue failed ")) << run.err;
  EXPECT_TRUE(run.out.starts_with("{\"folder\":\"/电影 2023\"")) << run.out;
}

// Ctrl-C: the stop button's stop, confirmed; the task drains and says what it found.
TEST_F(CliTest, StopEndsTheCheckWithFour) {
  saveBoth();
  service.sim.faults().list.latencyMs = 200;
  std::thread stopper([this] {
    for (int i = 0; i < 2000 && service.sim.log().count("/api/list") < 2; ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    RequestStop();
  });
  CliRun run = cli({"check", "/", "--depth", "0", "--json"});
  stopper.join();
  EXPECT_EQ(run.code, kExitStopped) << run.err;
  EXPECT_TRUE(Contains(run.err, "确定停止检查任务？ [yes]")) << run.err;
  EXPECT_FALSE(Contains(run.err, "检查任务已完成。")) << run.err;
  EXPECT_TRUE(run.out.starts_with("{\"folder\":\"/\"")) << run.out;
}

// Two programs started in one folder would share vintrel.db: the second is refused
// while the first one's task holds it, and the first one's result stays exact.
TEST_F(CliTest, ASecondCheckOnTheSameCatalogueIsRefused) {
  saveBoth();
  service.sim.faults().holdRequestsOf(live, "/api/download");
  pid_t first = spawnCli({"check", "/电影 2023", "--depth", "0", "--json"});
  ASSERT_GT(first, 0);
  ASSERT_TRUE(testing::WaitUntil([this] { return service.sim.faults().heldRequests() > 0; }));

  CliRun second = cli({"check", "/", "--depth", "0", "--json"});
  EXPECT_EQ(second.code, kExitUsage);
  EXPECT_TRUE(Contains(second.err, "vintrel.db")) << second.err;
  EXPECT_EQ(second.out, "");

  service.sim.faults().releaseHeld();
  int status = 0;
  ASSERT_EQ(waitpid(first, &status, 0), first);
  ASSERT_TRUE(WIFEXITED(status)) << status;
  EXPECT_EQ(WEXITSTATUS(status), kExitDone) << ReadFileBytes(dir.file("err.txt")).bytes;
  const std::string out = ReadFileBytes(dir.file("out.txt")).bytes;
  EXPECT_TRUE(out.starts_with("{\"folder\":\"/电影 2023\",\"total\":3,")) << out;
  EXPECT_EQ(BlockedOf(out).size(), 2u) << out;

  // Once the first task has ended, a check starts again.
  EXPECT_EQ(cli({"check", "/电影 2023", "--depth", "0"}).code, kExitDone);
  // --catalogue names the file, wherever it is.
  const std::string other = dir.file("other place/my catalogue.db");
  std::filesystem::create_directories(dir.file("other place"));
  CliRun named = cli({"--catalogue", other, "check", "/电影 2023", "--depth", "0"});
  EXPECT_EQ(named.code, kExitDone) << named.err;
  EXPECT_EQ(testing::CatalogueRows(other, "select count(*) from list").size(), 1u);
  EXPECT_FALSE(testing::CatalogueRows(other, "select * from list").empty());
}

// The program itself: the first Ctrl-C stops the task like the stop button, a second
// one ends the program at once, before the stopped task has printed anything.
TEST_F(CliTest, ASecondCtrlCEndsTheProgramAtOnce) {
  saveBoth();
  // The check's first request for a link waits until the program has ended.
  service.sim.faults().holdRequestsOf(live, "/api/download");
  pid_t pid = spawnCli({"check", "/", "--depth", "0", "--json"});
  ASSERT_GT(pid, 0);

  EXPECT_TRUE(testing::WaitUntil([this] { return service.sim.faults().heldRequests() > 0; }));
  kill(pid, SIGINT);
  EXPECT_TRUE(testing::WaitUntil(
      [this] { return Contains(ReadFileBytes(dir.file("err.txt")).bytes, "stopping"); }));
  kill(pid, SIGINT);
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  service.sim.faults().releaseHeld();
  ASSERT_TRUE(WIFEXITED(status)) << status;
  EXPECT_EQ(WEXITSTATUS(status), kExitStopped);
  EXPECT_EQ(ReadFileBytes(dir.file("out.txt")).bytes, "");
  EXPECT_TRUE(Contains(ReadFileBytes(dir.file("err.txt")).bytes, "确定停止检查任务？ [yes]"));
}

// SIGTERM (a service manager, a time limit) stops as the first Ctrl-C does: the
// check drains, its partial result is printed, the exit code is 4, and no notice
// says the check was completed. Outside a check it ends the program at once.
TEST_F(CliTest, SigtermStopsLikeTheFirstCtrlC) {
  saveBoth();
  service.sim.faults().holdRequestsOf(live, "/api/download");
  pid_t pid = spawnCli({"check", "/", "--depth", "0", "--json"});
  ASSERT_GT(pid, 0);
  ASSERT_TRUE(testing::WaitUntil([this] { return service.sim.faults().heldRequests() > 0; }));
  kill(pid, SIGTERM);
  EXPECT_TRUE(testing::WaitUntil(
      [this] { return Contains(ReadFileBytes(dir.file("err.txt")).bytes, "stopping"); }));
  service.sim.faults().releaseHeld();
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(WIFEXITED(status)) << status;
  EXPECT_EQ(WEXITSTATUS(status), kExitStopped);
  const std::string out = ReadFileBytes(dir.file("out.txt")).bytes;
  EXPECT_TRUE(out.starts_with(
      "{\"folder\":\"/\",\"total\":10,\"resumed\":false,\"files\":6,\"folders\":4,"))
      << out;
  const std::string err = ReadFileBytes(dir.file("err.txt")).bytes;
  EXPECT_TRUE(Contains(err, "确定停止检查任务？ [yes]")) << err;
  EXPECT_FALSE(Contains(err, "检查任务已完成。")) << err;

  // A listing that does not come back: nothing waits for a stop.
  service.sim.faults().holdRequestsOf(live, "/api/list");
  pid = spawnCli({"tree", "/文档"});
  ASSERT_GT(pid, 0);
  ASSERT_TRUE(testing::WaitUntil([this] { return service.sim.faults().heldRequests() > 0; }));
  kill(pid, SIGTERM);
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  service.sim.faults().releaseHeld();
  ASSERT_TRUE(WIFEXITED(status)) << status;
  EXPECT_EQ(WEXITSTATUS(status), kExitStopped);
  EXPECT_EQ(ReadFileBytes(dir.file("out.txt")).bytes, "");
}

// Results that do not reach stdout (a full disk, a pipe nobody reads any more) are
// a failure, not a success.
TEST_F(CliTest, ResultsThatCannotBeWrittenEndWithOne) {
  saveBoth();
  const int full = open("/dev/full", O_WRONLY | O_CLOEXEC);
  ASSERT_GE(full, 0);
  int pipeEnds[2];
  ASSERT_EQ(pipe2(pipeEnds, O_CLOEXEC), 0);
  close(pipeEnds[0]);
  struct Case {
    const char* what;
    int fd;
    std::string reason;
  } cases[] = {
      {"a full disk", full, "No space left on device"},
      {"a closed pipe", pipeEnds[1], "Broken pipe"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    pid_t pid = spawnCli({"accounts", "list"}, c.fd);
    ASSERT_GT(pid, 0);
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status)) << status;
    EXPECT_EQ(WEXITSTATUS(status), kExitUsage);
    EXPECT_TRUE(Contains(ReadFileBytes(dir.file("err.txt")).bytes,
                         "pansift-cli: cannot write the results to stdout: " + c.reason + "\n"))
        << ReadFileBytes(dir.file("err.txt")).bytes;
  }
  close(full);
  close(pipeEnds[1]);
}

// A CA file that cannot be used, and a certificate that is not trusted, are said as
// such, naming the file or the host and giving libcurl's message: on stderr with
// exit code 3, in the log and in err.txt. No prompt is left without a text.
TEST_F(CliTest, ACaFileThatCannotBeUsedOrAnUntrustedCertificateIsNamed) {
  saveBoth();
  const std::string missing = dir.file("no such ca.pem");
  const std::string folder = dir.file("folder.pem");
  std::filesystem::create_directories(folder);
  const std::string garbage = dir.file("garbage.pem");
  std::ofstream(garbage) << "not a certificate\n";
  const std::string stranger = dir.file("stranger.pem");
  ASSERT_TRUE(sim::WriteTextFile(
      stranger, sim::MakeSelfSignedCertificate({"localhost"}, {"127.0.0.1"}).certPem));
  const std::string origin = service.sim.netdiskOrigin();
  const std::string host = origin.substr(origin.find("://") + 3);
  struct Case {
    const char* what;
    std::string caFile;
    std::vector<std::string> args;
    std::string said;
  } cases[] = {
      {"no such CA file",
       missing,
       {"tree"},
       "cannot use the CA file " + missing + " (No such file or directory): "},
      {"a folder as CA file",
       folder,
       {"check", "/", "--depth", "0"},
       "cannot use the CA file " + folder + " (Is a directory): "},
      {"no certificate in the CA file",
       garbage,
       {"accounts", "validate"},
       "cannot use the CA file " + garbage + " (it holds no PEM certificate): "},
      {"a certificate it does not trust",
       stranger,
       {"tree", "/文档"},
       "the certificate of " + host + " is not trusted (extra CA file " + stranger +
           "): SSL certificate problem"},
      {"adding an account", stranger, {"accounts", "add", live}, "the certificate of " + host},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<std::string> args = {"pansift-cli", "--data-dir", dir.path(), "--netdisk-origin",
                                     origin,        "--ca-file",  c.caFile};
    args.insert(args.end(), c.args.begin(), c.args.end());
    CliRun run = runRaw(args);
    EXPECT_EQ(run.code, kExitService) << run.err;
    EXPECT_TRUE(Contains(run.err, "pansift-cli: the netdisk service could not be reached (" +
                                      origin + "): " + c.said))
        << run.err;
    EXPECT_TRUE(Contains(run.err, "无法访问网盘服务：" + c.said)) << run.err;
    EXPECT_TRUE(Contains(LocalToUtf8(ReadFileBytes(dir.file("err.txt")).bytes),
                         "无法访问网盘服务：" + c.said))
        << ReadFileBytes(dir.file("err.txt")).bytes;
    EXPECT_FALSE(Contains(run.err, ": \n")) << run.err;
  }
  // The simulator is trusted again: all is well.
  EXPECT_EQ(cli({"tree"}).code, kExitDone);
}

// A folder where the catalogue cannot be made refuses the start: the refusal keeps
// its words and says which file and why.
TEST_F(CliTest, AnUnwritableCatalogueFolderRefusesTheCheckSayingWhy) {
  saveBoth();
  auto writable = [](const std::string& folder) {
    const std::string probe = folder + "/probe";
    int fd = open(probe.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0) return false;
    close(fd);
    unlink(probe.c_str());
    return true;
  };
  std::string folder = dir.file("read-only");
  std::filesystem::create_directories(folder);
  std::filesystem::permissions(
      folder, std::filesystem::perms::owner_read | std::filesystem::perms::owner_exec);
  // The superuser writes into any folder of its own; not into /sys.
  if (writable(folder)) folder = "/sys";
  if (writable(folder)) GTEST_SKIP() << "no folder here refuses this user";
  std::filesystem::current_path(folder);
  const std::string file = (std::filesystem::current_path() / "vintrel.db").string();
  CliRun run = cli({"check", "/文档", "--depth", "0", "--json"});
  std::filesystem::current_path(dir.path());
  std::filesystem::permissions(dir.file("read-only"), std::filesystem::perms::owner_all);
  EXPECT_EQ(run.code, kExitUsage) << run.err;
  EXPECT_TRUE(Contains(run.err,
                       "提示: 初始化.db失败，一般重即软件即可。 " + file + "：Permission denied\n"))
      << run.err;
  EXPECT_EQ(run.out, "");
}

// check --delete deletes on the netdisk: a person at a terminal is asked first, a
// script must say --yes. Until then nothing is asked of the service.
TEST_F(CliTest, DeletesAreConfirmedOnATerminalAndByYesInAScript) {
  saveBoth();
  const std::string user = "网盘*用户**";
  const std::string blocked = "/电影 2023/a&b's, [1].mp4";
  const std::vector<std::string> check = {"check", "/电影 2023", "-d", "1", "--delete"};
  struct Case {
    const char* what;
    bool terminal;
    std::string input;
    std::vector<std::string> before;  // global options
    int code;
    std::string inErr;
    bool deleted;
  } cases[] = {
      {"a script", false, "y\n", {}, kExitUsage, "confirm it with --yes\n", false},
      {"a script saying no", false, {}, {"--no"}, kExitUsage, "--no answers", false},
      {"a terminal, not confirmed",
       true,
       "\n",
       {},
       kExitUsage,
       "Delete every blocked file found in /电影 2023 from the netdisk? [y/N] pansift-cli: "
       "nothing was checked: the deletes were not confirmed\n",
       false},
      {"a terminal, confirmed", true, "y\n", {}, kExitDone, "from the netdisk? [y/N] ", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    inTerminal = c.terminal;
    const size_t requests = service.sim.log().entries("/api/list").size();
    std::vector<std::string> args = c.before;
    args.insert(args.end(), check.begin(), check.end());
    CliRun run = cli(args, c.input);
    EXPECT_EQ(run.code, c.code) << run.err;
    EXPECT_TRUE(Contains(run.err, c.inErr)) << run.err;
    EXPECT_EQ(service.sim.find(user, blocked).has_value(), !c.deleted);
    if (c.code != kExitDone) {
      EXPECT_EQ(service.sim.log().entries("/api/list").size(), requests);
      EXPECT_EQ(run.out, "");
    }
  }
}

// tree --recursive lists the folders below too, each folder's entries after it, as
// deep as --depth says; its JSON gives each entry's fs_id, path, size and time.
TEST_F(CliTest, TreeListsTheFoldersBelowWithTheirDetails) {
  saveBoth();
  const std::string shallow = cli({"tree", "/文档"}).out;
  CliRun all = cli({"tree", "/文档", "-R"});
  EXPECT_EQ(all.code, kExitDone) << all.err;
  // The folder's own entries right after it.
  const std::string sub = "子目录/\n";
  const size_t after = shallow.find(sub) + sub.size();
  ASSERT_NE(shallow.find(sub), std::string::npos) << shallow;
  EXPECT_EQ(all.out, shallow.substr(0, after) + "子目录/deep.txt\n" + shallow.substr(after));
  EXPECT_EQ(cli({"tree", "/文档", "--recursive", "--depth", "1"}).out, shallow);
  EXPECT_EQ(cli({"tree", "/文档", "-R", "-d", "2"}).out, all.out);

  CliRun json = cli({"tree", "/", "-R", "--json"});
  EXPECT_EQ(json.code, kExitDone) << json.err;
  JsonDoc result;
  ASSERT_TRUE(result.parseUtf8(json.out)) << json.out;
  EXPECT_EQ(result.getText("folder"), "/");
  ASSERT_EQ(result.count("entries"), 10);
  std::map<std::string, std::string> byPath;  // path: fs_id size mtime isdir
  for (int i = 0; i < 10; ++i) {
    const std::string at = "entries[" + std::to_string(i) + "].";
    byPath[UnicodeToUtf8(result.getUnicode(at + "path"))] =
        result.getText(at + "fs_id") + " " + result.getText(at + "size") + " " +
        result.getText(at + "mtime") + " " + result.getText(at + "isdir");
  }
  EXPECT_EQ(byPath["/电影 2023/a&b's, [1].mp4"], "388670939482157 734003200 1690000100 false");
  EXPECT_EQ(byPath["/文档/子目录/deep.txt"].substr(0, 19), "388670939482161 12 ");
  EXPECT_TRUE(byPath["/文档/子目录"].ends_with(" true")) << byPath["/文档/子目录"];
  EXPECT_EQ(byPath["/readme.txt"], "388670939482162 100 1700000000 false");
}

// --quiet: no progress and no log lines, only what went wrong; stdout as ever.
TEST_F(CliTest, QuietLeavesOnlyErrorsOnStderr) {
  saveBoth();
  CliRun loud = cli({"check", "/电影 2023", "-d", "0"});
  EXPECT_TRUE(Contains(loud.err, "checking")) << loud.err;
  EXPECT_TRUE(Contains(loud.err, "检查任务已完成。")) << loud.err;
  CliRun quiet = cli({"--quiet", "check", "/电影 2023", "-d", "0"});
  EXPECT_EQ(quiet.code, kExitDone);
  EXPECT_EQ(quiet.err, "");
  EXPECT_EQ(quiet.out, loud.out);
  EXPECT_EQ(cli({"-q", "tree", "/文档"}).err, "");

  service.sim.faults().failListing("/文档");
  CliRun failed = cli({"-q", "check", "/文档", "-d", "0"});
  service.sim.faults().reset();
  EXPECT_EQ(failed.code, kExitService);
  EXPECT_TRUE(Contains(failed.err, "pansift-cli: a folder could not be listed")) << failed.err;
  EXPECT_FALSE(Contains(failed.err, "已检测完成")) << failed.err;
}

// The log's lines on stderr name folders and files as they are, as stdout does: no
// entity words the name does not hold, no "?" for what GBK cannot hold.
TEST_F(CliTest, LogLinesOnStderrNameThingsAsTheyAre) {
  saveBoth();
  const std::string folder = "/😀 R&amp;D";
  ASSERT_NE(service.sim.addFile("网盘*用户**", folder + "/x & 😈.mp4", 1, true), 0u);
  CliRun run = cli({"check", folder, "-d", "0", "--json"});
  EXPECT_EQ(run.code, kExitDone) << run.err;
  for (const std::string& line :
       {"正在读取选择目录下的文件明细：" + folder + "\n", "开始检测：" + folder + "\n",
        "文件已被和谐：" + folder + "/x & 😈.mp4\n"})
    EXPECT_TRUE(Contains(run.err, line)) << run.err;
  EXPECT_FALSE(Contains(run.err, "&amp;amp;")) << run.err;
  EXPECT_TRUE(run.out.starts_with("{\"folder\":\"" + folder + "\",")) << run.out;
}

// ---- resuming a check --------------------------------------------------------------

// The folders the listings among `requests` asked for, below `under` (the task's:
// the tree lists "/" too), in order.
std::vector<std::string> ListedFolders(const std::vector<sim::LoggedRequest>& requests,
                                       const std::string& under) {
  std::vector<std::string> folders;
  for (const sim::LoggedRequest& request : requests) {
    if (request.endpoint != "/api/list") continue;
    const sim::QueryItems query = sim::ParseQuery(request.query);
    const std::string dir = sim::QueryValue(query, "dir");
    if (dir == under || dir.starts_with(under + "/"))
      folders.push_back(dir + " page " + sim::QueryValue(query, "page"));
  }
  return folders;
}

// The fs_ids the probes among `requests` asked about.
std::multiset<std::string> ProbedIds(const std::vector<sim::LoggedRequest>& requests) {
  std::multiset<std::string> ids;
  for (const sim::LoggedRequest& request : requests) {
    if (request.endpoint != "/api/download") continue;
    const std::string list = Between(request.query, "fidlist=%5B", "%5D");
    for (const std::string& id : SplitText(list, "%2C")) ids.insert(id);
  }
  return ids;
}

// The folders whose listing the catalogue of the current folder records as ended
// (the selected one counting once its own listing is through).
long long FoldersRecordedListed() {
  const testing::Rows rows = testing::CatalogueRows(
      "vintrel.db",
      "select (select count(*) from list where type='1' and queried='1' and id not in "
      "(select listing from task where listing is not null)) + "
      "(select count(*) from task where listing is null and phase<>'list')");
  return rows.empty() ? -1 : std::stoll(rows[0][0]);
}

// The fs_ids the catalogue of the current folder holds marked.
std::set<std::string> MarkedIds() {
  std::set<std::string> ids;
  for (const auto& row :
       testing::CatalogueRows("vintrel.db", "select target from list where other_1 is not null"))
    ids.insert(row[0]);
  return ids;
}

// A check killed (kill -9) while it reads folders or while it checks files, then run
// again with --resume, ends as a clean run of the same check does: the same blocked
// files, total and marks. The resumed run lists no folder the killed one had listed
// and asks about no file the killed one had marked. The tree: a few thousand
// entries, no folder over one page, blocked files at known places with awkward names.
TEST_F(CliTest, AKilledCheckResumedEndsAsACleanRun) {
  saveBoth();
  const std::string user = "网盘*用户**";
  sim::GenerateOptions generate;
  generate.files = 3000;
  generate.depth = 3;
  generate.fanout = 5;
  generate.blocked = 0;
  generate.seed = 25;
  generate.under = "/resume";
  generate.siblingPairs = false;
  service.sim.generate(user, generate);
  const std::set<std::string> knownBlocked = {"/resume/坏 1.mp4", "/resume/甲/乙/坏&amp; 2.mkv",
                                              "/resume/甲/乙/丙/it's \\u0031 3.avi",
                                              "/resume/z😀/divide; 4.rmvb"};
  for (const std::string& path : knownBlocked)
    ASSERT_NE(service.sim.addFile(user, path, 9, true), 0u);
  const std::vector<std::string> check = {"check", "/resume", "--depth",
                                          "0",     "--json",  "--halving"};

  // The clean run.
  service.sim.log().clear();
  const CliRun clean = cli(check);
  ASSERT_EQ(clean.code, kExitDone) << clean.err;
  JsonDoc cleanResult;
  ASSERT_TRUE(cleanResult.parseUtf8(clean.out)) << clean.out;
  std::set<std::string> cleanBlocked;
  for (int i = 0; i < cleanResult.count("blocked"); ++i)
    cleanBlocked.insert(
        UnicodeToUtf8(cleanResult.getUnicode("blocked[" + std::to_string(i) + "].path")));
  ASSERT_EQ(cleanBlocked, knownBlocked);
  const std::multiset<std::string> cleanCatalogue = CatalogueRows();
  const std::vector<std::string> cleanListed =
      ListedFolders(service.sim.log().entries(), "/resume");
  const std::set<std::string> everyFolder(cleanListed.begin(), cleanListed.end());
  ASSERT_EQ(everyFolder.size(), cleanListed.size());
  ASSERT_GT(everyFolder.size(), 150u);

  struct Case {
    const char* what;
    const char* endpoint;  // held, then the program is killed while it waits for it
    std::uint64_t after;   // requests to it answered first
  } cases[] = {
      {"killed while folders are read", "/api/list", 40},
      {"killed while files are checked", "/api/download", 10},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    service.sim.faults().reset();
    service.sim.log().clear();
    const pid_t pid = spawnCli(check);
    ASSERT_GT(pid, 0);
    ASSERT_TRUE(testing::WaitUntil([&] { return service.sim.log().count(c.endpoint) >= c.after; },
                                   std::chrono::minutes(5)));
    service.sim.faults().holdRequestsOf(live, c.endpoint);
    ASSERT_TRUE(testing::WaitUntil([&] { return service.sim.faults().heldRequests() > 0; }));
    if (std::string(c.endpoint) == "/api/list") {
      // Every listing answered so far has gone into the catalogue, so that "listed
      // twice" below means listed again, not cut off between reply and catalogue.
      ASSERT_TRUE(testing::WaitUntil([&] {
        return FoldersRecordedListed() ==
               static_cast<long long>(ListedFolders(service.sim.log().entries(), "/resume").size());
      }));
    }
    ASSERT_EQ(kill(pid, SIGKILL), 0);
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFSIGNALED(status)) << status;
    const std::vector<std::string> listedBefore =
        ListedFolders(service.sim.log().entries(), "/resume");
    const std::set<std::string> markedBefore = MarkedIds();
    // The held requests go on now, to a program that is gone: they are not its work.
    const std::uint64_t answered = service.sim.log().total();
    const int held = service.sim.faults().heldRequests();
    service.sim.faults().releaseHeld();
    ASSERT_TRUE(testing::WaitUntil(
        [&] { return service.sim.log().total() >= answered + static_cast<std::uint64_t>(held); }));
    const size_t resumedFrom = service.sim.log().entries().size();

    std::vector<std::string> resumeArgs = check;
    resumeArgs.push_back("--resume");
    const CliRun resumed = cli(resumeArgs);
    ASSERT_EQ(resumed.code, kExitDone) << resumed.err;
    EXPECT_TRUE(Contains(resumed.err, "resuming the unfinished check")) << resumed.err;
    EXPECT_TRUE(Contains(resumed.out, "\"resumed\":true,")) << resumed.out;
    EXPECT_EQ(BlockedOf(resumed.out), BlockedOf(clean.out));
    EXPECT_EQ(Between(resumed.out, "\"total\":", ","), Between(clean.out, "\"total\":", ","));
    EXPECT_EQ(CatalogueRows(), cleanCatalogue);

    const std::vector<sim::LoggedRequest> all = service.sim.log().entries();
    const std::vector<sim::LoggedRequest> ofResumed(all.begin() + static_cast<long>(resumedFrom),
                                                    all.end());
    const std::vector<std::string> listedAfter = ListedFolders(ofResumed, "/resume");
    std::multiset<std::string> listed(listedBefore.begin(), listedBefore.end());
    listed.insert(listedAfter.begin(), listedAfter.end());
    for (const std::string& folder : everyFolder) EXPECT_EQ(listed.count(folder), 1u) << folder;
    EXPECT_EQ(listed.size(), everyFolder.size());
    for (const std::string& id : ProbedIds(ofResumed)) EXPECT_FALSE(markedBefore.count(id)) << id;
    if (std::string(c.endpoint) == "/api/download") {
      EXPECT_FALSE(markedBefore.empty());
      EXPECT_TRUE(listedAfter.empty());
    }
    std::printf("%s: %zu folders listed before the kill, %zu after; %zu files marked before\n",
                c.what, listedBefore.size(), listedAfter.size(), markedBefore.size());
  }
}

// --resume goes on only with a check of the same account, folder and depth that the
// catalogue holds unfinished, and says on stderr and in the JSON what it did;
// without --resume a check starts anew whatever the catalogue holds.
TEST_F(CliTest, ResumeGoesOnOnlyWithTheSameUnfinishedCheck) {
  saveBoth();
  sim::AccountSpec other;
  other.userName = "丙用户";
  const std::string otherCookies = service.sim.addAccount(other);
  ASSERT_NE(service.sim.addFile("丙用户", "/文档/x.txt", 1), 0u);
  ASSERT_EQ(cli({"accounts", "add", otherCookies}).code, kExitDone);

  // An unfinished check of /文档 to depth 0: killed while a probe is on its way.
  service.sim.faults().holdRequestsOf(live, "/api/download");
  const pid_t pid = spawnCli({"check", "/文档", "--depth", "0", "--batch", "1"});
  ASSERT_GT(pid, 0);
  ASSERT_TRUE(testing::WaitUntil([this] { return service.sim.faults().heldRequests() > 0; }));
  ASSERT_EQ(kill(pid, SIGKILL), 0);
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  service.sim.faults().releaseHeld();
  namespace fs = std::filesystem;
  const fs::path saved = fs::path(dir.path()) / "saved";
  fs::create_directory(saved);
  for (const char* name : {"vintrel.db", "vintrel.db-wal", "vintrel.db-shm"}) {
    if (fs::exists(name)) fs::copy_file(name, saved / name);
  }

  struct Case {
    const char* what;
    std::vector<std::string> args;
    bool resumed;
    std::string inErr;  // "" for no word about it
  } cases[] = {
      {"without --resume", {"check", "/文档", "--depth", "0", "--json"}, false, ""},
      {"another depth",
       {"check", "/文档", "--depth", "1", "--json", "--resume"},
       false,
       "starting anew"},
      {"another folder",
       {"check", "/文档/子目录", "--depth", "0", "--json", "--resume"},
       false,
       "starting anew"},
      {"another account",
       {"--account", "丙用户", "check", "/文档", "--depth", "0", "--json", "--resume"},
       false,
       "starting anew"},
      {"the same check",
       {"check", "/文档", "--depth", "0", "--json", "--resume"},
       true,
       "resuming the unfinished check"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    for (const char* name : {"vintrel.db", "vintrel.db-wal", "vintrel.db-shm"}) {
      fs::remove(name);
      if (fs::exists(saved / name)) fs::copy_file(saved / name, name);
    }
    service.sim.log().clear();
    const CliRun run = cli(c.args);
    EXPECT_EQ(run.code, kExitDone) << run.err;
    EXPECT_TRUE(Contains(run.out, c.resumed ? "\"resumed\":true," : "\"resumed\":false,"))
        << run.out;
    if (c.inErr.empty()) {
      EXPECT_FALSE(Contains(run.err, "resuming") || Contains(run.err, "starting anew")) << run.err;
    } else {
      EXPECT_TRUE(Contains(run.err, c.inErr)) << run.err;
    }
    // Anew, every entry is listed; resumed, the catalogue's folders are not again.
    EXPECT_EQ(ListedFolders(service.sim.log().entries(), "/文档").empty(), c.resumed);
  }
  // That check has ended: nothing is left to resume.
  const CliRun again = cli({"check", "/文档", "--depth", "0", "--json", "--resume"});
  EXPECT_EQ(again.code, kExitDone) << again.err;
  EXPECT_TRUE(Contains(again.err, "starting anew")) << again.err;
  EXPECT_TRUE(Contains(again.out, "\"resumed\":false,")) << again.out;
}
}  // namespace
}  // namespace pansift::cli
