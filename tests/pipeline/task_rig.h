// A scan-and-check task against the simulator, for the pipeline's tests: the
// shared record, the window's form, a folder tree to select in, the controller, and
// readers of the catalogue file and the program's output.
#pragma once

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <chrono>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "core/app_state.h"
#include "core/headless_platform.h"
#include "core/main_form.h"
#include "pipeline/check_task.h"
#include "support/catalogue_rows.h"
// The clocks and the latch the pipeline's tests drive a rig with.
#include "support/clocks.h"
#include "support/latch.h"
#include "support/sim_app.h"
#include "support/temp_dir.h"
#include "tree/folder_tree.h"
#include "util/clock.h"
#include "util/codepage.h"
#include "util/files.h"

namespace pansift::testing {

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
  std::string errors() const { return LocalToUtf8(ReadFileBytes(dir.file("err.txt")).bytes); }
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
      CataloguePath(dir.path()));
};

}  // namespace pansift::testing
