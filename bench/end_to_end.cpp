// End-to-end run of a whole check task: `pansift-cli check` as a child process
// against a generated netdisk in an in-process simulator that answers every request
// after an injected latency. For each size it prints, as markdown table rows, the wall
// time of the two phases beside the pacing bound of the program's own throttles, the
// requests per file, the child's CPU seconds and its peak RSS; then the probes per
// blocked file of the file-by-file and the halving search. scripts/bench runs it.
//
// Phase times are taken here, when the child's log lines arrive on its stderr pipe
// (the CLI writes and flushes each log line as it is made): "正在读取选择目录下的文件明细"
// starts the crawl, "开始检测：" ends it and starts the check, "已检测完成" ends the check.
// The CLI's own output stays as it is, and the figures include everything the program
// does between those lines.
#include <fcntl.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "simulator.h"

namespace {

using Clock = std::chrono::steady_clock;
using pansift::sim::EndpointFaults;
using pansift::sim::GenerateOptions;
using pansift::sim::Simulator;
using pansift::sim::SimulatorOptions;

// The window's defaults, which the run keeps (the pacing bounds use them).
constexpr int kCrawlThreads = 10;  // 编辑框_预读取线程数
constexpr int kCheckThreads = 3;   // 编辑框_检查线程数
constexpr int kBatch = 50;         // 编辑框_每次检查文件数量
// The program's own waits (src/pipeline): crawler.cpp kDispatchPaceMs (one folder
// handed out per 20 ms at most) and kEntryPaceMs (5 ms after each entry, per crawl
// thread); check_task.cpp kCheckDispatchPaceMs (one batch posted per 100 ms at most).
constexpr double kFolderPaceS = 0.020;
constexpr double kEntryPaceS = 0.005;
constexpr double kBatchPaceS = 0.100;

constexpr int kTreeDepth = 3;
constexpr int kTreeFanout = 6;
constexpr const char* kUser = "基准*用户";
constexpr const char* kFolder = "/bench";

struct Options {
  std::string cli;
  std::vector<long long> sizes{10000, 100000};
  int latencyMs = 20;
  double blocked = 0.01;
  long long halvingSize = 10000;
  std::vector<double> halvingRates{0.001, 0.01, 0.1};
  bool halving = true;
  bool scaling = true;
  std::string workDir;
};

struct ChildResult {
  int exitCode = -1;
  double crawlS = -1, checkS = -1, totalS = 0;
  double cpuS = 0;
  long maxRssKb = 0;
  std::string out;
  std::string err;
};

long long FoldersOf(int depth, int fanout) {
  long long folders = 0, level = 1;
  for (int d = 0; d < depth; ++d) {
    level *= fanout;
    folders += level;
  }
  return folders;
}

double Seconds(Clock::time_point a, Clock::time_point b) {
  return std::chrono::duration<double>(b - a).count();
}

// Runs argv in `dir`; stdout is kept, stderr is read line by line for the phase marks.
ChildResult RunChild(const std::vector<std::string>& argv, const std::string& dir, bool echo) {
  ChildResult result;
  int outPipe[2], errPipe[2];
  if (pipe(outPipe) != 0 || pipe(errPipe) != 0) return result;
  const Clock::time_point start = Clock::now();
  pid_t pid = fork();
  if (pid < 0) return result;
  if (pid == 0) {
    if (chdir(dir.c_str()) != 0) _exit(126);
    dup2(outPipe[1], 1);
    dup2(errPipe[1], 2);
    close(outPipe[0]);
    close(errPipe[0]);
    close(outPipe[1]);
    close(errPipe[1]);
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    execv(args[0], args.data());
    _exit(127);
  }
  close(outPipe[1]);
  close(errPipe[1]);
  std::optional<Clock::time_point> crawlStart, checkStart, checkEnd;
  std::string pendingErr;
  pollfd fds[2] = {{outPipe[0], POLLIN, 0}, {errPipe[0], POLLIN, 0}};
  int open = 2;
  char buffer[65536];
  while (open > 0) {
    if (poll(fds, 2, -1) < 0) break;
    for (pollfd& fd : fds) {
      if (fd.fd < 0 || !(fd.revents & (POLLIN | POLLHUP | POLLERR))) continue;
      ssize_t n = read(fd.fd, buffer, sizeof buffer);
      if (n <= 0) {
        close(fd.fd);
        fd.fd = -1;
        --open;
        continue;
      }
      const Clock::time_point now = Clock::now();
      if (fd.fd == outPipe[0]) {
        result.out.append(buffer, static_cast<size_t>(n));
        continue;
      }
      pendingErr.append(buffer, static_cast<size_t>(n));
      for (size_t nl; (nl = pendingErr.find('\n')) != std::string::npos;) {
        std::string line = pendingErr.substr(0, nl);
        pendingErr.erase(0, nl + 1);
        if (!crawlStart && line.find("正在读取选择目录下的文件明细") != std::string::npos)
          crawlStart = now;
        if (!checkStart && line.find("开始检测：") != std::string::npos) checkStart = now;
        if (!checkEnd && line.find("已检测完成") != std::string::npos) checkEnd = now;
        if (echo) std::cerr << "    | " << line << '\n';
        if (result.err.size() < 1 << 20) result.err += line + '\n';
      }
    }
  }
  int status = 0;
  rusage usage{};
  wait4(pid, &status, 0, &usage);
  result.totalS = Seconds(start, Clock::now());
  result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  result.cpuS = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
  result.maxRssKb = usage.ru_maxrss;
  if (crawlStart && checkStart) result.crawlS = Seconds(*crawlStart, *checkStart);
  if (checkStart && checkEnd) result.checkS = Seconds(*checkStart, *checkEnd);
  return result;
}

// A number after `"key":` in the CLI's JSON result, or -1.
long long JsonNumber(const std::string& json, const std::string& key) {
  size_t at = json.find("\"" + key + "\":");
  if (at == std::string::npos) return -1;
  return std::atoll(json.c_str() + at + key.size() + 3);
}

long long Occurrences(const std::string& text, const std::string& what) {
  long long n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

std::string Fixed(double value, int decimals) {
  if (value < 0) return "–";
  char text[32];
  std::snprintf(text, sizeof text, "%.*f", decimals, value);
  return text;
}

std::string LoadAverage() {
  std::ifstream in("/proc/loadavg");
  double one = 0;
  in >> one;
  return Fixed(one, 2);
}

struct Run {
  long long entries = 0, folders = 0, files = 0, blockedInTree = 0;
  long long total = 0, blockedFound = 0, undecided = 0;
  long long lists = 0, signs = 0, probes = 0, roots = 0, otherRequests = 0;
  ChildResult child;
  std::string load;
};

// One check task over a fresh simulator holding `entries` entries under /bench.
std::optional<Run> CheckOnce(const Options& options, long long entries, double blocked,
                             bool halving, const std::string& tag) {
  Run run;
  SimulatorOptions simOptions;
  simOptions.logLimit = 16;  // the counters keep counting; the entries are not needed
  simOptions.seed = 11;
  Simulator sim(simOptions);
  if (!sim.start()) {
    std::cerr << "end_to_end: the simulator does not start\n";
    return std::nullopt;
  }
  const std::string cookies = sim.addAccount({.userName = kUser});
  GenerateOptions generate;
  run.folders = FoldersOf(kTreeDepth, kTreeFanout);
  generate.files = static_cast<std::uint64_t>(std::max(entries - run.folders, 1LL));
  generate.depth = kTreeDepth;
  generate.fanout = kTreeFanout;
  generate.blocked = blocked;
  generate.seed = 7;
  generate.under = kFolder;
  // The measured tree keeps the shape the tables describe: folders and files only.
  generate.siblingPairs = false;
  const auto stats = sim.generate(kUser, generate);
  run.folders = static_cast<long long>(stats.folders);
  run.files = static_cast<long long>(stats.files);
  run.blockedInTree = static_cast<long long>(stats.blocked);
  run.entries = run.folders + run.files;

  const std::string dir = options.workDir + "/" + tag;
  std::filesystem::remove_all(dir);
  std::filesystem::create_directories(dir);
  const std::vector<std::string> common = {
      options.cli,          "--data-dir",        dir,
      "--netdisk-origin",   sim.netdiskOrigin(), "--passport-origin",
      sim.passportOrigin(), "--portal-origin",   sim.portalOrigin(),
      "--ca-file",          sim.caFile(),        "--yes",
  };
  std::vector<std::string> add = common;
  add.insert(add.end(), {"accounts", "add", cookies});
  ChildResult added = RunChild(add, dir, false);
  if (added.exitCode != 0) {
    std::cerr << "end_to_end: accounts add failed (" << added.exitCode << "):\n" << added.err;
    return std::nullopt;
  }

  // Every endpoint the task uses answers after the latency.
  auto& f = sim.faults();
  for (EndpointFaults* endpoint :
       {static_cast<EndpointFaults*>(&f.root), &f.followList, &f.list, &f.templateVariable,
        static_cast<EndpointFaults*>(&f.download)}) {
    endpoint->latencyMs = options.latencyMs;
  }
  sim.log().clear();

  std::vector<std::string> check = common;
  check.insert(check.end(), {"check", kFolder, "--depth", "0", "--json"});
  if (halving) check.push_back("--halving");
  run.load = LoadAverage();
  std::cerr << "  " << tag << ": " << run.entries << " entries (" << run.folders << " folders, "
            << run.blockedInTree << " blocked), halving " << (halving ? "on" : "off") << ", load "
            << run.load << " ...\n";
  run.child = RunChild(check, dir, false);
  run.roots = static_cast<long long>(sim.log().count("/"));
  run.lists = static_cast<long long>(sim.log().count("/api/list"));
  run.signs = static_cast<long long>(sim.log().count("/api/gettemplatevariable"));
  run.probes = static_cast<long long>(sim.log().count("/api/download"));
  run.otherRequests =
      static_cast<long long>(sim.log().total()) - run.roots - run.lists - run.signs - run.probes;
  run.total = JsonNumber(run.child.out, "total");
  run.undecided = JsonNumber(run.child.out, "undecided");
  run.blockedFound = Occurrences(run.child.out, "\"fs_id\"");
  if (run.child.exitCode != 0 || run.child.crawlS < 0 || run.child.checkS < 0) {
    std::cerr << "end_to_end: the check ended with " << run.child.exitCode << "; its stderr:\n"
              << run.child.err.substr(run.child.err.size() > 4000 ? run.child.err.size() - 4000
                                                                  : 0);
    return std::nullopt;
  }
  if (sim.log().rejected() > 0)
    std::cerr << "  (the simulator refused " << sim.log().rejected() << " requests)\n";
  std::cerr << "    crawl " << Fixed(run.child.crawlS, 2) << " s, check "
            << Fixed(run.child.checkS, 2) << " s, CPU " << Fixed(run.child.cpuS, 2) << " s, RSS "
            << run.child.maxRssKb / 1024 << " MB, " << run.total << " rows, " << run.blockedFound
            << " blocked\n";
  std::error_code ec;
  std::filesystem::remove_all(dir, ec);
  return run;
}

// The pacing bounds: what the program's own waits allow at best.
double CrawlBound(const Run& run, const Options& options) {
  const double latency = options.latencyMs / 1000.0;
  return std::max({static_cast<double>(run.folders) * kFolderPaceS,
                   static_cast<double>(run.entries) * kEntryPaceS / kCrawlThreads,
                   static_cast<double>(run.lists) * latency / kCrawlThreads});
}

long long Batches(const Run& run) {
  // Ranges (from, from + batch] are posted for from = 0, batch, ... while from <= total.
  return run.total / kBatch + 1;
}

double CheckBound(const Run& run, const Options& options) {
  const double latency = options.latencyMs / 1000.0;
  return std::max(static_cast<double>(Batches(run)) * kBatchPaceS,
                  static_cast<double>(run.probes) * latency / kCheckThreads);
}

std::vector<long long> ParseSizes(const std::string& text) {
  std::vector<long long> sizes;
  std::stringstream in(text);
  for (std::string piece; std::getline(in, piece, ',');) sizes.push_back(std::atoll(piece.c_str()));
  return sizes;
}

std::vector<double> ParseRates(const std::string& text) {
  std::vector<double> rates;
  std::stringstream in(text);
  for (std::string piece; std::getline(in, piece, ',');) rates.push_back(std::atof(piece.c_str()));
  return rates;
}

const char* const kUsage =
    "usage: end_to_end --cli PANSIFT_CLI [--sizes N,N,...] [--million] [--latency MS]\n"
    "                  [--blocked P] [--halving-size N] [--halving-rates P,P,...]\n"
    "                  [--no-halving] [--no-scaling] [--work-dir DIR]\n";

}  // namespace

int main(int argc, char** argv) {
  Options options;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    auto value = [&]() -> std::string {
      if (i + 1 >= argc) {
        std::cerr << kUsage;
        std::exit(2);
      }
      return argv[++i];
    };
    if (arg == "--cli")
      options.cli = value();
    else if (arg == "--sizes")
      options.sizes = ParseSizes(value());
    else if (arg == "--million")
      options.sizes.push_back(1000000);
    else if (arg == "--latency")
      options.latencyMs = std::atoi(value().c_str());
    else if (arg == "--blocked")
      options.blocked = std::atof(value().c_str());
    else if (arg == "--halving-size")
      options.halvingSize = std::atoll(value().c_str());
    else if (arg == "--halving-rates")
      options.halvingRates = ParseRates(value());
    else if (arg == "--no-halving")
      options.halving = false;
    else if (arg == "--no-scaling")
      options.scaling = false;
    else if (arg == "--work-dir")
      options.workDir = value();
    else {
      std::cerr << kUsage;
      return 2;
    }
  }
  if (options.cli.empty()) {
    std::cerr << kUsage;
    return 2;
  }
  if (options.workDir.empty()) {
    std::string templ = (std::filesystem::temp_directory_path() / "pansift-e2e-XXXXXX").string();
    if (!mkdtemp(templ.data())) return 1;
    options.workDir = templ;
  }
  signal(SIGPIPE, SIG_IGN);
  int failures = 0;

