// netdisk-sim: the simulated netdisk service for the demo, benchmarks and
// trying requests by hand. Prints its origins, the certificate to trust and the
// accounts' cookie strings, then serves until SIGINT or SIGTERM.
#include <signal.h>

#include <CLI/CLI.hpp>
#include <algorithm>
#include <cstdlib>
#include <functional>
#include <iostream>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include "simulator.h"

namespace {

using pansift::sim::CutMode;
using pansift::sim::EndpointFaults;
using pansift::sim::Faults;
using pansift::sim::GenerateOptions;
using pansift::sim::RedirectAway;
using pansift::sim::RootRedirect;
using pansift::sim::Simulator;
using pansift::sim::SimulatorOptions;

const char* const kFaultsGroup =
    "Faults (ENDPOINT: root, followlist, list, template, download, filemanager, create, login, "
    "all)";

const char* const kEndpointNames[] = {"root",     "followlist",  "list",   "template",
                                      "download", "filemanager", "create", "login"};

bool IsEndpointName(const std::string& name) {
  return name == "all" || std::find(std::begin(kEndpointNames), std::end(kEndpointNames), name) !=
                              std::end(kEndpointNames);
}

// The endpoints an ENDPOINT value names ("all": every one).
std::vector<EndpointFaults*> Endpoints(Faults& f, const std::string& name) {
  EndpointFaults* const each[] = {&f.root,     &f.followList,  &f.list,   &f.templateVariable,
                                  &f.download, &f.fileManager, &f.create, &f.login};
  static_assert(std::size(each) == std::size(kEndpointNames));
  std::vector<EndpointFaults*> out;
  for (size_t i = 0; i < std::size(each); ++i) {
    if (name == "all" || name == kEndpointNames[i]) out.push_back(each[i]);
  }
  return out;
}

// A fault option whose value is ENDPOINT=VALUE: what VALUE sets on each endpoint
// named. `set` answers false for a value it cannot take.
struct EndpointOption {
  const char* name;
  const char* value;  // how VALUE is written, for the help
  const char* help;
  bool (*set)(EndpointFaults& faults, const std::string& value);
};

int Int(const std::string& v) {
  return std::atoi(v.c_str());
}
double Probability(const std::string& v) {
  return std::atof(v.c_str());
}

const EndpointOption kEndpointOptions[] = {
    {"--latency", "MS", "every reply waits MS milliseconds",
     [](EndpointFaults& f, const std::string& v) {
       f.latencyMs = Int(v);
       return true;
     }},
    {"--empty", "P", "with probability P, HTTP 200 with an empty body",
     [](EndpointFaults& f, const std::string& v) {
       f.emptyProbability = Probability(v);
       return true;
     }},
    {"--drop", "P", "with probability P, the connection closed before any reply byte",
     [](EndpointFaults& f, const std::string& v) {
       f.dropProbability = Probability(v);
       return true;
     }},
    {"--errno2", "P", "with probability P, {\"errno\":2,...}",
     [](EndpointFaults& f, const std::string& v) {
       f.errno2Probability = Probability(v);
       return true;
     }},
    {"--rate-limit", "N/MS", "above N requests per MS milliseconds: the rate-limit reply",
     [](EndpointFaults& f, const std::string& v) {
       f.rateLimitRequests = Int(v);
       if (size_t slash = v.find('/'); slash != std::string::npos)
         f.rateLimitWindowMs = Int(v.substr(slash + 1));
       return true;
     }},
    {"--cut", "P", "with probability P, the reply cut off halfway through its body",
     [](EndpointFaults& f, const std::string& v) {
       f.cutProbability = Probability(v);
       return true;
     }},
    {"--max-url", "LEN", "a request target longer than LEN gets the 414 page",
     [](EndpointFaults& f, const std::string& v) {
       f.maxUrlLength = Int(v);
       return true;
     }},
    {"--cut-every", "N[:stall]",
     "every Nth reply stops half-way through its body, then the connection is reset (or "
     "stalls, see --stall-ms)",
     [](EndpointFaults& f, const std::string& v) {
       f.cutEvery = Int(v);
       if (v.find(":stall") != std::string::npos) f.cutMode = CutMode::Stall;
       return true;
     }},
    {"--stall-ms", "MS", "how long a stalled reply holds the connection",
     [](EndpointFaults& f, const std::string& v) {
       f.stallMs = Int(v);
       return true;
     }},
    {"--inflate", "BYTES",
     "bodies padded with blanks to BYTES, gzip-encoded when the client accepts gzip (a small "
     "reply, a huge body)",
     [](EndpointFaults& f, const std::string& v) {
       f.inflatedBytes = std::strtoull(v.c_str(), nullptr, 10);
       return true;
     }},
    {"--redirect-away", "foreign|plain-http|loop",
     "302 to a foreign https host, to plain http, or to the request itself; the bystander hosts "
     "log any cookie they get",
     [](EndpointFaults& f, const std::string& v) {
       if (v == "foreign")
         f.redirectAway = RedirectAway::Foreign;
       else if (v == "plain-http")
         f.redirectAway = RedirectAway::PlainHttp;
       else if (v == "loop")
         f.redirectAway = RedirectAway::Loop;
       else
         return false;
       return true;
     }},
};

// "files=N,depth=D,..." of --generate; false when a piece is not one of its keys.
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

struct Generated {
  GenerateOptions options;
  std::string user;  // empty: the first account
};

struct Settings {
  SimulatorOptions options;
  std::vector<std::string> fixtures;
  std::vector<Generated> generated;
  // The fault options in the order given: a later one overrides an earlier one
  // (--latency all=50 --latency list=0).
  std::vector<std::function<void(Faults&)>> faults;
};

// The options, their help and what each sets in `s`. A malformed value is refused
// while parsing, before anything starts.
void AddOptions(CLI::App& cli, Settings& s) {
  cli.add_option_function<int>(
         "--port",
         [&s](const int& port) {
           s.options.netdiskPort = port;
           s.options.passportPort = port ? port + 1 : 0;
           s.options.portalPort = port ? port + 2 : 0;
         },
         "Netdisk origin port (passport N+1, portal N+2); default: free ports")
      ->option_text("N");
  cli.add_flag("--host-names", s.options.hostNames,
               "origins pan/passport/www.sim.localhost instead of 127.0.0.1");
  cli.add_option("--cert", s.options.certFile, "write the certificate here (default: a temp file)")
      ->option_text("FILE");
  cli.add_option("--fixture", s.fixtures, "accounts and trees from a JSON fixture (repeatable)")
      ->option_text("FILE")
      ->allow_extra_args(false);
  cli.add_option_function<std::string>(
         "--generate",
         [&s](const std::string& spec) {
           Generated g;
           if (!ParseGenerate(spec, g.options, g.user))
             throw CLI::ValidationError("--generate", "bad value " + spec);
           s.generated.push_back(std::move(g));
         },
         "a generated tree (for the given or the default account), repeatable; pairs=0 leaves out "
         "its folder of similar names")
      ->option_text("files=N,depth=D,fanout=F,blocked=P,seed=S[,user=NAME][,under=/DIR][,pairs=0]")
      ->trigger_on_parse();
  cli.add_option("--seed", s.options.seed, "seed for ids, tokens and fault draws")
      ->option_text("N");

  for (const EndpointOption& option : kEndpointOptions) {
    cli.add_option_function<std::string>(
           option.name,
           [&s, &option](const std::string& arg) {
             const size_t eq = arg.find('=');
             const std::string endpoint = arg.substr(0, eq == std::string::npos ? 0 : eq);
             const std::string value = eq == std::string::npos ? "" : arg.substr(eq + 1);
             EndpointFaults trial;  // the value is tried here before it is kept
             if (!IsEndpointName(endpoint) || value.empty() || !option.set(trial, value))
               throw CLI::ValidationError(option.name, "bad value " + arg);
             s.faults.push_back([&option, endpoint, value](Faults& f) {
               for (EndpointFaults* target : Endpoints(f, endpoint)) option.set(*target, value);
             });
           },
           option.help)
        ->option_text(std::string("ENDPOINT=") + option.value)
        ->group(kFaultsGroup)
        ->trigger_on_parse();
  }
  cli.add_option_function<std::string>(
         "--set-cookies",
         [&s](const std::string& endpoint) {
           if (!IsEndpointName(endpoint))
             throw CLI::ValidationError("--set-cookies", "no endpoint " + endpoint);
           s.faults.push_back([endpoint](Faults& f) {
             for (EndpointFaults* target : Endpoints(f, endpoint)) target->setCookies = true;
           });
         },
         "replies carry Set-Cookie headers")
      ->option_text("ENDPOINT")
      ->group(kFaultsGroup)
      ->trigger_on_parse();
  cli.add_option_function<int>(
         "--sign-uses",
         [&s](const int& n) { s.faults.push_back([n](Faults& f) { f.download.signUses = n; }); },
         "a download sign is refused (112) after N uses")
      ->option_text("N")
      ->group(kFaultsGroup)
      ->trigger_on_parse();
  cli.add_option_function<int>(
         "--sign-max-age",
         [&s](const int& seconds) {
           s.faults.push_back([seconds](Faults& f) { f.download.signMaxAgeSeconds = seconds; });
         },
         "download signs older than SECONDS are refused (112)")
      ->option_text("SECONDS")
      ->group(kFaultsGroup)
      ->trigger_on_parse();
  cli.add_option_function<std::string>(
         "--busy-deletes",
         [&s](const std::string& arg) {
           const int n = Int(arg);
           const bool code31034 = arg.find(":31034") != std::string::npos;
           s.faults.push_back([n, code31034](Faults& f) {
             f.fileManager.busyDeletes = n;
             if (code31034) f.fileManager.busyCode = 31034;
           });
         },
         "the next N deletes answer busy (errno 12 with 111 inside, or errno 31034)")
      ->option_text("N[:31034]")
      ->group(kFaultsGroup)
      ->trigger_on_parse();
  cli.add_option_function<std::string>(
         "--redirect",
         [&s](const std::string& mode) {
           const std::pair<const char*, RootRedirect> modes[] = {
               {"none", RootRedirect::None},
               {"relative", RootRedirect::Relative},
               {"absolute", RootRedirect::Absolute},
               {"both", RootRedirect::Both},
               {"nolocation", RootRedirect::NoLocation}};
           for (const auto& known : modes) {
             if (mode != known.first) continue;
             const RootRedirect redirect = known.second;
             s.faults.push_back([redirect](Faults& f) { f.root.redirect = redirect; });
             return;
           }
           throw CLI::ValidationError("--redirect", "no such mode " + mode);
         },
         "how \"/\" leads to the web page (default: both, \"/\" -> /disk/home -> /disk/main)")
      ->option_text("none|relative|absolute|both|nolocation")
      ->group(kFaultsGroup)
      ->trigger_on_parse();
  cli.add_flag_callback(
         "--identity-check",
         [&s] { s.faults.push_back([](Faults& f) { f.fileManager.identityCheck = true; }); },
         "deletes answer errno 132 (identity check)")
      ->group(kFaultsGroup);
  cli.add_flag_callback(
         "--dead-login-to-passport",
         [&s] { s.faults.push_back([](Faults& f) { f.root.deadLoginToPassport = true; }); },
         "\"/\" sends a dead login to the passport login page")
      ->group(kFaultsGroup);
  cli.add_flag_callback(
         "--without-uk", [&s] { s.faults.push_back([](Faults& f) { f.root.withoutUk = true; }); },
         "the web page's user data lacks \"uk\"")
      ->group(kFaultsGroup);

  cli.footer(
      "API requests must carry the program's query keys in its order, each with its value; "
      "others are answered with errno 2 and logged as rejected, and so are requests for "
      "another login's files.");
}

}  // namespace

int main(int argc, char** argv) {
  Settings settings;
  settings.options.logLimit = 1000;  // a long-running demo keeps only recent requests
  CLI::App cli{
      "The simulated netdisk service: prints its origins, the certificate to trust and each "
      "account's cookies, then serves until SIGINT or SIGTERM.",
      "netdisk-sim"};
  AddOptions(cli, settings);
  try {
    cli.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    return cli.exit(e) == 0 ? 0 : 2;
  }

  Simulator sim(settings.options);
  for (const std::string& file : settings.fixtures) {
    std::string error;
    if (!sim.loadFixture(file, &error)) {
      std::cerr << "netdisk-sim: " << file << ": " << error << "\n";
      return 1;
    }
  }
  if (sim.accounts().empty()) sim.addAccount({.userName = "演示*用户"});
  for (const Generated& g : settings.generated) {
    std::string name = g.user.empty() ? sim.accounts().front().userName : g.user;
    if (!sim.account(name)) sim.addAccount({.userName = name});
    auto stats = sim.generate(name, g.options);
    std::cout << "generated for " << name << ": " << stats.folders << " folders, " << stats.files
              << " files, " << stats.blocked << " blocked\n";
  }
  for (const auto& set : settings.faults) set(sim.faults());

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
