#include "tree/folder_tree.h"

#include <gtest/gtest.h>

#include <map>
#include <thread>
#include <vector>

namespace pansift {
namespace {

using Kind = TreeChanged::Kind;

TEST(FolderTree, NodesKeepParentsOrderAndStableIds) {
  FolderTree tree;
  NodeId root = tree.addNode(kNoNode, u"张三的网盘", 6, kNodeAccountRoot);
  NodeId movies = tree.addNode(root, u"电影", 0, kNodeFolder);
  NodeId file = tree.addNode(root, u"a.mp4", 1, kNodeFile);
  NodeId inner = tree.addNode(movies, u"2023 新", 0, kNodeFolder);
  NodeId deep = tree.addNode(inner, u"b.txt", 13, kNodeFile);
  EXPECT_EQ(tree.root(), root);
  EXPECT_EQ(tree.children(root), (std::vector<NodeId>{movies, file}));
  EXPECT_EQ(tree.size(), 5u);
  std::optional<TreeNode> n = tree.node(deep);
  ASSERT_TRUE(n);
  EXPECT_EQ(n->parent, inner);
  EXPECT_EQ(n->text, u"b.txt");
  EXPECT_EQ(n->picture, 13);
  EXPECT_EQ(n->value, kNodeFile);

  // Paths climb to the level below the account root; the root stands for "/".
  EXPECT_EQ(tree.namesTopDown(deep), (std::vector<std::u16string>{u"电影", u"2023 新", u"b.txt"}));
  EXPECT_EQ(tree.netdiskPath(deep), u"/电影/2023 新/b.txt");
  EXPECT_EQ(tree.netdiskPath(file), u"/a.mp4");
  EXPECT_EQ(tree.netdiskPath(root), u"/");
  EXPECT_TRUE(tree.namesTopDown(root).empty());
  EXPECT_EQ(tree.netdiskPath(12345), u"");

  // Removing children leaves the node; the removed ids stay dead and are not reused.
  tree.removeChildren(movies);
  EXPECT_FALSE(tree.contains(inner));
  EXPECT_FALSE(tree.contains(deep));
  EXPECT_TRUE(tree.contains(movies));
  EXPECT_EQ(tree.addNode(inner, u"orphan", 0, kNodeFile), kNoNode);
  NodeId again = tree.addNode(movies, u"2023 新", 0, kNodeFolder);
  EXPECT_GT(again, deep);

  tree.clear();
  EXPECT_EQ(tree.size(), 0u);
  EXPECT_EQ(tree.root(), kNoNode);
  EXPECT_EQ(tree.addNode(root, u"late", 0, kNodeFile), kNoNode);
}

TEST(FolderTree, AnnouncesChangesAndMovesALostSelectionToTheFoldedNode) {
  FolderTree tree;
  std::vector<TreeChanged> seen;
  Subscription sub = tree.subscribe([&](const TreeChanged& c) { seen.push_back(c); });

  NodeId root = tree.addNode(kNoNode, u"r", 6, kNodeAccountRoot);
  NodeId folder = tree.addNode(root, u"f", 0, kNodeFolder);
  NodeId child = tree.addNode(folder, u"c.png", 7, kNodeFile);
  ASSERT_EQ(seen.size(), 3u);
  EXPECT_EQ(seen[2].kind, Kind::kNodeAdded);
  EXPECT_EQ(seen[2].node, child);
  EXPECT_EQ(seen[2].parent, folder);
  EXPECT_EQ(seen[2].text, u"c.png");
  EXPECT_EQ(seen[2].picture, 7);
  EXPECT_EQ(seen[2].value, kNodeFile);

  seen.clear();
  tree.setExpanded(folder, true);
  tree.setExpanded(folder, true);  // no change, no announcement
  tree.select(child);
  tree.select(child);
  tree.setPictures();
  ASSERT_EQ(seen.size(), 3u);
  EXPECT_EQ(seen[0].kind, Kind::kExpanded);
  EXPECT_TRUE(seen[0].expanded);
  EXPECT_EQ(seen[1].kind, Kind::kSelection);
  EXPECT_EQ(seen[1].node, child);
  EXPECT_EQ(seen[2].kind, Kind::kPicturesSet);
  EXPECT_TRUE(tree.picturesSet());

  seen.clear();
  tree.removeChildren(folder);
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_EQ(seen[0].kind, Kind::kChildrenRemoved);
  EXPECT_EQ(seen[0].node, folder);
  EXPECT_EQ(seen[1].kind, Kind::kSelection);
  EXPECT_EQ(tree.selected(), folder);

  seen.clear();
  tree.removeChildren(folder);  // nothing left to remove
  tree.select(999);             // unknown: clears the selection
  EXPECT_EQ(tree.selected(), kNoNode);
  tree.select(root);
  tree.clear();
  EXPECT_EQ(tree.selected(), kNoNode);
  ASSERT_EQ(seen.size(), 3u);
  EXPECT_EQ(seen[0].kind, Kind::kSelection);
  EXPECT_EQ(seen[2].kind, Kind::kCleared);
}

// A mirror that knows nothing but the announcements ends up with the model's tree,
// also when several threads change the model at once.
TEST(FolderTree, ReplayingAnnouncementsFromManyThreadsRebuildsTheTree) {
  FolderTree tree;
  struct Mirror {
    std::map<NodeId, std::pair<NodeId, std::u16string>> nodes;
    std::map<NodeId, std::vector<NodeId>> children;
  } mirror;
  std::mutex mirrorMutex;
  Subscription sub = tree.subscribe([&](const TreeChanged& c) {
    std::lock_guard lock(mirrorMutex);
    switch (c.kind) {
      case Kind::kNodeAdded:
        mirror.nodes[c.node] = {c.parent, c.text};
        mirror.children[c.parent].push_back(c.node);
        break;
      case Kind::kChildrenRemoved: {
        std::vector<NodeId> stack = mirror.children[c.node];
        mirror.children[c.node].clear();
        while (!stack.empty()) {
          NodeId id = stack.back();
          stack.pop_back();
          for (NodeId k : mirror.children[id]) stack.push_back(k);
          mirror.children.erase(id);
          mirror.nodes.erase(id);
        }
        break;
      }
      case Kind::kCleared:
        mirror = {};
        break;
      default:
        break;
    }
  });

  NodeId root = tree.addNode(kNoNode, u"root", 6, kNodeAccountRoot);
  std::vector<NodeId> folders;
  for (int i = 0; i < 4; ++i)
    folders.push_back(tree.addNode(root, u"f" + std::u16string(1, u'0' + i), 0, kNodeFolder));
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      for (int round = 0; round < 50; ++round) {
        NodeId subfolder = tree.addNode(folders[t], u"sub", 0, kNodeFolder);
        for (int k = 0; k < 5; ++k) tree.addNode(subfolder, u"file", 9, kNodeFile);
        // Fold another thread's folder now and then.
        if (round % 7 == 0) tree.removeChildren(folders[(t + 1) % 4]);
      }
    });
  }
  for (auto& th : threads) th.join();

  FolderTree::Snapshot snap = tree.snapshot();
  std::lock_guard lock(mirrorMutex);
  ASSERT_EQ(mirror.nodes.size(), snap.nodes.size());
  for (const TreeNode& n : snap.nodes) {
    ASSERT_TRUE(mirror.nodes.count(n.id)) << n.id;
    EXPECT_EQ(mirror.nodes[n.id].first, n.parent);
    EXPECT_EQ(mirror.nodes[n.id].second, n.text);
    EXPECT_EQ(mirror.children[n.id], n.children);
  }
}

}  // namespace
}  // namespace pansift