  if (options.scaling) {
    std::cout << "Latency " << options.latencyMs << " ms per request; " << kCrawlThreads
              << " crawl threads, " << kCheckThreads << " check threads, batches of " << kBatch
              << "; " << options.blocked * 100 << " % of the files blocked; a tree " << kTreeDepth
              << " folders deep, " << kTreeFanout << " subfolders each.\n\n"
              << "| entries | folders | list req. | crawl s | crawl bound s | ratio | batches | "
                 "probes | check s | check bound s | ratio | requests/file | CPU s | CPU s per "
                 "100 000 | peak RSS MB | load |\n"
              << "|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:"
                 "|\n"
              << std::flush;
    for (long long size : options.sizes) {
      std::optional<Run> run =
          CheckOnce(options, size, options.blocked, false, "scale-" + std::to_string(size));
      if (!run) {
        ++failures;
        continue;
      }
      const double crawlBound = CrawlBound(*run, options);
      const double checkBound = CheckBound(*run, options);
      const long long requests =
          run->roots + run->lists + run->signs + run->probes + run->otherRequests;
      std::cout << "| " << run->entries << " | " << run->folders << " | " << run->lists << " | "
                << Fixed(run->child.crawlS, 1) << " | " << Fixed(crawlBound, 1) << " | "
                << Fixed(run->child.crawlS / crawlBound, 3) << " | " << Batches(*run) << " | "
                << run->probes << " | " << Fixed(run->child.checkS, 1) << " | "
                << Fixed(checkBound, 1) << " | " << Fixed(run->child.checkS / checkBound, 3)
                << " | "
                << Fixed(static_cast<double>(requests) / static_cast<double>(run->files), 3)
                << " | " << Fixed(run->child.cpuS, 2) << " | "
                << Fixed(run->child.cpuS * 100000.0 / static_cast<double>(run->entries), 2) << " | "
                << Fixed(static_cast<double>(run->child.maxRssKb) / 1024.0, 1) << " | " << run->load
                << " |\n"
                << std::flush;
    }
  }

