#include "file_tree.h"

#include <algorithm>
#include <random>

namespace pansift::sim {
namespace {

std::uint64_t SplitMix(std::uint64_t& state) {
  std::uint64_t z = (state += 0x9E3779B97F4A7C15ULL);
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
  return z ^ (z >> 31);
}

// Generated names carry every kind of character the client must encode: Chinese,
// spaces, "~", "&", apostrophes, commas, brackets and characters outside GBK.
const char* const kFolderNames[] = {
    "文件夹 %", "Photos & Videos %", "资料~备份 %", "Tom's [old], %", "😀 表情 %",
    "dir_%",    "數據（%）",         "a+b=c %"};
const char* const kFileNames[] = {
    "电影 %.mp4",   "a&b %.txt",  "报告（终稿）%.docx", "it's, [draft] %.pdf", "~tmp %.log",
    "🎵 音乐 %.mp3", "file_%.bin", "100% done %.zip",    "名单{%}.xlsx",        "x;y#z %.7z"};

// Most tricky names are the blocked one: a client that decodes or strips them
// deletes the normal sibling. The last few turn it round.
const std::vector<SiblingPair> kSiblingPairs = {
    {"entity &amp;", "Tom &amp; Jerry.mp4", "Tom & Jerry.mp4", true},
    {"entity word amp;", "camp;1.mp4", "c1.mp4", true},
    {"entity &quot;", "say &quot;hi&quot;.mp4", "say \"hi\".mp4", true},
    {"entity word divide;", "1divide;2.mp4", "12.mp4", true},
    {"entity &#44;", "x&#44;y.mp4", "x,y.mp4", true},
    {"entity &apos;", "it&apos;s.mp4", "it's.mp4", true},
    {"entity &#126;", "a&#126;b.mp4", "a~b.mp4", true},
    {"upper-case entity word", "QUOT;q.mp4", "q.mp4", true},
    {"double quotes closing the path", "v.mp4\",\"w.mp4", "v.mp4", true},
    {"apostrophe", "Tom's.mp4", "Toms.mp4", true},
    {"backslash", "back\\slash.mp4", "backslash.mp4", true},
    {"literal \\u0031", "movie\\u0031.mp4", "movie1.mp4", true},
    {"literal %20", "a%20b.mp4", "a b.mp4", true},
    {"literal %41", "c%41d.mp4", "cAd.mp4", true},
    {"plus", "p+q.mp4", "p q.mp4", true},
    {"tab", "tab\t.mp4", "tab.mp4", true},
    {"control character 0x01", "ctl\x01.mp4", "ctl.mp4", true},
    {"escape sequence", "esc\x1b[0m.mp4", "esc[0m.mp4", true},
    {"emoji", "clip🎬.mp4", "clip.mp4", true},
    {"entity &amp;, plain one blocked", "R&amp;B.mp3", "R&B.mp3", false},
    {"literal \\u0032, plain one blocked", "song\\u0032.mp3", "song2.mp3", false},
    {"literal %20, plain one blocked", "b%20c.txt", "b c.txt", false},
    {"entity word quot;, plain one blocked", "quot;d.txt", "d.txt", false},
    {"double quotes, plain one blocked", "n.txt\",\"m.txt", "n.txt", false},
};

std::string FillName(const char* pattern, std::uint64_t number) {
  std::string out(pattern);
  // The last "%" is the number's slot; an earlier one is a literal.
  out.replace(out.rfind('%'), 1, std::to_string(number));
  return out;
}

}  // namespace

FileTree::FileTree(std::uint64_t idSeed, std::uint64_t firstId)
    : idState_(idSeed), lastId_(firstId) {
  Node root;
  root.isdir = true;
  nodes_.push_back(std::move(root));
}

bool FileTree::splitPath(std::string_view path, std::vector<std::string_view>& parts) {
  parts.clear();
  if (path.empty() || path[0] != '/') return false;
  size_t start = 1;
  while (start < path.size()) {
    size_t end = path.find('/', start);
    if (end == std::string_view::npos) end = path.size();
    std::string_view part = path.substr(start, end - start);
    if (part.empty()) {
      // Only a trailing slash may leave an empty piece.
      if (end != path.size() - 1 && end != path.size()) return false;
    } else {
      if (part == "." || part == "..") return false;
      parts.push_back(part);
    }
    start = end + 1;
  }
  return true;
}

bool FileTree::validPath(std::string_view path) {
  std::vector<std::string_view> parts;
  return splitPath(path, parts);
}

std::int64_t FileTree::child(std::uint32_t folder, std::string_view name) const {
  for (std::uint32_t c : nodes_[folder].children) {
    if (nodes_[c].name == name) return c;
  }
  return -1;
}

std::int64_t FileTree::lookup(std::string_view path) const {
  std::vector<std::string_view> parts;
  if (!splitPath(path, parts)) return -1;
  std::uint32_t node = 0;
  for (std::string_view part : parts) {
    if (!nodes_[node].isdir) return -1;
    std::int64_t next = child(node, part);
    if (next < 0) return -1;
    node = static_cast<std::uint32_t>(next);
  }
  return node;
}

std::uint64_t FileTree::nextId() {
  // Ids grow by a random step, like the service's: unique, 15 digits, unordered-looking.
  lastId_ += 1 + SplitMix(idState_) % 9973;
  return lastId_;
}

std::uint32_t FileTree::newNode(std::uint32_t parent, std::string name, bool isdir,
                                std::uint64_t fsId) {
  Node node;
  node.parent = parent;
  node.isdir = isdir;
  node.name = std::move(name);
  node.fsId = fsId ? fsId : nextId();
  auto index = static_cast<std::uint32_t>(nodes_.size());
  byId_[node.fsId] = index;
  nodes_.push_back(std::move(node));
  nodes_[parent].children.push_back(index);
  ++alive_;
  changed();
  return index;
}

std::string FileTree::pathOf(std::uint32_t node) const {
  if (node == 0) return "/";
  std::vector<std::uint32_t> chain;
  for (std::uint32_t n = node; n != 0; n = nodes_[n].parent) chain.push_back(n);
  std::string out;
  for (auto it = chain.rbegin(); it != chain.rend(); ++it) out += "/" + nodes_[*it].name;
  return out;
}

EntryInfo FileTree::info(std::uint32_t node, const std::string& parentPath) const {
  const Node& n = nodes_[node];
  EntryInfo e;
  e.path = node == 0 ? "/" : (parentPath == "/" ? "" : parentPath) + "/" + n.name;
  e.name = n.name;
  e.isdir = n.isdir;
  e.fsId = n.fsId;
  e.size = n.size;
  e.mtime = n.mtime;
  e.blocked = n.blocked;
  return e;
}

EntryInfo FileTree::info(std::uint32_t node) const {
  return info(node, node == 0 ? std::string() : pathOf(nodes_[node].parent));
}

std::uint64_t FileTree::addFolder(std::string_view path, std::int64_t mtime) {
  std::vector<std::string_view> parts;
  if (!splitPath(path, parts)) return 0;
  std::uint32_t node = 0;
  for (std::string_view part : parts) {
    std::int64_t next = child(node, part);
    if (next < 0) {
      node = newNode(node, std::string(part), true, 0);
      nodes_[node].mtime = mtime;
    } else if (!nodes_[next].isdir) {
      return 0;
    } else {
      node = static_cast<std::uint32_t>(next);
    }
  }
  return node == 0 ? 0 : nodes_[node].fsId;
}

std::uint64_t FileTree::addFile(std::string_view path, std::uint64_t size, bool blocked,
                                std::int64_t mtime, std::uint64_t fsId) {
  std::vector<std::string_view> parts;
  if (!splitPath(path, parts) || parts.empty()) return 0;
  if (fsId && byId_.count(fsId)) return 0;
  std::uint32_t folder = 0;
  if (parts.size() > 1) {
    std::string parent;
    for (size_t i = 0; i + 1 < parts.size(); ++i) parent += "/" + std::string(parts[i]);
    if (!addFolder(parent, mtime)) return 0;
    folder = static_cast<std::uint32_t>(lookup(parent));
  }
  std::int64_t existing = child(folder, parts.back());
  std::uint32_t node;
  if (existing >= 0) {
    if (nodes_[existing].isdir) return 0;
    node = static_cast<std::uint32_t>(existing);
  } else {
    node = newNode(folder, std::string(parts.back()), false, fsId);
  }
  nodes_[node].size = size;
  nodes_[node].blocked = blocked;
  nodes_[node].mtime = mtime;
  changed();
  return nodes_[node].fsId;
}

std::optional<EntryInfo> FileTree::find(std::string_view path) const {
  std::int64_t node = lookup(path);
  if (node < 0) return std::nullopt;
  return info(static_cast<std::uint32_t>(node));
}

std::optional<EntryInfo> FileTree::findById(std::uint64_t fsId) const {
  auto it = byId_.find(fsId);
  if (it == byId_.end()) return std::nullopt;
  return info(it->second);
}

bool FileTree::setBlocked(std::string_view path, bool blocked) {
  std::int64_t node = lookup(path);
  if (node <= 0) return false;
  nodes_[node].blocked = blocked;
  return true;
}

void FileTree::unlink(std::uint32_t node) {
  auto& siblings = nodes_[nodes_[node].parent].children;
  siblings.erase(std::remove(siblings.begin(), siblings.end(), node), siblings.end());
  changed();
}

void FileTree::dropSubtree(std::uint32_t node) {
  std::vector<std::uint32_t> stack{node};
  while (!stack.empty()) {
    std::uint32_t n = stack.back();
    stack.pop_back();
    Node& x = nodes_[n];
    x.alive = false;
    byId_.erase(x.fsId);
    goneIds_.insert(x.fsId);
    --alive_;
    for (std::uint32_t c : x.children) stack.push_back(c);
    x.children.clear();
    x.children.shrink_to_fit();
    x.name.clear();
    x.name.shrink_to_fit();
  }
}

bool FileTree::remove(std::string_view path) {
  std::int64_t node = lookup(path);
  if (node <= 0) return false;
  gonePaths_.insert(pathOf(static_cast<std::uint32_t>(node)));
  unlink(static_cast<std::uint32_t>(node));
  dropSubtree(static_cast<std::uint32_t>(node));
  return true;
}

bool FileTree::heldId(std::uint64_t fsId) const {
  return byId_.count(fsId) > 0 || goneIds_.count(fsId) > 0;
}

bool FileTree::heldPath(std::string_view path) const {
  if (lookup(path) >= 0) return true;
  if (gonePaths_.empty()) return false;
  // The path itself or a folder above it went away.
  std::string_view at = path;
  if (at.size() > 1 && at.back() == '/') at.remove_suffix(1);
  while (at.size() > 1) {
    if (gonePaths_.count(std::string(at)) > 0) return true;
    const size_t slash = at.rfind('/');
    if (slash == std::string_view::npos) break;
    at = at.substr(0, std::max<size_t>(slash, 1));
  }
  return false;
}

std::string FileTree::freeName(std::uint32_t folder, std::string_view name, bool isdir) const {
  if (child(folder, name) < 0) return std::string(name);
  std::string_view stem = name;
  std::string_view ext;
  size_t dot = name.rfind('.');
  if (!isdir && dot != std::string_view::npos && dot > 0) {
    stem = name.substr(0, dot);
    ext = name.substr(dot);
  }
  for (int k = 1;; ++k) {
    std::string candidate = std::string(stem) + "(" + std::to_string(k) + ")" + std::string(ext);
    if (child(folder, candidate) < 0) return candidate;
  }
}

std::string FileTree::createFolderUnique(std::string_view path, std::int64_t mtime,
                                         std::uint64_t* fsId) {
  std::vector<std::string_view> parts;
  if (!splitPath(path, parts) || parts.empty()) return {};
  std::string parent;
  for (size_t i = 0; i + 1 < parts.size(); ++i) parent += "/" + std::string(parts[i]);
  std::uint32_t folder = 0;
  if (!parent.empty()) {
    if (!addFolder(parent, mtime)) return {};
    folder = static_cast<std::uint32_t>(lookup(parent));
  }
  std::uint32_t node = newNode(folder, freeName(folder, parts.back(), true), true, 0);
  nodes_[node].mtime = mtime;
  if (fsId) *fsId = nodes_[node].fsId;
  return pathOf(node);
}

FileTree::MoveResult FileTree::move(std::string_view path, std::string_view destFolder,
                                    std::string_view newName, OnDup onDup, std::string* newPath) {
  std::int64_t source = lookup(path);
  if (source <= 0) return MoveResult::SourceMissing;
  std::int64_t dest = lookup(destFolder);
  if (dest < 0 || !nodes_[dest].isdir) return MoveResult::TargetMissing;
  std::string name(newName.empty() ? std::string_view(nodes_[source].name) : newName);
  if (name.find('/') != std::string::npos) return MoveResult::Invalid;
  // A folder cannot go below itself.
  for (std::int64_t n = dest; n != 0; n = nodes_[n].parent) {
    if (n == source) return MoveResult::Invalid;
  }
  std::int64_t clash = child(static_cast<std::uint32_t>(dest), name);
  if (clash == source) clash = -1;
  if (clash >= 0) {
    if (onDup == OnDup::Fail) return MoveResult::Exists;
    if (onDup == OnDup::Overwrite) {
      gonePaths_.insert(pathOf(static_cast<std::uint32_t>(clash)));
      unlink(static_cast<std::uint32_t>(clash));
      dropSubtree(static_cast<std::uint32_t>(clash));
    } else {
      name = freeName(static_cast<std::uint32_t>(dest), name, nodes_[source].isdir);
    }
  }
  gonePaths_.insert(pathOf(static_cast<std::uint32_t>(source)));
  unlink(static_cast<std::uint32_t>(source));
  nodes_[source].parent = static_cast<std::uint32_t>(dest);
  nodes_[source].name = name;
  nodes_[dest].children.push_back(static_cast<std::uint32_t>(source));
  changed();
  if (newPath) *newPath = pathOf(static_cast<std::uint32_t>(source));
  return MoveResult::Moved;
}

FileTree::ListResult FileTree::list(std::string_view path, std::string_view order, bool desc,
                                    std::uint64_t page, std::uint64_t num,
                                    std::vector<EntryInfo>& out) const {
  out.clear();
  std::int64_t folder = lookup(path);
  if (folder < 0) return ListResult::NotFound;
  if (!nodes_[folder].isdir) return ListResult::NotFolder;
  std::string key = std::to_string(folder) + ":" + std::string(order) + ":" + (desc ? "1" : "0");
  auto cached = sortCache_.find(key);
  if (cached == sortCache_.end()) {
    std::vector<std::uint32_t> sorted = nodes_[folder].children;
    auto less = [&](std::uint32_t a, std::uint32_t b) {
      const Node& x = nodes_[a];
      const Node& y = nodes_[b];
      if (x.isdir != y.isdir) return x.isdir;  // folders first in either direction
      int cmp = 0;
      if (order == "time") {
        cmp = x.mtime < y.mtime ? -1 : x.mtime > y.mtime ? 1 : 0;
      } else if (order == "size") {
        cmp = x.size < y.size ? -1 : x.size > y.size ? 1 : 0;
      }
      if (cmp == 0) cmp = x.name.compare(y.name);
      if (cmp == 0) cmp = x.fsId < y.fsId ? -1 : 1;
      return desc ? cmp > 0 : cmp < 0;
    };
    std::sort(sorted.begin(), sorted.end(), less);
    // Keep the cache small: a crawl lists many folders once each.
    if (sortCache_.size() > 64) sortCache_.clear();
    cached = sortCache_.emplace(key, std::move(sorted)).first;
  }
  const std::vector<std::uint32_t>& sorted = cached->second;
  if (page < 1) page = 1;
  std::uint64_t first = (page - 1) * num;
  if (num == 0 || first >= sorted.size()) return ListResult::Ok;
  std::uint64_t last = std::min<std::uint64_t>(sorted.size(), first + num);
  std::string parentPath = pathOf(static_cast<std::uint32_t>(folder));
  out.reserve(last - first);
  for (std::uint64_t i = first; i < last; ++i) out.push_back(info(sorted[i], parentPath));
  return ListResult::Ok;
}

GenerateStats FileTree::generate(const GenerateOptions& options) {
  GenerateStats stats;
  std::mt19937_64 rng(options.seed);
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  if (!options.under.empty() && options.under != "/" && !addFolder(options.under)) return stats;
  std::int64_t base = lookup(options.under.empty() ? "/" : options.under);
  if (base < 0 || !nodes_[base].isdir) return stats;
  const std::int64_t epoch = 1500000000;

  // Folders level by level; names are numbered, so no clash check is needed.
  std::vector<std::uint32_t> folders{static_cast<std::uint32_t>(base)};
  std::vector<std::uint32_t> level{static_cast<std::uint32_t>(base)};
  std::uint64_t folderNumber = 0;
  for (int d = 0; d < options.depth && options.fanout > 0; ++d) {
    std::vector<std::uint32_t> next;
    for (std::uint32_t parent : level) {
      for (int f = 0; f < options.fanout; ++f) {
        ++folderNumber;
        std::string name = FillName(kFolderNames[rng() % std::size(kFolderNames)], folderNumber);
        std::uint32_t node = newNode(parent, std::move(name), true, 0);
        nodes_[node].mtime = epoch + static_cast<std::int64_t>(rng() % 200000000);
        next.push_back(node);
        folders.push_back(node);
        ++stats.folders;
      }
    }
    level.swap(next);
  }
  nodes_.reserve(nodes_.size() + options.files);
  for (std::uint64_t i = 0; i < options.files; ++i) {
    std::uint32_t parent = folders[i % folders.size()];
    std::string name = FillName(kFileNames[rng() % std::size(kFileNames)], i + 1);
    std::uint32_t node = newNode(parent, std::move(name), false, 0);
    Node& n = nodes_[node];
    n.size = rng() % (4ULL << 30);
    n.mtime = epoch + static_cast<std::int64_t>(rng() % 200000000);
    n.blocked = unit(rng) < options.blocked;
    ++stats.files;
    if (n.blocked) ++stats.blocked;
  }
  if (options.siblingPairs) {
    std::string folder = pathOf(static_cast<std::uint32_t>(base));
    folder = (folder == "/" ? "" : folder) + "/" + std::string(kSiblingFolder);
    const bool existed = lookup(folder) >= 0;
    if (addFolder(folder, epoch) && !existed) ++stats.folders;
    std::uint64_t k = 0;
    for (const SiblingPair& pair : kSiblingPairs) {
      for (bool tricky : {true, false}) {
        ++k;
        const bool blocked = options.blocked > 0 && tricky == pair.trickyBlocked;
        const std::string name(tricky ? pair.tricky : pair.plain);
        if (!addFile(folder + "/" + name, 1024 * k, blocked, epoch + static_cast<std::int64_t>(k)))
          continue;
        ++stats.files;
        if (blocked) ++stats.blocked;
      }
    }
  }
  changed();
  return stats;
}

const std::vector<SiblingPair>& SiblingPairs() {
  return kSiblingPairs;
}

}  // namespace pansift::sim
