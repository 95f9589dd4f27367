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

TEST(ProgramDir, FallsBackToTheUserDataFolderWhenNotWritable) {
  testing::TempDir dir;
  EXPECT_EQ(ResolveProgramDir(dir.path()).path, dir.path());
  EXPECT_FALSE(ResolveProgramDir(dir.path()).fellBack);

  std::string readOnly = dir.file("ro");
  mkdir(readOnly.c_str(), 0500);
  std::string data = dir.file("data");
  setenv("XDG_DATA_HOME", data.c_str(), 1);
  ProgramDirChoice choice = ResolveProgramDir(geteuid() == 0 ? "/nonexistent/dir" : readOnly);
  unsetenv("XDG_DATA_HOME");
  EXPECT_TRUE(choice.fellBack);
  EXPECT_EQ(choice.path, data + "/pansift");
  struct stat st {};
  EXPECT_EQ(stat(choice.path.c_str(), &st), 0);
}

TEST(ProgramDir, TheLastResortIsAPrivateFolderNobodyElseCouldPrepare) {
  testing::TempDir dir;
  const std::string uid = std::to_string(geteuid());
  const std::string own = dir.file("pansift-" + uid);
  // Neither the program's folder nor a user data folder can be used.
  setenv("XDG_DATA_HOME", "/proc/pansift-cannot-be-made", 1);
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
  EXPECT_EQ(made.path, own);
  EXPECT_TRUE(isPrivate(made.path));
  EXPECT_EQ(resolve().path, own);  // found again next time

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
    EXPECT_NE(choice.path, own);
    EXPECT_TRUE(choice.path.starts_with(own + "-")) << choice.path;
    EXPECT_TRUE(isPrivate(choice.path)) << choice.path;
  }
  if (geteuid() == 0) {
    // A private folder of another user.
    std::filesystem::remove_all(own);
    mkdir(own.c_str(), 0700);
    ASSERT_EQ(chown(own.c_str(), 12345, 12345), 0);
    EXPECT_NE(resolve().path, own);
  }
  unsetenv("XDG_DATA_HOME");
  unsetenv("TMPDIR");
}

TEST(ProgramDir, AnInstalledProgramKeepsItsFilesInTheUserDataFolder) {
  testing::TempDir dir;
  std::string data = dir.file("data");
  setenv("XDG_DATA_HOME", data.c_str(), 1);
  // A build folder: beside the executable. An install (bin/ beside share/pansift): the
  // user's folder, even where the bin folder is writable.
  std::filesystem::create_directories(dir.file("build/src"));
  std::filesystem::create_directories(dir.file("prefix/bin"));
  std::filesystem::create_directories(dir.file("prefix/share/pansift"));
  ProgramDirChoice build = ChooseProgramDir({}, dir.file("build/src"));
  ProgramDirChoice installed = ChooseProgramDir({}, dir.file("prefix/bin"));
  ProgramDirChoice given = ChooseProgramDir(dir.file("given/sub"), dir.file("prefix/bin"));
  unsetenv("XDG_DATA_HOME");
  EXPECT_EQ(build.path, dir.file("build/src"));
  EXPECT_EQ(installed.path, data + "/pansift");
  EXPECT_FALSE(installed.fellBack);
  EXPECT_TRUE(std::filesystem::is_directory(installed.path));
  EXPECT_EQ(given.path, dir.file("given/sub"));
  EXPECT_TRUE(std::filesystem::is_directory(given.path));
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