  if (options.halving) {
    std::cout << "\nProbes per blocked file, " << options.halvingSize << " entries, batches of "
              << kBatch << ":\n\n"
              << "| blocked | blocked files | file by file: probes | per blocked file | check s "
                 "| halving: probes | per blocked file | check s | load |\n"
              << "|---:|---:|---:|---:|---:|---:|---:|---:|---:|\n"
              << std::flush;
    for (double rate : options.halvingRates) {
      char tag[64];
      std::snprintf(tag, sizeof tag, "%g", rate * 100);
      std::optional<Run> each =
          CheckOnce(options, options.halvingSize, rate, false, std::string("each-") + tag);
      std::optional<Run> halves =
          CheckOnce(options, options.halvingSize, rate, true, std::string("halves-") + tag);
      if (!each || !halves) {
        ++failures;
        continue;
      }
      if (each->blockedFound != halves->blockedFound) {
        std::cerr << "end_to_end: the two searches found " << each->blockedFound << " and "
                  << halves->blockedFound << " blocked files\n";
        ++failures;
      }
      auto per = [](const Run& r) {
        return r.blockedFound > 0
                   ? static_cast<double>(r.probes) / static_cast<double>(r.blockedFound)
                   : -1.0;
      };
      std::cout << "| " << tag << " % | " << each->blockedFound << " | " << each->probes << " | "
                << Fixed(per(*each), 2) << " | " << Fixed(each->child.checkS, 1) << " | "
                << halves->probes << " | " << Fixed(per(*halves), 2) << " | "
                << Fixed(halves->child.checkS, 1) << " | " << each->load << " |\n"
                << std::flush;
    }
  }
  std::error_code ec;
  std::filesystem::remove_all(options.workDir, ec);
  return failures == 0 ? 0 : 1;
}
