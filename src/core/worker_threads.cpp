#include "core/worker_threads.h"

#include <cstdio>
#include <system_error>

#include "core/log.h"

namespace pansift {

WorkerFailureReport ReportToLog(AppState& app) {
  return [&app](std::string_view name, std::string_view what) {
    ReportWorkerFailure(app, name, what);
  };
}

void ReportFailure(const WorkerFailureReport& report, std::string_view name,
                   std::string_view what) noexcept {
  try {
    if (report) {
      report(name, what);
      return;
    }
  } catch (...) {
  }
  // No allocation from here on.
  std::fputs("pansift: work \"", stderr);
  std::fwrite(name.data(), 1, name.size(), stderr);
  std::fputs("\" ended by an exception: ", stderr);
  std::fwrite(what.data(), 1, what.size(), stderr);
  std::fputc('\n', stderr);
}

WorkerThreads::WorkerThreads(WorkerFailureReport report) : report_(std::move(report)) {}

WorkerThreads::~WorkerThreads() {
  waitAll();
}

bool WorkerThreads::start(std::function<void()> work, std::string_view name) {
  bool started = false;
  // A thread that cannot be made is reported as a failure of its work.
  RunReportingFailure(
      [&] {
        std::lock_guard lock(mutex_);
        joinFinished();
        std::uint64_t id = nextId_++;
        // The entry first: a thread that was made is always kept, so it is joined.
        Worker& worker = threads_[id];
        try {
          worker.thread =
              std::thread([this, id, name = std::string(name), work = std::move(work)]() mutable {
                RunReportingFailure(work, name, report_);
                // What the work captured goes now, while the owner surely still waits for us.
                work = nullptr;
                std::lock_guard finishLock(mutex_);
                threads_.find(id)->second.finished = true;
                --running_;
                // Notified under the lock: once it is released this thread no longer touches
                // the object, which may then be destroyed by whoever saw it idle.
                idle_.notify_all();
              });
        } catch (...) {
          threads_.erase(id);
          throw;
        }
        ++running_;
        started = true;
      },
      name, report_);
  return started;
}

void WorkerThreads::waitAll() {
  std::unique_lock lock(mutex_);
  idle_.wait(lock, [this] { return running_ == 0; });
  joinFinished();
}

bool WorkerThreads::waitAllFor(std::chrono::milliseconds timeout) {
  std::unique_lock lock(mutex_);
  if (!idle_.wait_for(lock, timeout, [this] { return running_ == 0; })) return false;
  joinFinished();
  return true;
}

int WorkerThreads::running() const {
  std::lock_guard lock(mutex_);
  return running_;
}

void WorkerThreads::joinFinished() {
  for (auto it = threads_.begin(); it != threads_.end();) {
    if (!it->second.finished) {
      ++it;
      continue;
    }
    it->second.thread.join();
    it = threads_.erase(it);
  }
}

}  // namespace pansift
