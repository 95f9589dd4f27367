#include "file_tree.h"

#include <gtest/gtest.h>

#include <set>

namespace pansift::sim {
namespace {

std::vector<std::string> Names(const std::vector<EntryInfo>& entries) {
  std::vector<std::string> out;
  for (const auto& e : entries) out.push_back(e.name);
  return out;
}

TEST(SimFileTree, ListsFoldersFirstInEachOrderAndPages) {
  FileTree tree;
  tree.addFile("/b.txt", 1, false, 300);
  tree.addFile("/a.txt", 2, false, 100);
  tree.addFile("/c.txt", 3, false, 200);
  tree.addFolder("/z", 50);
  tree.addFolder("/y", 60);
  struct Case {
    const char* order;
    bool desc;
    std::vector<std::string> names;
  } cases[] = {
      {"name", false, {"y", "z", "a.txt", "b.txt", "c.txt"}},
      {"name", true, {"z", "y", "c.txt", "b.txt", "a.txt"}},
      {"time", false, {"z", "y", "a.txt", "c.txt", "b.txt"}},
      {"time", true, {"y", "z", "b.txt", "c.txt", "a.txt"}},
  };
  std::vector<EntryInfo> page;
  for (const Case& c : cases) {
    ASSERT_EQ(tree.list("/", c.order, c.desc, 1, 100, page), FileTree::ListResult::Ok);
    EXPECT_EQ(Names(page), c.names) << c.order << c.desc;
  }
  ASSERT_EQ(tree.list("/", "name", false, 2, 2, page), FileTree::ListResult::Ok);
  EXPECT_EQ(Names(page), (std::vector<std::string>{"a.txt", "b.txt"}));
  ASSERT_EQ(tree.list("/", "name", false, 4, 2, page), FileTree::ListResult::Ok);
  EXPECT_TRUE(page.empty());
  EXPECT_EQ(tree.list("/nope", "name", false, 1, 2, page), FileTree::ListResult::NotFound);
  EXPECT_EQ(tree.list("/a.txt", "name", false, 1, 2, page), FileTree::ListResult::NotFolder);
  // A change is seen by the next listing (the sort cache is dropped).
  tree.remove("/a.txt");
  ASSERT_EQ(tree.list("/", "name", false, 1, 100, page), FileTree::ListResult::Ok);
  EXPECT_EQ(page.size(), 4u);
}

TEST(SimFileTree, PathsIdsAndRemoval) {
  FileTree tree;
  std::uint64_t id = tree.addFile("/电影 2023/sub/a&b.mp4", 7, true);
  ASSERT_NE(id, 0u);
  auto e = tree.findById(id);
  ASSERT_TRUE(e);
  EXPECT_EQ(e->path, "/电影 2023/sub/a&b.mp4");
  EXPECT_TRUE(e->blocked);
  EXPECT_TRUE(tree.find("/电影 2023/sub/"));                  // a trailing slash names the folder
  EXPECT_EQ(tree.addFolder("/电影 2023/sub/a&b.mp4/x"), 0u);  // a file is in the way
  EXPECT_EQ(tree.addFile("/x", 1, false, 0, id), 0u);         // ids stay unique
  for (const char* bad : {"", "relative", "/a//b", "/a/../b"})
    EXPECT_FALSE(FileTree::validPath(bad)) << bad;
  EXPECT_EQ(tree.size(), 3u);
  EXPECT_TRUE(tree.remove("/电影 2023"));
  EXPECT_FALSE(tree.findById(id));
  EXPECT_EQ(tree.size(), 0u);
  EXPECT_FALSE(tree.remove("/"));
}

TEST(SimFileTree, CreateAndMoveRenameOnAClash) {
  FileTree tree;
  tree.addFile("/a.txt", 1);
  tree.addFile("/dest/a.txt", 2);
  tree.addFolder("/dest/new");
  EXPECT_EQ(tree.createFolderUnique("/dest/new", 0), "/dest/new(1)");
  EXPECT_EQ(tree.createFolderUnique("/dest/new", 0), "/dest/new(2)");
  EXPECT_EQ(tree.createFolderUnique("/p/q/r", 0), "/p/q/r");  // parents are made

  std::string moved;
  EXPECT_EQ(tree.move("/a.txt", "/dest", "", OnDup::Fail), FileTree::MoveResult::Exists);
  EXPECT_EQ(tree.move("/a.txt", "/dest", "", OnDup::NewCopy, &moved), FileTree::MoveResult::Moved);
  EXPECT_EQ(moved, "/dest/a(1).txt");
  EXPECT_EQ(tree.move("/a.txt", "/dest", "", OnDup::NewCopy), FileTree::MoveResult::SourceMissing);
  EXPECT_EQ(tree.move("/dest/a.txt", "/missing", "", OnDup::NewCopy),
            FileTree::MoveResult::TargetMissing);
  EXPECT_EQ(tree.move("/dest", "/dest/new", "", OnDup::NewCopy), FileTree::MoveResult::Invalid);
  EXPECT_EQ(tree.move("/dest/a.txt", "/", "b.txt", OnDup::Overwrite, &moved),
            FileTree::MoveResult::Moved);
  EXPECT_EQ(moved, "/b.txt");
  EXPECT_EQ(tree.find("/b.txt")->size, 2u);
}

// What a tree held stays its own after a delete or a move took it away: the
// simulator tells another login's paths and ids from these.
TEST(SimFileTree, RemembersWhatItHeld) {
  FileTree tree(1, 5000000000000000ULL);
  const std::uint64_t kept = tree.addFile("/keep/k.txt", 1);
  const std::uint64_t deep = tree.addFile("/del/sub/d.txt", 1);
  const std::uint64_t overwritten = tree.addFile("/dest/o.txt", 1);
  tree.addFile("/src/o.txt", 1);
  tree.addFile("/m/moved.txt", 1);
  EXPECT_GT(kept, 5000000000000000ULL);  // ids grow from the first one given
  ASSERT_TRUE(tree.remove("/del"));
  ASSERT_EQ(tree.move("/src/o.txt", "/dest", "", OnDup::Overwrite), FileTree::MoveResult::Moved);
  ASSERT_EQ(tree.move("/m/moved.txt", "/", "renamed.txt", OnDup::Fail),
            FileTree::MoveResult::Moved);
  struct Case {
    const char* path;
    bool held;
  } cases[] = {
      {"/keep/k.txt", true},    {"/keep/", true},     {"/del", true},
      {"/del/sub/d.txt", true},  // below a deleted folder
      {"/del/never.txt", true},  // a path below it is not told apart
      {"/dest/o.txt", true},    {"/src/o.txt", true}, {"/m/moved.txt", true},
      {"/renamed.txt", true},   {"/delete", false},   {"/kee", false},
      {"/other/k.txt", false},  {"relative", false},
  };
  for (const Case& c : cases) EXPECT_EQ(tree.heldPath(c.path), c.held) << c.path;
  for (std::uint64_t id : {kept, deep, overwritten}) EXPECT_TRUE(tree.heldId(id)) << id;
  EXPECT_FALSE(tree.findById(deep));
  EXPECT_FALSE(tree.heldId(kept + 100000000));
}

TEST(SimFileTree, GeneratorIsSeededAndShapedByItsOptions) {
  GenerateOptions options;
  options.files = 120000;
  options.depth = 3;
  options.fanout = 5;
  options.blocked = 0.02;
  options.seed = 42;
  FileTree a, b;
  GenerateStats stats = a.generate(options);
  b.generate(options);
  const std::uint64_t pairFiles = 2 * SiblingPairs().size();
  EXPECT_EQ(stats.folders, 5u + 25u + 125u + 1u);
  EXPECT_EQ(stats.files, 120000u + pairFiles);
  EXPECT_EQ(a.size(), stats.folders + stats.files);
  EXPECT_GT(stats.blocked, 1800u + SiblingPairs().size());
  EXPECT_LT(stats.blocked, 3000u + SiblingPairs().size());

  // Same seed, same tree; every folder holds files and names are unique per folder.
  std::vector<EntryInfo> pa, pb;
  a.list("/", "name", false, 1, 1000, pa);
  b.list("/", "name", false, 1, 1000, pb);
  ASSERT_EQ(pa.size(), pb.size());
  std::set<std::string> names;
  for (size_t i = 0; i < pa.size(); ++i) {
    EXPECT_EQ(pa[i].path, pb[i].path);
    EXPECT_EQ(pa[i].fsId, pb[i].fsId);
    names.insert(pa[i].name);
  }
  EXPECT_EQ(names.size(), pa.size());
  ASSERT_TRUE(pa.front().isdir);
  std::vector<EntryInfo> inner;
  a.list(pa.front().path, "time", true, 1, 1000, inner);
  EXPECT_FALSE(inner.empty());
}

// Each pair stands in its own folder below `under`, one of the two blocked; the rest
// of the tree is drawn as it is without them.
TEST(SimFileTree, GeneratedTreeHoldsSiblingPairsOfSimilarNames) {
  GenerateOptions options;
  options.files = 300;
  options.depth = 1;
  options.fanout = 3;
  options.blocked = 0.05;
  options.seed = 5;
  options.under = "/gen";
  FileTree with, without;
  GenerateStats stats = with.generate(options);
  options.siblingPairs = false;
  GenerateStats plain = without.generate(options);
  EXPECT_EQ(stats.folders, plain.folders + 1);
  EXPECT_EQ(stats.files, plain.files + 2 * SiblingPairs().size());
  EXPECT_EQ(stats.blocked, plain.blocked + SiblingPairs().size());

  const std::string folder = "/gen/" + std::string(kSiblingFolder);
  std::vector<EntryInfo> listed;
  ASSERT_EQ(with.list(folder, "name", false, 1, 1000, listed), FileTree::ListResult::Ok);
  EXPECT_EQ(listed.size(), 2 * SiblingPairs().size());  // every name unique
  for (const SiblingPair& pair : SiblingPairs()) {
    SCOPED_TRACE(pair.what);
    auto tricky = with.find(folder + "/" + std::string(pair.tricky));
    auto sibling = with.find(folder + "/" + std::string(pair.plain));
    ASSERT_TRUE(tricky && sibling);
    EXPECT_EQ(tricky->name, pair.tricky);
    EXPECT_EQ(tricky->blocked, pair.trickyBlocked);
    EXPECT_EQ(sibling->blocked, !pair.trickyBlocked);
  }

  // The drawn part is the same tree, ids included.
  auto walk = [&](const FileTree& tree) {
    std::vector<EntryInfo> all;
    std::vector<std::string> folders = {"/gen"};
    while (!folders.empty()) {
      std::vector<EntryInfo> entries;
      tree.list(folders.back(), "name", false, 1, 100000, entries);
      folders.pop_back();
      for (const EntryInfo& e : entries) {
        if (e.path == folder) continue;
        if (e.isdir) folders.push_back(e.path);
        all.push_back(e);
      }
    }
    return all;
  };
  const std::vector<EntryInfo> a = walk(with), b = walk(without);
  ASSERT_EQ(a.size(), plain.folders + plain.files);
  ASSERT_EQ(a.size(), b.size());
  for (size_t i = 0; i < a.size(); ++i) {
    EXPECT_EQ(a[i].path, b[i].path);
    EXPECT_EQ(a[i].fsId, b[i].fsId);
    EXPECT_EQ(a[i].blocked, b[i].blocked);
  }

  // Without blocked files in the tree, the pairs are all normal.
  FileTree clean;
  options.blocked = 0;
  options.siblingPairs = true;
  EXPECT_EQ(clean.generate(options).blocked, 0u);
  EXPECT_FALSE(clean.find(folder + "/Tom &amp; Jerry.mp4")->blocked);
}

}  // namespace
}  // namespace pansift::sim
