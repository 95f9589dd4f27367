// The folder tree of the operating account as a model: one account root node, the
// folders and files listed so far below it, which nodes are expanded and which one
// is selected. Workers fill it; the window mirrors it and writes the user's
// expanding, folding and selecting back.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "util/observable.h"

namespace pansift {

/// Identifies a node for as long as the node lives; ids are never reused, so a
/// stale id (of a node removed meanwhile) simply finds nothing. 0 is no node.
using NodeId = std::uint64_t;
inline constexpr NodeId kNoNode = 0;

/// The node value: what kind of node it is.
enum NodeValue : int {
  kNodeAccountRoot = -1,
  kNodeFile = 0,
  kNodeFolder = 1,
};

struct TreeNode {
  NodeId id = kNoNode;
  NodeId parent = kNoNode;  // kNoNode: top level
  std::u16string text;      // Unicode text
  int picture = 0;          // index into the 17 tree pictures
  NodeValue value = kNodeFolder;
  bool expanded = false;
  std::vector<NodeId> children;  // in insertion order
};

struct TreeChanged {
  enum class Kind {
    kNodeAdded,        // node, parent, text, picture, value
    kChildrenRemoved,  // node: the parent whose children are gone
    kCleared,          // every node is gone
    kExpanded,         // node, expanded
    kPicturesSet,      // the picture list was given to the tree
    kSelection,        // node: the selected node (kNoNode: none)
  };
  Kind kind;
  NodeId node = kNoNode;
  NodeId parent = kNoNode;
  std::u16string text;
  int picture = 0;
  NodeValue value = kNodeFile;
  bool expanded = false;
};

/// Safe from any thread. Changes are announced on the thread that made them, in
/// the order they were made (the announcement is made before the next change can
/// start), so a mirror that replays them in order ends up with the same tree.
/// Handlers must not block on other threads; they may read the model.
class FolderTree : public Observable<TreeChanged> {
 public:
  struct Snapshot {
    std::vector<TreeNode> nodes;  // parents before their children, siblings in order
    NodeId selected = kNoNode;
    bool picturesSet = false;
  };

  /// Adds a node as the last child of `parent` (kNoNode: at the top level). Returns
  /// its id, or kNoNode when the parent no longer exists.
  NodeId addNode(NodeId parent, std::u16string text, int picture, NodeValue value);
  /// Removes every node below `node`; the node itself stays. A selection inside
  /// the removed part moves to `node`.
  void removeChildren(NodeId node);
  /// Removes every node and the selection.
  void clear();
  /// Records whether the node shows its children; announced only on a change.
  void setExpanded(NodeId node, bool expanded);
  /// Gives the tree its picture list (announced every time).
  void setPictures();
  /// Selects a node; an unknown id clears the selection. Announced only on a change.
  void select(NodeId node);

  std::optional<TreeNode> node(NodeId id) const;
  bool contains(NodeId id) const;
  NodeId selected() const;
  /// The first top-level node (the account root), or kNoNode.
  NodeId root() const;
  std::vector<NodeId> children(NodeId id) const;
  size_t size() const;
  bool picturesSet() const;
  Snapshot snapshot() const;

  /// The texts from the first level below the account root down to `id`: climbing
  /// stops at a parent that is an account root or at the top. Empty for the root
  /// itself and for an unknown node.
  std::vector<std::u16string> namesTopDown(NodeId id) const;
  /// The node's Netdisk path: "/" followed by namesTopDown joined by "/"; "/" for the
  /// account root; empty for an unknown node.
  std::u16string netdiskPath(NodeId id) const;

  /// Root refreshes in the order they start: each takes the next number, and only
  /// the one that started last may still change the tree or the operating account.
  std::uint64_t startRootRefresh();
  bool isLatestRootRefresh(std::uint64_t refresh) const;

 private:
  void removeBelow(NodeId id);

  // Recursive: a handler may read the model while a change is announced.
  mutable std::recursive_mutex mutex_;
  std::unordered_map<NodeId, TreeNode> nodes_;
  std::vector<NodeId> topLevel_;
  NodeId nextId_ = 1;
  NodeId selected_ = kNoNode;
  bool picturesSet_ = false;
  std::atomic<std::uint64_t> rootRefreshes_{0};
};

}  // namespace pansift
