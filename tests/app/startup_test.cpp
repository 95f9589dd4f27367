#include "app/startup.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>

#include "core/app_state.h"
#include "core/headless_platform.h"
#include "support/temp_dir.h"
#include "util/codepage.h"
#include "util/files.h"

namespace pansift {
namespace {

TEST(CurlSwitch, OnlyTheExactMarkerBeforeAnyNulCounts) {
  testing::TempDir dir;
  struct Case {
    std::string bytes;
    bool on;
  } cases[] = {
      {"{\"curl\":\"1\"}", true},
      {"junk {\"other\":2,\"curl\":\"1\"} junk", true},
      {"{\"curl\": \"1\"}", false},
      {"{\"CURL\":\"1\"}", false},
      {"{\"curl\":1}", false},
      {"{\"curl\":\"0\"}", false},
      {std::string("{\0\"curl\":\"1\"}", 13), false},
      {"", false},
  };
  for (const Case& c : cases) {
    WriteFileBytes(dir.file("netset.ini"), c.bytes);
    EXPECT_EQ(ReadCurlSwitch(dir.file("netset.ini")), c.on) << c.bytes;
  }
  EXPECT_FALSE(ReadCurlSwitch(dir.file("missing.ini")));
}

TEST(StartUp, ReadsTheSwitchShowsTheNoticeAndEmptiesTheErrorLog) {
  testing::TempDir dir;
  WriteFileBytes(dir.file("netset.ini"), "{\"curl\":\"1\"}");
  WriteFileBytes(dir.file("err.txt"), "left from the last run\r\n");
  HeadlessPlatform platform;
  AppState app(platform, dir.path());
  StartUp(app);
  EXPECT_TRUE(app.curlMode);
  EXPECT_EQ(app.status.text(), CurlNotice(true));
  EXPECT_EQ(ReadFileBytes(dir.file("err.txt")).bytes, "");
  EXPECT_NE(CurlNotice(true).find(L8("      通过")), std::string::npos);

  AppendErrorLine(app, "one");
  AppendErrorLine(app, "two");
  EXPECT_EQ(ReadFileBytes(dir.file("err.txt")).bytes, "one\r\ntwo\r\n");
}

TEST(StartUp, MissingSettingsMeanCurlOffAndNoMessage) {
  testing::TempDir dir;
  HeadlessPlatform platform;
  AppState app(platform, dir.path());
  StartUp(app);
  EXPECT_FALSE(app.curlMode);
  EXPECT_EQ(app.status.text(), CurlNotice(false));
  EXPECT_TRUE(platform.prompts().empty());
}

// The user's four XDG folders below `root` while the object lives.
class UserFolders {
 public:
  explicit UserFolders(std::string root) : root_(std::move(root)) {
    for (const auto& [variable, name] : kFolders) setenv(variable, (root_ + name).c_str(), 1);
  }
  ~UserFolders() {
    for (const auto& [variable, name] : kFolders) unsetenv(variable);
  }
  UserFolders(const UserFolders&) = delete;
  UserFolders& operator=(const UserFolders&) = delete;

  ProgramDirs expected() const {
    return {root_ + "/config/pansift",
            root_ + "/data/pansift",
            root_ + "/state/pansift",
            root_ + "/cache/pansift",
            {}};
  }

