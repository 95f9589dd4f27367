// netdisk-sim: the simulated netdisk service for the demo, benchmarks and
// trying requests by hand. Prints its origins, the certificate to trust and the
// accounts' cookie strings, then serves until SIGINT or SIGTERM.
#include <signal.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <string>

#include "simulator.h"

namespace {

using pansift::sim::EndpointFaults;
using pansift::sim::Faults;
using pansift::sim::GenerateOptions;
using pansift::sim::Simulator;
using pansift::sim::SimulatorOptions;

const char* const kUsage =
    "usage: netdisk-sim [options]\n"
    "  --port N              Netdisk origin port (passport N+1, portal N+2); default: free ports\n"
    "  --host-names          origins pan/passport/www.sim.localhost instead of 127.0.0.1\n"
    "  --cert FILE           write the certificate here (default: a temp file)\n"
    "  --fixture FILE        accounts and trees from a JSON fixture (repeatable)\n"
    "  --generate LIST       files=N,depth=D,fanout=F,blocked=P,seed=S[,user=NAME][,under=/DIR]\n"
    "                        [,pairs=0] a generated tree (for the given or the default\n"
    "                        account); pairs=0 leaves out its folder of similar names\n"
    "  --seed N              seed for ids, tokens and fault draws\n"
    "faults (ENDPOINT: root, followlist, list, template, download, filemanager, create, login, "
    "all):\n"
    "  --latency ENDPOINT=MS          --empty ENDPOINT=P       --drop ENDPOINT=P\n"
    "  --errno2 ENDPOINT=P            --rate-limit ENDPOINT=N/MS\n"
    "  --cut ENDPOINT=P               (reply cut off halfway through its body)\n"
    "  --max-url ENDPOINT=LEN         --sign-uses N            --sign-max-age SECONDS\n"
    "  --busy-deletes N[:31034]       --identity-check\n"
    "  --redirect none|relative|absolute|both|nolocation\n"
    "  --cut-every ENDPOINT=N[:stall] every Nth reply stops half-way through its body, then\n"
    "                                 the connection is reset (or stalls, see --stall-ms)\n"
    "  --stall-ms ENDPOINT=MS         how long a stalled reply holds the connection\n"
    "  --inflate ENDPOINT=BYTES       bodies padded with blanks to BYTES, gzip-encoded when\n"
    "                                 the client accepts gzip (a small reply, a huge body)\n"
    "  --set-cookies ENDPOINT         replies carry Set-Cookie headers\n"
    "  --redirect-away ENDPOINT=foreign|plain-http|loop\n"
    "                                 302 to a foreign https host, to plain http, or to the\n"
    "                                 request itself; the bystander hosts log any cookie\n"
    "  --dead-login-to-passport       \"/\" sends a dead login to the passport login page\n"
    "  --without-uk                   the web page's user data lacks \"uk\"\n"
    "Requests to /api/list and getfollowlist must carry every key in order with its\n"
    "value; others are answered with errno 2 and logged as rejected.\n";

std::vector<EndpointFaults*> Endpoints(Simulator& sim, const std::string& name) {
  auto& f = sim.faults();
  if (name == "all")
    return {&f.root,     &f.followList,  &f.list,   &f.templateVariable,
            &f.download, &f.fileManager, &f.create, &f.login};
  if (name == "root") return {&f.root};
  if (name == "followlist") return {&f.followList};
  if (name == "list") return {&f.list};
  if (name == "template") return {&f.templateVariable};
  if (name == "download") return {&f.download};
  if (name == "filemanager") return {&f.fileManager};
  if (name == "create") return {&f.create};
  if (name == "login") return {&f.login};
  return {};
}

// "ENDPOINT=VALUE" -> endpoints and value; false when malformed.
bool SplitFault(Simulator& sim, const std::string& arg, std::vector<EndpointFaults*>& targets,
                std::string& value) {
  size_t eq = arg.find('=');
  if (eq == std::string::npos) return false;
  targets = Endpoints(sim, arg.substr(0, eq));
  value = arg.substr(eq + 1);
  return !targets.empty() && !value.empty();
}

bool ParseGenerate(const std::string& spec, GenerateOptions& options, std::string& user) {
  size_t start = 0;
  while (start < spec.size()) {
    size_t end = spec.find(',', start);
    if (end == std::string::npos) end = spec.size();
    std::string piece = spec.substr(start, end - start);
    size_t eq = piece.find('=');
    if (eq == std::string::npos) return false;
    std::string key = piece.substr(0, eq);
    std::string value = piece.substr(eq + 1);
    if (key == "files")
      options.files = std::strtoull(value.c_str(), nullptr, 10);
    else if (key == "depth")
      options.depth = std::atoi(value.c_str());
    else if (key == "fanout")
      options.fanout = std::atoi(value.c_str());
    else if (key == "blocked")
      options.blocked = std::atof(value.c_str());
    else if (key == "seed")
      options.seed = std::strtoull(value.c_str(), nullptr, 10);
    else if (key == "user")
      user = value;
    else if (key == "under")
      options.under = value;
    else if (key == "pairs")
      options.siblingPairs = value != "0";
    else
      return false;
    start = end + 1;
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  SimulatorOptions options;
  options.logLimit = 1000;  // a long-running demo keeps only recent requests
  std::vector<std::string> fixtures;
  std::vector<std::pair<GenerateOptions, std::string>> generated;
  std::vector<std::pair<std::string, std::string>> faultArgs;

  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    auto value = [&]() -> std::string {
      if (i + 1 >= argc) {
        std::cerr << "netdisk-sim: " << arg << " needs a value\n";
        std::exit(2);
      }
      return argv[++i];
    };
    if (arg == "--help" || arg == "-h") {
      std::cout << kUsage;
      return 0;
    } else if (arg == "--port") {
      int port = std::atoi(value().c_str());
      options.netdiskPort = port;
      options.passportPort = port ? port + 1 : 0;
      options.portalPort = port ? port + 2 : 0;
    } else if (arg == "--host-names") {
      options.hostNames = true;
    } else if (arg == "--cert") {
      options.certFile = value();
    } else if (arg == "--seed") {
      options.seed = std::strtoull(value().c_str(), nullptr, 10);
    } else if (arg == "--fixture") {
      fixtures.push_back(value());
    } else if (arg == "--generate") {
      GenerateOptions g;
      std::string user;
      if (!ParseGenerate(value(), g, user)) {
        std::cerr << "netdisk-sim: bad --generate value\n" << kUsage;
        return 2;
      }
      generated.emplace_back(g, user);
    } else if (arg == "--identity-check" || arg == "--dead-login-to-passport" ||
               arg == "--without-uk") {
      faultArgs.emplace_back(arg, "");
    } else if (arg.rfind("--", 0) == 0) {
      faultArgs.emplace_back(arg, value());
    } else {
      std::cerr << "netdisk-sim: unknown argument " << arg << "\n" << kUsage;
      return 2;
    }
  }

  Simulator sim(options);
  for (const std::string& file : fixtures) {
    std::string error;
    if (!sim.loadFixture(file, &error)) {
      std::cerr << "netdisk-sim: " << file << ": " << error << "\n";
      return 1;
    }
  }
  if (sim.accounts().empty()) sim.addAccount({.userName = "演示*用户"});
  for (auto& [g, user] : generated) {
    std::string name = user.empty() ? sim.accounts().front().userName : user;
    if (!sim.account(name)) sim.addAccount({.userName = name});
    auto stats = sim.generate(name, g);
    std::cout << "generated for " << name << ": " << stats.folders << " folders, " << stats.files
              << " files, " << stats.blocked << " blocked\n";
  }

  for (const auto& [flag, arg] : faultArgs) {
    Faults& f = sim.faults();
    std::vector<EndpointFaults*> targets;
    std::string v;
    bool ok = true;
    if (flag == "--identity-check") {
      f.fileManager.identityCheck = true;
    } else if (flag == "--dead-login-to-passport") {
      f.root.deadLoginToPassport = true;
    } else if (flag == "--without-uk") {
      f.root.withoutUk = true;
    } else if (flag == "--set-cookies") {
      targets = Endpoints(sim, arg);
      for (EndpointFaults* t : targets) t->setCookies = true;
      ok = !targets.empty();
    } else if (flag == "--sign-uses") {
      f.download.signUses = std::atoi(arg.c_str());
    } else if (flag == "--sign-max-age") {
      f.download.signMaxAgeSeconds = std::atoi(arg.c_str());
    } else if (flag == "--busy-deletes") {
      f.fileManager.busyDeletes = std::atoi(arg.c_str());
      if (arg.find(":31034") != std::string::npos) f.fileManager.busyCode = 31034;
    } else if (flag == "--redirect") {
      using pansift::sim::RootRedirect;
      if (arg == "none")
        f.root.redirect = RootRedirect::None;
      else if (arg == "relative")
        f.root.redirect = RootRedirect::Relative;
      else if (arg == "absolute")
        f.root.redirect = RootRedirect::Absolute;
      else if (arg == "both")
        f.root.redirect = RootRedirect::Both;
      else if (arg == "nolocation")
        f.root.redirect = RootRedirect::NoLocation;
      else
        ok = false;
    } else if (SplitFault(sim, arg, targets, v)) {
      for (EndpointFaults* t : targets) {
        if (flag == "--latency")
          t->latencyMs = std::atoi(v.c_str());
        else if (flag == "--empty")
          t->emptyProbability = std::atof(v.c_str());
        else if (flag == "--drop")
          t->dropProbability = std::atof(v.c_str());
        else if (flag == "--cut")
          t->cutProbability = std::atof(v.c_str());
        else if (flag == "--errno2")
          t->errno2Probability = std::atof(v.c_str());
        else if (flag == "--max-url")
          t->maxUrlLength = std::atoi(v.c_str());
        else if (flag == "--cut-every") {
          t->cutEvery = std::atoi(v.c_str());
          if (v.find(":stall") != std::string::npos) t->cutMode = pansift::sim::CutMode::Stall;
        } else if (flag == "--stall-ms")
          t->stallMs = std::atoi(v.c_str());
        else if (flag == "--inflate")
          t->inflatedBytes = std::strtoull(v.c_str(), nullptr, 10);
        else if (flag == "--redirect-away") {
          using pansift::sim::RedirectAway;
          if (v == "foreign")
            t->redirectAway = RedirectAway::Foreign;
          else if (v == "plain-http")
            t->redirectAway = RedirectAway::PlainHttp;
          else if (v == "loop")
            t->redirectAway = RedirectAway::Loop;
          else
            ok = false;
        } else if (flag == "--rate-limit") {
          t->rateLimitRequests = std::atoi(v.c_str());
          size_t slash = v.find('/');
          if (slash != std::string::npos) t->rateLimitWindowMs = std::atoi(v.c_str() + slash + 1);
        } else
          ok = false;
      }
    } else {
      ok = false;
    }
    if (!ok) {
      std::cerr << "netdisk-sim: bad option " << flag << " " << arg << "\n" << kUsage;
      return 2;
    }
  }

  // Block the stop signals before the listener threads start, so only sigwait sees them.
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGINT);
  sigaddset(&stopSignals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

  if (!sim.start()) {
    std::cerr << "netdisk-sim: cannot start (port in use or certificate not writable)\n";
    return 1;
  }
  std::cout << "netdisk origin:  " << sim.netdiskOrigin() << "\n"
            << "passport origin: " << sim.passportOrigin() << "\n"
            << "portal origin:   " << sim.portalOrigin() << "\n"
            << "certificate:     " << sim.caFile() << "\n"
            << "bystanders:      " << sim.foreignOrigin() << " " << sim.plainHttpOrigin()
            << " (not the service; they log any cookie they get)\n";
  for (const auto& a : sim.accounts()) {
    std::cout << "account " << a.userName << " (uk " << a.uk << ", bdstoken " << a.bdstoken
              << (a.login == pansift::sim::LoginState::Expired ? ", expired" : "")
              << ")\n  cookies: " << sim.cookies(a.userName) << "\n";
  }
  std::cout << "PANSIFT_NETDISK_ORIGIN=" << sim.netdiskOrigin()
            << " PANSIFT_PASSPORT_ORIGIN=" << sim.passportOrigin()
            << " PANSIFT_PORTAL_ORIGIN=" << sim.portalOrigin()
            << " PANSIFT_CA_FILE=" << sim.caFile() << "\n"
            << std::flush;

  int signal = 0;
  sigwait(&stopSignals, &signal);
  std::cout << "netdisk-sim: stopping after " << sim.log().total() << " requests\n";
  sim.stop();
  return 0;
}
