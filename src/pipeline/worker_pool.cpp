#include "pipeline/worker_pool.h"

#include <algorithm>
#include <new>
#include <system_error>

#include "core/app_state.h"
#include "util/clock.h"

namespace pansift {
namespace {

// An extra worker looks at the pool's clock at least this often while it waits, so
// that a test clock which jumps ahead ends it without a real wait of the time-out.
constexpr std::chrono::milliseconds kIdlePoll{20};
constexpr int kStartFailuresBeforeCap = 5;

}  // namespace

WorkerPool::WorkerPool(Clock& clock, int minThreads, int maxThreads,
                       std::chrono::milliseconds idleTimeout, WorkerFailureReport report)
    : clock_(clock),
      report_(std::move(report)),
      minThreads_(std::max(minThreads, 1)),
      idleTimeout_(idleTimeout),
      maxThreads_(std::max(maxThreads, std::max(minThreads, 1))) {
  std::lock_guard lock(mutex_);
  for (int i = 0; i < minThreads_; ++i) startWorker(false);
  manager_ = std::thread([this] { managerLoop(); });
}

WorkerPool::~WorkerPool() {
  {
    std::lock_guard lock(mutex_);
    running_ = false;
    queued_ -= static_cast<int>(tasks_.size());
    tasks_.clear();
  }
  taskReady_.notify_all();
  managerWake_.notify_all();
  if (manager_.joinable()) manager_.join();
  std::map<std::uint64_t, Worker> workers;
  {
    std::lock_guard lock(mutex_);
    workers.swap(workers_);
  }
  for (auto& [id, worker] : workers) worker.thread.join();
}

bool WorkerPool::post(Routine routine, std::int32_t a, std::int32_t b, const char* name) {
  if (!routine) return false;
  {
    std::lock_guard lock(mutex_);
    if (!running_) return false;
    queued_ += 1;
    try {
      tasks_.push_back(Task{std::move(routine), a, b, name ? name : ""});
    } catch (const std::bad_alloc&) {
      queued_ -= 1;
      return false;
    }
  }
  taskReady_.notify_one();
  if (wantsWorker()) wakeManager();
  return true;
}

void WorkerPool::setMaxThreads(int n) {
  maxThreads_ = std::max(n, 1);
  if (wantsWorker()) wakeManager();
}

bool WorkerPool::wantsWorker() const {
  int threads = threads_.load();
  return threads < maxThreads_.load() && busy_.load() + queued_.load() > threads;
}

void WorkerPool::wakeManager() {
  {
    std::lock_guard lock(mutex_);
    managerWoken_ = true;
  }
  managerWake_.notify_one();
}

void WorkerPool::workerLoop(std::uint64_t id, bool extra) {
  std::unique_lock lock(mutex_);
  Clock::TimePoint idleSince = clock_.now();
  while (running_) {
    if (!tasks_.empty()) {
      Task task = std::move(tasks_.front());
      tasks_.pop_front();
      // In this order: a task in hand is never counted in neither counter, so the
      // pool never looks idle while it runs.
      busy_ += 1;
      queued_ -= 1;
      lock.unlock();
      RunReportingFailure([&task] { task.routine(task.a, task.b); }, task.name, report_);
      // What the routine captured goes before the pool may count as idle.
      task.routine = nullptr;
      busy_ -= 1;
      lock.lock();
      idleSince = clock_.now();
      continue;
    }
    if (!extra) {
      taskReady_.wait(lock);
      continue;
    }
    auto idle = clock_.now() - idleSince;
    if (idle >= idleTimeout_) break;
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(idleTimeout_ - idle);
    taskReady_.wait_for(lock, std::min(left + std::chrono::milliseconds(1), kIdlePoll));
  }
  if (!extra || !running_) return;
  threads_ -= 1;
  workers_.find(id)->second.ended = true;
}

void WorkerPool::managerLoop() {
  int failures = 0;
  std::unique_lock lock(mutex_);
  while (running_) {
    managerWake_.wait(lock, [this] { return managerWoken_ || !running_; });
    managerWoken_ = false;
    joinEnded();
    while (running_ && wantsWorker()) {
      if (startWorker(true)) {
        failures = 0;
        continue;
      }
      if (++failures >= kStartFailuresBeforeCap) {
        maxThreads_ = threads_.load();
        failures = 0;
        break;
      }
    }
  }
}

bool WorkerPool::startWorker(bool extra) {
  std::uint64_t id = nextWorkerId_++;
  threads_ += 1;
  try {
    // The entry first: a thread that was made is always kept, so it is joined.
    Worker& worker = workers_[id];
    try {
      worker.thread = std::thread([this, id, extra] { workerLoop(id, extra); });
    } catch (...) {
      workers_.erase(id);
      throw;
    }
  } catch (const std::system_error&) {
    threads_ -= 1;
    return false;
  } catch (const std::bad_alloc&) {
    threads_ -= 1;
    return false;
  }
  return true;
}

void WorkerPool::joinEnded() {
  for (auto it = workers_.begin(); it != workers_.end();) {
    if (!it->second.ended) {
      ++it;
      continue;
    }
    // The worker has left its loop and only returns now; it needs no lock for that.
    it->second.thread.join();
    it = workers_.erase(it);
  }
}

WorkerPool& CreateWorkerPool(AppState& app) {
  static std::mutex creating;
  std::lock_guard lock(creating);
  if (!app.workerPool) {
    app.workerPool = std::make_shared<WorkerPool>(
        app.platform.clock(), WorkerPool::kDefaultMinThreads, WorkerPool::kDefaultMaxThreads,
        WorkerPool::kDefaultIdleTimeout, ReportToLog(app));
  }
  return *app.workerPool;
}

}  // namespace pansift