 private:
  static constexpr std::pair<const char*, const char*> kFolders[] = {{"XDG_CONFIG_HOME", "/config"},
                                                                     {"XDG_DATA_HOME", "/data"},
                                                                     {"XDG_STATE_HOME", "/state"},
                                                                     {"XDG_CACHE_HOME", "/cache"}};
  std::string root_;
};

void ExpectFolders(const ProgramDirs& dirs) {
  for (const std::string& folder : {dirs.config, dirs.data, dirs.state, dirs.cache})
    EXPECT_TRUE(std::filesystem::is_directory(folder)) << folder;
}

TEST(ProgramDir, FallsBackToTheUserFoldersWhenNotWritable) {
  testing::TempDir dir;
  EXPECT_EQ(ResolveProgramDir(dir.path()).dirs, ProgramDirs::allIn(dir.path()));
  EXPECT_EQ(ProgramDirs::allIn(dir.path()).cache, dir.file("cache"));
  EXPECT_FALSE(ResolveProgramDir(dir.path()).fellBack);

  std::string readOnly = dir.file("ro");
  mkdir(readOnly.c_str(), 0500);
  UserFolders user(dir.file("xdg"));
  ProgramDirChoice choice = ResolveProgramDir(geteuid() == 0 ? "/nonexistent/dir" : readOnly);
  EXPECT_TRUE(choice.fellBack);
  EXPECT_EQ(choice.dirs, user.expected());
  ExpectFolders(choice.dirs);
}

TEST(ProgramDir, TheLastResortIsAPrivateFolderNobodyElseCouldPrepare) {
  testing::TempDir dir;
  const std::string uid = std::to_string(geteuid());
  const std::string own = dir.file("pansift-" + uid);
  // Neither the program's folder nor a user data folder can be used.
  UserFolders user("/proc/pansift-cannot-be-made");
  unsetenv("XDG_RUNTIME_DIR");
  setenv("TMPDIR", dir.path().c_str(), 1);
  auto resolve = [] { return ResolveProgramDir("/nonexistent/dir"); };
  auto isPrivate = [](const std::string& path) {
    struct stat st {};
    return lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == geteuid() &&
           (st.st_mode & 0777) == 0700;
  };

  ProgramDirChoice made = resolve();
  EXPECT_TRUE(made.fellBack);
  EXPECT_EQ(made.dirs, ProgramDirs::allIn(own));
  EXPECT_TRUE(isPrivate(own));
  EXPECT_EQ(resolve().dirs.data, own);  // found again next time

  struct Case {
    const char* what;
    std::function<void()> prepare;  // what another user left at the name
  };
  const std::string target = dir.file("theirs");
  mkdir(target.c_str(), 0777);
  const Case cases[] = {
      {"a link to their folder", [&] { ASSERT_EQ(symlink(target.c_str(), own.c_str()), 0); }},
      {"a folder others may enter",
       [&] {
         mkdir(own.c_str(), 0700);
         chmod(own.c_str(), 0777);
       }},
      {"a file", [&] { std::ofstream(own) << "x"; }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::filesystem::remove_all(own);
    c.prepare();
    ProgramDirChoice choice = resolve();
    const std::string folder = choice.dirs.data;
    EXPECT_EQ(choice.dirs, ProgramDirs::allIn(folder));
    EXPECT_TRUE(folder.starts_with(own + "-")) << folder;
    EXPECT_TRUE(isPrivate(folder)) << folder;
  }
  if (geteuid() == 0) {
    // A private folder of another user.
    std::filesystem::remove_all(own);
    mkdir(own.c_str(), 0700);
    ASSERT_EQ(chown(own.c_str(), 12345, 12345), 0);
    EXPECT_NE(resolve().dirs.data, own);
  }
  unsetenv("TMPDIR");
}

TEST(ProgramDir, AnInstalledProgramKeepsItsFilesInTheUserFolders) {
  testing::TempDir dir;
  UserFolders user(dir.file("xdg"));
  // An earlier version kept the back-end switch with the accounts.
  std::filesystem::create_directories(user.expected().data);
  ASSERT_TRUE(WriteFileBytes(user.expected().data + "/netset.ini", "{\"curl\":\"1\"}"));
  // A build folder: beside the executable. An install (bin/ beside share/pansift): the
  // user's folders, even where the bin folder is writable.
  std::filesystem::create_directories(dir.file("build/src"));
  std::filesystem::create_directories(dir.file("prefix/bin"));
  std::filesystem::create_directories(dir.file("prefix/share/pansift"));
  ProgramDirChoice build = ChooseProgramDir({}, dir.file("build/src"));
  ProgramDirChoice installed = ChooseProgramDir({}, dir.file("prefix/bin"));
  ProgramDirChoice given = ChooseProgramDir(dir.file("given/sub"), dir.file("prefix/bin"));
  EXPECT_EQ(build.dirs, ProgramDirs::allIn(dir.file("build/src")));
  ProgramDirs installedDirs = user.expected();
  // Started from the desktop's menu, the current directory is $HOME or "/".
  installedDirs.catalogue = installedDirs.state + "/vintrel.db";
  EXPECT_EQ(installed.dirs, installedDirs);
  EXPECT_FALSE(installed.fellBack);
  ExpectFolders(installed.dirs);
  EXPECT_EQ(given.dirs, ProgramDirs::allIn(dir.file("given/sub")));
  EXPECT_EQ(build.dirs.catalogue, "");  // the current directory
  FrontEndOptions named;
  named.catalogue = dir.file("my catalogue.db");
  EXPECT_EQ(PrepareFrontEnd(named, dir.file("prefix/bin")).dirs.catalogue, named.catalogue);
  EXPECT_TRUE(std::filesystem::is_directory(given.dirs.data));

  HeadlessPlatform platform;
  AppState app(platform, installed.dirs);
  StartUp(app);
  EXPECT_TRUE(app.curlMode) << "the switch was not carried over to the settings folder";
  EXPECT_TRUE(std::filesystem::exists(user.expected().config + "/netset.ini"));
  EXPECT_TRUE(std::filesystem::exists(user.expected().state + "/err.txt"));
  EXPECT_FALSE(std::filesystem::exists(user.expected().data + "/err.txt"));
}

TEST(QueryClose, AsksAccordingToTheTaskAndClosesOnlyOnOk) {
  testing::TempDir dir;
  HeadlessPlatform platform;
  AppState app(platform, dir.path());
  platform.answerNext(kIdOk);
  EXPECT_TRUE(QueryClose(app, false));
  EXPECT_FALSE(QueryClose(app, true));  // times out
  platform.answerNext(kIdCancel);
  EXPECT_FALSE(QueryClose(app, false));
  auto prompts = platform.prompts();
  ASSERT_EQ(prompts.size(), 3u);
  EXPECT_EQ(prompts[0].text, L8("确定关闭软件？"));
  EXPECT_EQ(prompts[1].text, L8("当前有运行中的任务，确定关闭软件？"));
  EXPECT_EQ(prompts[1].caption, L8("提示："));
  EXPECT_EQ(prompts[1].style, kStyleOkCancelQuestion);
  EXPECT_EQ(prompts[1].timeoutMs, 15000);
}

}  // namespace
}  // namespace pansift
