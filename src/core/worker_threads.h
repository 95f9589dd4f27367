// Threads that run one action each (add an account, validate, list a folder) and
// end by themselves. Nobody waits for them while the program runs, but tests and
// shutdown must be able to: each thread is kept until it has ended and been joined.
//
// An exception that leaves a worker's work ends that work, never the program: it is
// reported (log and status bar, see ReportWorkerFailure) and the thread ends as
// any other. Whatever the work claimed is released by its own guards on the way out.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <exception>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>

namespace pansift {

struct AppState;

/// Hears of work that ended by an exception, on the thread that ran it: the name the
/// work was started with (UTF-8, may be empty) and the exception's what().
using WorkerFailureReport = std::function<void(std::string_view name, std::string_view what)>;

/// The program's report: ReportWorkerFailure on `app` (log and status bar).
WorkerFailureReport ReportToLog(AppState& app);

/// Hands a failure to `report`. Reporting needs memory, which may be what ran out:
/// when there is no report or it throws too, one line goes to stderr instead.
void ReportFailure(const WorkerFailureReport& report, std::string_view name,
                   std::string_view what) noexcept;

/// Runs `work()`; an exception it throws ends here and is reported.
template <class Work>
void RunReportingFailure(Work&& work, std::string_view name,
                         const WorkerFailureReport& report) noexcept {
  try {
    work();
  } catch (const std::exception& e) {
    ReportFailure(report, name, e.what());
  } catch (...) {
    ReportFailure(report, name, "unknown exception");
  }
}

class WorkerThreads {
 public:
  /// `report` hears of every worker that ends by an exception.
  explicit WorkerThreads(WorkerFailureReport report = {});
  WorkerThreads(const WorkerThreads&) = delete;
  WorkerThreads& operator=(const WorkerThreads&) = delete;
  /// Waits for every thread (waitAll).
  ~WorkerThreads();

  /// Runs `work` on a new thread and returns at once; `name` (UTF-8) says what the
  /// work is when it fails. Threads that have ended are joined here, so the set never
  /// grows beyond the threads still running. A worker may start further workers.
  /// False, and reported, when no thread could be made: `work` is then dropped
  /// without running, and the caller undoes what it claimed for it.
  bool start(std::function<void()> work, std::string_view name = {});

  /// Waits until no thread runs, including threads started meanwhile, and joins them.
  /// Not from one of these threads.
  void waitAll();
  /// Like waitAll, but gives up after `timeout`; true when no thread runs any more.
  /// Lets a UI thread keep its events flowing between waits.
  bool waitAllFor(std::chrono::milliseconds timeout);

  /// The threads that have started and not yet ended.
  int running() const;

 private:
  struct Worker {
    std::thread thread;
    bool finished = false;  // only returning now; joined by the next start or wait
  };
  /// Joins the threads that have ended and forgets them; mutex_ held. Allocates
  /// nothing, and a finished thread needs no lock to return.
  void joinFinished();

  const WorkerFailureReport report_;
  mutable std::mutex mutex_;
  std::condition_variable idle_;
  std::map<std::uint64_t, Worker> threads_;
  std::uint64_t nextId_ = 0;
  int running_ = 0;
};

}  // namespace pansift
