// A scan-and-check task against the simulator, for the pipeline's tests: the
// shared record, the window's form, a folder tree to select in, the controller, and
// readers of the catalogue file and the program's output.
#pragma once

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <chrono>
#include <condition_variable>
#include <fstream>
#include <functional>
#include <iterator>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "core/app_state.h"
#include "core/headless_platform.h"
#include "core/main_form.h"
#include "pipeline/check_task.h"
#include "support/catalogue_rows.h"
#include "support/sim_app.h"
#include "support/temp_dir.h"
#include "tree/folder_tree.h"
#include "util/clock.h"
#include "util/codepage.h"

namespace pansift::testing {

/// A test clock whose sleeps advance at once, and which lets a test act at a
/// chosen wait: the hook sees every sleep (on the sleeping thread) before it returns.
class HookClock final : public Clock {
 public:
  TimePoint now() override { return TimePoint(std::chrono::milliseconds(elapsedMs_.load())); }
  void sleepFor(std::chrono::milliseconds duration) override {
    if (duration.count() > 0) elapsedMs_ += duration.count();
    std::function<void(std::chrono::milliseconds)> hook;
    {
      std::lock_guard lock(mutex_);
      hook = hook_;
    }
    if (hook) hook(duration);
    std::this_thread::yield();
  }
  void setHook(std::function<void(std::chrono::milliseconds)> hook) {
    std::lock_guard lock(mutex_);
    hook_ = std::move(hook);
  }

 private:
  std::atomic<long long> elapsedMs_{0};
  std::mutex mutex_;
  std::function<void(std::chrono::milliseconds)> hook_;
};

/// A test clock for long runs: time advances by the whole wait at once, but each
/// wait also sleeps a twentieth of it for real, so that polling loops (the
/// dispatchers' 20 ms and 100 ms waits) do not spin on a shared machine.
class ScaledClock final : public Clock {
 public:
  TimePoint now() override { return TimePoint(std::chrono::milliseconds(elapsedMs_.load())); }
  void sleepFor(std::chrono::milliseconds duration) override {
    if (duration.count() <= 0) return;
    elapsedMs_ += duration.count();
    std::this_thread::sleep_for(std::chrono::microseconds(duration.count() * 50));
  }

 private:
  std::atomic<long long> elapsedMs_{0};
};

/// Holds the threads that reach it until the test opens it.
class Latch {
 public:
  void arriveAndWait() {
    std::unique_lock lock(mutex_);
    arrived_ = true;
    changed_.notify_all();
    changed_.wait(lock, [this] { return open_; });
  }
  bool waitForArrival() {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, std::chrono::seconds(60), [this] { return arrived_; });
  }
  void open() {
    std::lock_guard lock(mutex_);
    open_ = true;
    changed_.notify_all();
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  bool arrived_ = false;
  bool open_ = false;
};

inline constexpr const char* kUser = "测试*用户";

struct TaskRig {
  explicit TaskRig(Clock& clock) : platform(&clock) {
    service.point(app);
    app.currentCookies.set(service.sim.addAccount({.userName = kUser}));
    form.setText(FormText::kDepth, "0");
    form.setText(FormText::kCheckThreads, "3");
    root = tree.addNode(kNoNode, u"测试*用户的网盘", 6, kNodeAccountRoot);
  }
  ~TaskRig() { task.reset(); }

  sim::Simulator& sim() { return service.sim; }

  /// Adds folder nodes down to `path` ("/a/b") and selects the last.
  void select(const std::u16string& path) {
    NodeId node = root;
    size_t start = 1;
    while (start <= path.size() && path != u"/") {
      size_t end = path.find(u'/', start);
      if (end == std::u16string::npos) end = path.size();
      node = tree.addNode(node, path.substr(start, end - start), 0, kNodeFolder);
      start = end + 1;
    }
    tree.select(node);
  }

  /// Presses the start button and waits until the task's threads have ended.
  void runToEnd() {
    task->startCheck();
    waitForEnd();
  }
  void waitForEnd() {
    for (int i = 0; i < 30000; ++i) {
      if (task->waitFor(std::chrono::milliseconds(10)) && !task->active()) return;
    }
    ADD_FAILURE() << "the task did not end";
  }

  /// Rows of the catalogue file (CatalogueRows).
  Rows rows(const std::string& sql = "select * from list order by id") const {
    return CatalogueRows(dir.file("vintrel.db"), sql);
  }

  /// The log pane's text as UTF-8.
  std::string log() const { return LocalToUtf8(app.log.text()); }
  std::string status() const { return LocalToUtf8(app.status.text()); }
  std::string errors() const {
    std::ifstream in(dir.file("err.txt"), std::ios::binary);
    return LocalToUtf8(std::string(std::istreambuf_iterator<char>(in), {}));
  }
  /// The texts of the prompts shown so far (UTF-8).
  std::vector<std::string> promptTexts() const {
    std::vector<std::string> texts;
    for (const RecordedPrompt& p : platform.prompts()) texts.push_back(LocalToUtf8(p.text));
    return texts;
  }
  std::vector<std::pair<std::string, std::string>> blockedFiles() {
    std::lock_guard lock(blockedMutex);
    return blocked;
  }

  SimService service;
  TempDir dir;
  HeadlessPlatform platform;
  AppState app{platform, dir.path()};
  MainForm form;
  FolderTree tree;
  NodeId root = kNoNode;
  std::mutex blockedMutex;
  std::vector<std::pair<std::string, std::string>> blocked;  // fs_id, stored path (local)
  std::unique_ptr<CheckTask> task = std::make_unique<CheckTask>(
      app, form, tree,
      [this](const Credentials&, const std::string& fsId, const std::string& path) {
        std::lock_guard lock(blockedMutex);
        blocked.emplace_back(fsId, path);
      },
      dir.path());
};

}  // namespace pansift::testing
