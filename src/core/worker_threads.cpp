#include "core/worker_threads.h"

namespace pansift {

WorkerThreads::~WorkerThreads() {
  waitAll();
}

void WorkerThreads::start(std::function<void()> work) {
  std::vector<std::thread> ended;
  {
    std::lock_guard lock(mutex_);
    ended = takeFinished();
    std::uint64_t id = nextId_++;
    ++running_;
    // The thread is in the set before it can end: its last step needs mutex_.
    threads_.emplace(id, std::thread([this, id, work = std::move(work)]() mutable {
                       work();
                       // What the work captured goes now, while the owner surely still waits for
                       // us.
                       work = nullptr;
                       std::lock_guard finishLock(mutex_);
                       finished_.push_back(id);
                       --running_;
                       // Notified under the lock: once it is released this thread no longer touches
                       // the object, which may then be destroyed by whoever saw it idle.
                       idle_.notify_all();
                     }));
  }
  for (std::thread& thread : ended) thread.join();
}

void WorkerThreads::waitAll() {
  std::unique_lock lock(mutex_);
  idle_.wait(lock, [this] { return running_ == 0; });
  std::vector<std::thread> ended = takeFinished();
  lock.unlock();
  for (std::thread& thread : ended) thread.join();
}

bool WorkerThreads::waitAllFor(std::chrono::milliseconds timeout) {
  std::unique_lock lock(mutex_);
  if (!idle_.wait_for(lock, timeout, [this] { return running_ == 0; })) return false;
  std::vector<std::thread> ended = takeFinished();
  lock.unlock();
  for (std::thread& thread : ended) thread.join();
  return true;
}

int WorkerThreads::running() const {
  std::lock_guard lock(mutex_);
  return running_;
}

std::vector<std::thread> WorkerThreads::takeFinished() {
  std::vector<std::thread> ended;
  ended.reserve(finished_.size());
  for (std::uint64_t id : finished_) {
    auto it = threads_.find(id);
    if (it == threads_.end()) continue;
    ended.push_back(std::move(it->second));
    threads_.erase(it);
  }
  finished_.clear();
  return ended;
}

}  // namespace pansift
