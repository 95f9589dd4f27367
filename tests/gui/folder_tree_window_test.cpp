#include <gtest/gtest.h>

#include <cstdlib>

#include <QPixmap>
#include <QPushButton>
#include <QTreeWidget>

#include "accounts/account_store.h"
#include "app/main_window.h"
#include "core/app_state.h"
#include "gui/main_window_view.h"
#include "gui/qt_platform.h"
#include "gui/qt_text.h"
#include "support/pump.h"
#include "support/sim_app.h"
#include "support/temp_dir.h"
#include "util/codepage.h"

namespace pansift {
namespace {

using testing::PumpUntil;

QTreeWidgetItem* ChildNamed(QTreeWidgetItem* parent, const QString& text) {
  for (int i = 0; i < parent->childCount(); ++i) {
    if (parent->child(i)->text(0) == text) return parent->child(i);
  }
  return nullptr;
}

TEST(FolderTreeWindow, RefreshRootThenOpenAFolderByDoubleClick) {
  testing::SimService service;
  ASSERT_TRUE(service.started);
  std::string cookies = service.sim.addAccount({.userName = "树*用户"});
  service.sim.addFile("树*用户", "/电影 2023/a&b.mp4", 10);
  service.sim.addFile("树*用户", "/电影 2023/😀.txt", 10);
  service.sim.addFile("树*用户", "/readme.txt", 1);

  testing::TempDir dir;
  QtPlatform platform;
  AppState app(platform, dir.path());
  service.point(app);
  MainWindowView window(app);
  window.show();
  AccountRecord row;
  row.userName = L8("树_用户");
  row.cookies = cookies;
  window.controller().accounts().appendAccountRow(row);

  auto* refresh = window.findChild<QPushButton*>(Ui("按钮1"));
  auto* tree = window.findChild<QTreeWidget*>(Ui("树型框1"));
  ASSERT_TRUE(refresh && tree);
  refresh->click();
  EXPECT_FALSE(refresh->isEnabled());
  ASSERT_TRUE(PumpUntil([&] {
    return refresh->isEnabled() && tree->topLevelItemCount() == 1 &&
           tree->topLevelItem(0)->childCount() == 2;
  }));
  QTreeWidgetItem* root = tree->topLevelItem(0);
  EXPECT_EQ(root->text(0), Ui("树_用户的网盘"));
  QTreeWidgetItem* folder = ChildNamed(root, Ui("电影 2023"));
  ASSERT_NE(folder, nullptr);
  EXPECT_EQ(folder->childCount(), 0);  // listed only when opened

  testing::DoubleClickItem(tree, folder);
  ASSERT_TRUE(PumpUntil([&] { return folder->childCount() == 2 && folder->isExpanded(); }));
  EXPECT_NE(ChildNamed(folder, Ui("a&b.mp4")), nullptr);
  EXPECT_NE(ChildNamed(folder, Ui("😀.txt")), nullptr);
  EXPECT_EQ(service.sim.log().rejected(), 0u);
  if (const char* shots = std::getenv("PANSIFT_SCREENSHOT_DIR")) {
    window.grab().save(QString::fromUtf8(shots) + QStringLiteral("/pansift-tree-window.png"));
  }
  window.controller().waitForWorkers();
}

}  // namespace
}  // namespace pansift
