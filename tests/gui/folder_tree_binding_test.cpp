#include "gui/folder_tree_binding.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QMouseEvent>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <thread>

#include "accounts/account_store.h"
#include "core/main_form.h"
#include "core/worker_threads.h"
#include "gui/qt_text.h"
#include "support/pump.h"
#include "support/sim_app.h"
#include "tree/file_icon.h"
#include "tree/tree_operations.h"
#include "util/codepage.h"

namespace pansift {
namespace {

using testing::PumpUntil;

// A window holding the tree widget under its control name, as the main window does.
struct TreeWindow {
  TreeWindow() {
    auto* layout = new QVBoxLayout(&window);
    widget = new QTreeWidget(&window);
    widget->setObjectName(Ui("树型框1"));
    widget->setHeaderHidden(true);
    layout->addWidget(widget);
    window.resize(360, 460);
  }
  QWidget window;
  QTreeWidget* widget = nullptr;
};

QString Text(const std::u16string& text) {
  return QString::fromUtf16(text.data(), static_cast<qsizetype>(text.size()));
}

// Whether the widget shows exactly the model: texts, order, expansion, pictures.
bool Mirrors(const FolderTree& model, const FolderTreeBinding& binding, std::string* why) {
  auto fail = [why](const char* what) {
    *why = what;
    return false;
  };
  FolderTree::Snapshot snap = model.snapshot();
  int shown = 0;
  for (QTreeWidgetItemIterator it(binding.widget()); *it; ++it) ++shown;
  if (shown != static_cast<int>(snap.nodes.size())) {
    *why = "items " + std::to_string(shown) + " nodes " + std::to_string(snap.nodes.size());
    return false;
  }
  for (const TreeNode& node : snap.nodes) {
    QTreeWidgetItem* item = binding.item(node.id);
    if (!item || item->text(0) != Text(node.text)) return fail("text");
    QTreeWidgetItem* parent = node.parent == kNoNode ? nullptr : binding.item(node.parent);
    if (item->parent() != parent) return fail("parent");
    for (size_t i = 0; i < node.children.size(); ++i) {
      if (item->child(static_cast<int>(i)) != binding.item(node.children[i])) return fail("order");
    }
    if (!node.children.empty() && item->isExpanded() != node.expanded) return fail("expanded");
    if (snap.picturesSet && item->icon(0).isNull()) return fail("picture");
  }
  if (binding.widget()->currentItem() != binding.item(snap.selected)) return fail("selection");
  return true;
}

TEST(FolderTreeBinding, MirrorsAModelThatAWorkerFills) {
  FolderTree model;  // outlives the widget and its binding
  TreeWindow w;
  model.addNode(kNoNode, u"before the binding", 6, kNodeAccountRoot);
  FolderTreeBinding* binding = BindFolderTree(&w.window, model, nullptr);
  ASSERT_NE(binding, nullptr);
  w.window.show();

  NodeId keep = kNoNode;
  std::thread worker([&] {
    model.clear();
    model.setPictures();
    NodeId root = model.addNode(kNoNode, u"网盘用户的网盘", kPictureAccount, kNodeAccountRoot);
    for (int i = 0; i < 40; ++i) {
      NodeId folder = model.addNode(root, u"文件夹 " + Utf8ToUnicode(std::to_string(i)),
                                    kPictureFolder, kNodeFolder);
      for (int k = 0; k < 5; ++k)
        model.addNode(folder, u"😀 " + Utf8ToUnicode(std::to_string(k)) + u".mp4", kPictureVideo,
                      kNodeFile);
      if (i % 3 == 0) model.setExpanded(folder, true);
      if (i % 4 == 0) model.removeChildren(folder);
      if (i == 7) keep = folder;
    }
    model.setExpanded(root, true);
    model.select(keep);
  });
  worker.join();
  std::string why;
  EXPECT_TRUE(PumpUntil([&] { return Mirrors(model, *binding, &why); })) << why;
  EXPECT_EQ(binding->widget()->iconSize(), QSize(16, 15));
  EXPECT_EQ(binding->widget()->topLevelItemCount(), 1);

  // The user's gestures reach the model.
  QTreeWidgetItem* item = binding->item(keep);
  ASSERT_NE(item, nullptr);
  item->setExpanded(true);
  EXPECT_TRUE(model.node(keep)->expanded);
  binding->widget()->setCurrentItem(binding->widget()->topLevelItem(0));
  EXPECT_EQ(model.selected(), model.root());
  // A fold made by a worker removes the items, also the current one's.
  binding->widget()->setCurrentItem(item->child(2));
  NodeId child = model.children(keep)[2];
  EXPECT_EQ(model.selected(), child);
  std::thread([&] { model.removeChildren(keep); }).join();
  EXPECT_TRUE(PumpUntil([&] { return Mirrors(model, *binding, &why); })) << why;
  EXPECT_EQ(binding->item(child), nullptr);
  EXPECT_EQ(binding->widget()->currentItem(), item);
}

TEST(FolderTreeBinding, EveryPictureIs16By15AndShowsSomething) {
  for (int i = 0; i < kPictureCount; ++i) {
    QIcon icon = TreePicture(i);
    ASSERT_FALSE(icon.isNull()) << i;
    QImage image = icon.pixmap(QSize(16, 15)).toImage();
    EXPECT_EQ(image.size(), QSize(16, 15)) << i;
    int opaque = 0;
    for (int y = 0; y < image.height(); ++y) {
      for (int x = 0; x < image.width(); ++x) opaque += qAlpha(image.pixel(x, y)) != 0;
    }
    EXPECT_GT(opaque, 10) << i;
  }
}

TEST(FolderTreeBinding, DoubleClickFoldsFirstThenRaisesTheNodeEvent) {
  FolderTree model;  // outlives the widget and its binding
  TreeWindow w;
  struct Seen {
    NodeId selected;
    bool expanded;
  };
  std::vector<Seen> seen;
  NodeId root = model.addNode(kNoNode, u"root", kPictureAccount, kNodeAccountRoot);
  NodeId folder = model.addNode(root, u"folder", kPictureFolder, kNodeFolder);
  model.addNode(folder, u"a.txt", kPictureText, kNodeFile);
  model.setExpanded(root, true);
  model.setExpanded(folder, true);
  FolderTreeBinding* binding = BindFolderTree(&w.window, model, [&] {
    NodeId selected = model.selected();
    seen.push_back({selected, model.node(selected) ? model.node(selected)->expanded : false});
  });
  w.window.show();
  std::string why;
  ASSERT_TRUE(PumpUntil([&] { return Mirrors(model, *binding, &why); })) << why;

  testing::DoubleClickItem(binding->widget(), binding->item(folder));
  ASSERT_TRUE(PumpUntil([&] { return !seen.empty(); }));
  EXPECT_EQ(seen[0].selected, folder);
  EXPECT_FALSE(seen[0].expanded);  // the double-click folded it before the event
  EXPECT_FALSE(binding->item(folder)->isExpanded());
  EXPECT_EQ(seen.size(), 1u);
}

// The whole way: a root refresh and a double-click on a folder against the
// simulator, the tree filled by the workers; the picture is kept for a look.
TEST(FolderTreeBinding, RefreshAndDoubleClickFillTheWidgetFromTheService) {
  testing::SimApp env;
  ASSERT_TRUE(env.started);
  std::string cookies = env.sim.addAccount({.userName = "网盘用户"});
  for (const char* path :
       {"/电影/星际 穿越.mp4", "/电影/海报.jpg", "/电影/配乐.mp3", "/电影/字幕.txt",
        "/电影/说明.pdf", "/电影/安装.apk", "/电影/工具.exe", "/电影/页面.html", "/电影/报告.docx",
        "/电影/表格.xlsx", "/电影/演示.pptx", "/电影/资料.zip", "/电影/README", "/电影/其他.bin",
        "/电影/子目录/a.txt", "/照片/a.png", "/文档 2023/b.doc", "/备份.7z", "/readme.txt"})
    env.sim.addFile("网盘用户", path, 1);
  env.app.currentCookies.set(cookies);
  env.app.currentUserName.set(L8("网盘用户"));

  MainForm form;
  AccountStore accounts;
  FolderTree model;
  TreeWindow w;
  TreeListingThread listing;
  WorkerThreads workers;  // its threads end first
  FolderTreeBinding* binding = BindFolderTree(
      &w.window, model, [&] { OpenOrFoldNode(env.app, form, model, workers, listing); });
  w.window.show();

  form.setEnabled(FormButton::kRefreshRoot, false);
  StartRootRefresh(env.app, form, accounts, model, workers);
  ASSERT_TRUE(PumpUntil([&] { return form.enabled(FormButton::kRefreshRoot); }));
  std::string why;
  ASSERT_TRUE(PumpUntil([&] { return model.size() == 6 && Mirrors(model, *binding, &why); }))
      << why;

  NodeId movies = kNoNode;
  for (NodeId id : model.children(model.root())) {
    if (model.node(id)->text == u"电影") movies = id;
  }
  ASSERT_NE(movies, kNoNode);
  testing::DoubleClickItem(binding->widget(), binding->item(movies));
  ASSERT_TRUE(PumpUntil([&] {
    return model.children(movies).size() == 15 && model.node(movies)->expanded &&
           !listing.running() && Mirrors(model, *binding, &why);
  })) << why
      << " children " << model.children(movies).size() << " selected " << model.selected()
      << " movies " << movies << " status " << env.app.status.text() << " lists "
      << env.sim.log().count("/api/list");
  workers.waitAll();
  EXPECT_TRUE(binding->item(movies)->isExpanded());
  EXPECT_EQ(binding->widget()->currentItem(), binding->item(movies));
  QApplication::processEvents();
  EXPECT_TRUE(w.window.grab().save(QStringLiteral("/tmp/pansift-tree.png")));
}

}  // namespace
}  // namespace pansift
