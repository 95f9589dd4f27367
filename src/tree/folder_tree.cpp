#include "tree/folder_tree.h"

#include <algorithm>

namespace pansift {

NodeId FolderTree::addNode(NodeId parent, std::u16string text, int picture, NodeValue value) {
  std::lock_guard lock(mutex_);
  if (parent != kNoNode && !nodes_.count(parent)) return kNoNode;
  NodeId id = nextId_++;
  TreeNode node;
  node.id = id;
  node.parent = parent;
  node.text = std::move(text);
  node.picture = picture;
  node.value = value;
  if (parent == kNoNode) {
    topLevel_.push_back(id);
  } else {
    nodes_[parent].children.push_back(id);
  }
  TreeChanged change{TreeChanged::Kind::kNodeAdded, id, parent, node.text, picture, value, false};
  nodes_.emplace(id, std::move(node));
  // Announced under the lock, so that announcements keep the order of the changes.
  notify(change);
  return id;
}

void FolderTree::removeBelow(NodeId id) {
  auto it = nodes_.find(id);
  if (it == nodes_.end()) return;
  std::vector<NodeId> children = std::move(it->second.children);
  it->second.children.clear();
  for (NodeId child : children) {
    removeBelow(child);
    if (selected_ == child) selected_ = kNoNode;
    nodes_.erase(child);
  }
}

void FolderTree::removeChildren(NodeId node) {
  std::lock_guard lock(mutex_);
  auto it = nodes_.find(node);
  if (it == nodes_.end() || it->second.children.empty()) return;
  NodeId before = selected_;
  removeBelow(node);
  notify(TreeChanged{TreeChanged::Kind::kChildrenRemoved, node});
  if (before != kNoNode && selected_ == kNoNode) {
    selected_ = node;
    notify(TreeChanged{TreeChanged::Kind::kSelection, node});
  }
}

void FolderTree::clear() {
  std::lock_guard lock(mutex_);
  nodes_.clear();
  topLevel_.clear();
  selected_ = kNoNode;
  notify(TreeChanged{TreeChanged::Kind::kCleared});
}

void FolderTree::setExpanded(NodeId node, bool expanded) {
  std::lock_guard lock(mutex_);
  auto it = nodes_.find(node);
  if (it == nodes_.end() || it->second.expanded == expanded) return;
  it->second.expanded = expanded;
  TreeChanged change{TreeChanged::Kind::kExpanded, node};
  change.expanded = expanded;
  notify(change);
}

void FolderTree::setPictures() {
  std::lock_guard lock(mutex_);
  picturesSet_ = true;
  notify(TreeChanged{TreeChanged::Kind::kPicturesSet});
}

void FolderTree::select(NodeId node) {
  std::lock_guard lock(mutex_);
  if (!nodes_.count(node)) node = kNoNode;
  if (selected_ == node) return;
  selected_ = node;
  notify(TreeChanged{TreeChanged::Kind::kSelection, node});
}

std::optional<TreeNode> FolderTree::node(NodeId id) const {
  std::lock_guard lock(mutex_);
  auto it = nodes_.find(id);
  if (it == nodes_.end()) return std::nullopt;
  return it->second;
}

bool FolderTree::contains(NodeId id) const {
  std::lock_guard lock(mutex_);
  return nodes_.count(id) != 0;
}

NodeId FolderTree::selected() const {
  std::lock_guard lock(mutex_);
  return selected_;
}

NodeId FolderTree::root() const {
  std::lock_guard lock(mutex_);
  return topLevel_.empty() ? kNoNode : topLevel_.front();
}

std::vector<NodeId> FolderTree::children(NodeId id) const {
  std::lock_guard lock(mutex_);
  if (id == kNoNode) return topLevel_;
  auto it = nodes_.find(id);
  return it == nodes_.end() ? std::vector<NodeId>{} : it->second.children;
}

size_t FolderTree::size() const {
  std::lock_guard lock(mutex_);
  return nodes_.size();
}

bool FolderTree::picturesSet() const {
  std::lock_guard lock(mutex_);
  return picturesSet_;
}

FolderTree::Snapshot FolderTree::snapshot() const {
  std::lock_guard lock(mutex_);
  Snapshot snap;
  snap.selected = selected_;
  snap.picturesSet = picturesSet_;
  snap.nodes.reserve(nodes_.size());
  // Breadth first from the top level: parents always come before their children.
  std::vector<NodeId> level = topLevel_;
  while (!level.empty()) {
    std::vector<NodeId> next;
    for (NodeId id : level) {
      const TreeNode& n = nodes_.at(id);
      snap.nodes.push_back(n);
      next.insert(next.end(), n.children.begin(), n.children.end());
    }
    level = std::move(next);
  }
  return snap;
}

std::vector<std::u16string> FolderTree::namesTopDown(NodeId id) const {
  std::lock_guard lock(mutex_);
  std::vector<std::u16string> names;
  auto it = nodes_.find(id);
  if (it == nodes_.end() || it->second.value == kNodeAccountRoot) return names;
  while (it != nodes_.end()) {
    names.push_back(it->second.text);
    auto parent = nodes_.find(it->second.parent);
    if (parent == nodes_.end() || parent->second.value == kNodeAccountRoot) break;
    it = parent;
  }
  std::reverse(names.begin(), names.end());
  return names;
}

std::u16string FolderTree::netdiskPath(NodeId id) const {
  std::lock_guard lock(mutex_);
  if (!nodes_.count(id)) return {};
  std::u16string path;
  for (const std::u16string& name : namesTopDown(id)) path += u"/" + name;
  return path.empty() ? u"/" : path;
}

std::uint64_t FolderTree::startRootRefresh() {
  return ++rootRefreshes_;
}

bool FolderTree::isLatestRootRefresh(std::uint64_t refresh) const {
  return rootRefreshes_.load() == refresh;
}

}  // namespace pansift
