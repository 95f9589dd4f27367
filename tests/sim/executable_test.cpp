// The netdisk-sim executable serves a generated tree that curl lists page by page,
// and stops cleanly on SIGTERM.
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <map>

#include "codec.h"

extern char** environ;

namespace pansift::sim {
namespace {

std::filesystem::path SimExecutable() {
  return std::filesystem::read_symlink("/proc/self/exe").parent_path().parent_path() / "tools" /
         "netdisk-sim" / "netdisk-sim";
}

std::string RunCommand(const std::string& command) {
  std::string out;
  FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) return out;
  std::array<char, 4096> buf;
  size_t n;
  while ((n = fread(buf.data(), 1, buf.size(), pipe)) > 0) out.append(buf.data(), n);
  pclose(pipe);
  return out;
}

class SimProcess {
 public:
  bool start(const std::vector<std::string>& args) {
    int fds[2];
    if (pipe(fds) != 0) return false;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], 1);
    posix_spawn_file_actions_addclose(&actions, fds[0]);
    std::vector<std::string> all{SimExecutable().string()};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& a : all) argv.push_back(a.data());
    argv.push_back(nullptr);
    int rc = posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(fds[1]);
    out_ = fds[0];
    return rc == 0;
  }
  // Reads output until a line starting with `prefix` has arrived (20 s at most).
  bool readUntil(const std::string& prefix) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (std::chrono::steady_clock::now() < deadline) {
      if (text_.find("\n" + prefix) != std::string::npos || text_.rfind(prefix, 0) == 0) {
        size_t at = text_.rfind(prefix, 0) == 0 ? 0 : text_.find("\n" + prefix) + 1;
        if (text_.find('\n', at) != std::string::npos) return true;
      }
      pollfd p{out_, POLLIN, 0};
      if (poll(&p, 1, 200) > 0) {
        char buf[4096];
        ssize_t n = read(out_, buf, sizeof buf);
        if (n <= 0) return false;
        text_.append(buf, static_cast<size_t>(n));
      }
    }
    return false;
  }
  std::string value(const std::string& prefix) const {
    size_t at = text_.find(prefix);
    if (at == std::string::npos) return {};
    at += prefix.size();
    while (text_[at] == ' ') ++at;
    return text_.substr(at, text_.find('\n', at) - at);
  }
  int stop() {
    int status = -1;
    if (pid_ > 0) {
      kill(pid_, SIGTERM);
      waitpid(pid_, &status, 0);
      pid_ = 0;
    }
    if (out_ >= 0) close(out_);
    out_ = -1;
    return status;
  }
  ~SimProcess() { stop(); }

 private:
  pid_t pid_ = 0;
  int out_ = -1;
  std::string text_;
};

TEST(SimExecutable, ServesAGeneratedTreeThatCurlListsPageByPage) {
  if (!std::filesystem::exists(SimExecutable())) GTEST_SKIP() << "netdisk-sim not built";
  if (RunCommand("command -v curl").empty()) GTEST_SKIP() << "no curl";
  SimProcess sim;
  // 1 000 files over the root and its 4 sub-folders: 200 files + 4 folders in the root,
  // and the folder of similar names.
  std::filesystem::path fixture =
      std::filesystem::path(PANSIFT_TEST_DATA_DIR) / "sim" / "basic.json";
  ASSERT_TRUE(sim.start({"--fixture", fixture.string(), "--generate",
                         "files=1000,depth=1,fanout=4,blocked=0.1,seed=3", "--generate",
                         "files=10,depth=0,fanout=0,user=extra"}));
  ASSERT_TRUE(sim.readUntil("PANSIFT_NETDISK_ORIGIN="));
  std::string origin = sim.value("netdisk origin:");
  std::string ca = sim.value("certificate:");
  std::string cookies = sim.value("cookies:");  // the first account's (from the fixture)
  ASSERT_FALSE(origin.empty());
  ASSERT_TRUE(std::filesystem::exists(ca));

  std::map<std::string, int> names;
  int pages = 0;
  for (int page = 1; page < 10; ++page) {
    std::string body =
        RunCommand("curl -s --cacert '" + ca + "' -b '" + cookies + "' '" + origin +
                   "/api/list?order=name&desc=0&showempty=0&web=1&page=" + std::to_string(page) +
                   "&num=100&dir=%2F&t=0.9874196068828893&channel=chunlei&web=1&app_id=250528&"
                   "bdstoken=&clienttype=0'");
    JsonValue v;
    ASSERT_TRUE(ParseJson(body, v)) << body;
    ASSERT_EQ(v.string("errno"), "0");
    ++pages;
    for (const JsonValue& e : v.get("list")->items) ++names[e.string("server_filename")];
    if (v.get("list")->items.size() < 100) break;
  }
  // The generated tree joins the fixture's root entries (4 of them).
  EXPECT_EQ(names.size(), 200u + 4u + 1u + 4u);
  EXPECT_EQ(pages, 3);
  for (const auto& [name, count] : names) EXPECT_EQ(count, 1) << name;

  int status = sim.stop();
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_FALSE(std::filesystem::exists(ca));  // its own temp certificate is removed
}

TEST(SimExecutable, HostNamesAreInTheCertificateAndResolveForCurl) {
  if (!std::filesystem::exists(SimExecutable())) GTEST_SKIP() << "netdisk-sim not built";
  if (RunCommand("command -v curl").empty()) GTEST_SKIP() << "no curl";
  SimProcess sim;
  ASSERT_TRUE(sim.start({"--host-names", "--redirect", "none"}));
  ASSERT_TRUE(sim.readUntil("PANSIFT_NETDISK_ORIGIN="));
  std::string origin = sim.value("netdisk origin:");
  std::string passport = sim.value("passport origin:");
  EXPECT_EQ(origin.rfind("https://pan.sim.localhost:", 0), 0u);
  std::string ca = sim.value("certificate:");
  std::string cookies = sim.value("cookies:");
  // curl checks the name against the certificate; a mismatch would give no page.
  EXPECT_NE(RunCommand("curl -s --cacert '" + ca + "' -b '" + cookies + "' '" + origin + "/'")
                .find("\"userInfo\":{"),
            std::string::npos);
  std::string login = RunCommand("curl -s -i --cacert '" + ca +
                                 "' --data 'username=%E6%BC%94%E7%A4%BA*%E7%94%A8%E6%88%B7' '" +
                                 passport + "/v2/api/?login'");
  EXPECT_NE(login.find("domain=.sim.localhost"), std::string::npos) << login;
}

}  // namespace
}  // namespace pansift::sim

namespace pansift::sim {
namespace {

TEST(SimExecutable, HelpListsTheWireFaults) {
  std::string help = RunCommand("'" + SimExecutable().string() + "' --help");
  for (const char* option :
       {"--cut-every ENDPOINT=N[:stall]", "--stall-ms", "--inflate ENDPOINT=BYTES",
        "--set-cookies ENDPOINT", "--redirect-away ENDPOINT=foreign|plain-http|loop",
        "--dead-login-to-passport", "--without-uk"})
    EXPECT_NE(help.find(option), std::string::npos) << option;
}

}  // namespace
}  // namespace pansift::sim
