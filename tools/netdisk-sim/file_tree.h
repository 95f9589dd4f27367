// One account's files on the simulated service: folders and files with fs_id,
// size, mtime and a blocked flag, addressed by "/"-rooted UTF-8 paths.
// Not thread-safe: the simulator guards it with its own lock.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace pansift::sim {

struct EntryInfo {
  std::string path;  // UTF-8, "/a/b"
  std::string name;
  bool isdir = false;
  std::uint64_t fsId = 0;
  std::uint64_t size = 0;
  std::int64_t mtime = 0;
  bool blocked = false;
};

/// A generated tree: `folders` form a complete tree of `fanout` sub-folders per
/// folder down to `depth` levels below `under`; `files` files are spread over
/// those folders and `under` itself; each file is blocked with probability
/// `blocked`. The same seed gives the same tree. With `siblingPairs`, the folder
/// kSiblingFolder below `under` then holds every pair of SiblingPairs() (made
/// after the rest, so the rest is the same with or without them).
struct GenerateOptions {
  std::uint64_t files = 1000;
  int depth = 2;
  int fanout = 4;
  double blocked = 0.01;
  std::uint64_t seed = 1;
  std::string under = "/";
  bool siblingPairs = true;
};

/// Two file names side by side that differ only by text a client might decode,
/// strip or splice into a request: entity words, quotes, a backslash, literal
/// "\u0031" text, "%20", "+", control characters, an emoji. A client that turns
/// the tricky name into the plain one (or the other way) deletes the wrong file.
struct SiblingPair {
  const char* what;
  std::string_view tricky;
  std::string_view plain;
  /// Which of the two is blocked, in a tree that has blocked files at all
  /// (GenerateOptions::blocked above 0); the other is normal.
  bool trickyBlocked;
};

/// The pairs, in a fixed order; every name is unique within the folder.
const std::vector<SiblingPair>& SiblingPairs();
/// The folder the pairs are generated in, below GenerateOptions::under.
inline constexpr std::string_view kSiblingFolder = "相似的名字";

struct GenerateStats {
  std::uint64_t folders = 0;
  std::uint64_t files = 0;
  std::uint64_t blocked = 0;
};

/// The first fs_id a tree draws ids after, unless it is given another.
inline constexpr std::uint64_t kFirstFsId = 388670939482157ULL;

/// How a move treats a name that already exists in the target folder.
enum class OnDup { NewCopy, Fail, Overwrite };

class FileTree {
 public:
  /// Ids are drawn from `idSeed`, growing from `firstId` by random steps.
  explicit FileTree(std::uint64_t idSeed = 1, std::uint64_t firstId = kFirstFsId);

  /// Creates the folder and any missing parents; returns its fs_id (also when it
  /// existed), 0 when a file stands in the way or the path is invalid.
  std::uint64_t addFolder(std::string_view path, std::int64_t mtime = 0);
  /// Creates the file (parents as needed) or replaces an existing file's values;
  /// `fsId` 0 draws a fresh id. Returns the fs_id, 0 on failure.
  std::uint64_t addFile(std::string_view path, std::uint64_t size, bool blocked = false,
                        std::int64_t mtime = 0, std::uint64_t fsId = 0);
  std::optional<EntryInfo> find(std::string_view path) const;
  std::optional<EntryInfo> findById(std::uint64_t fsId) const;
  bool setBlocked(std::string_view path, bool blocked);
  /// Removes the entry and everything below it; false when missing or the root.
  bool remove(std::string_view path);

  /// Whether the tree holds this fs_id, or held it before a delete (or a move's
  /// overwrite) dropped it.
  bool heldId(std::uint64_t fsId) const;
  /// Whether the tree holds this path, or held it (or a folder above it) before a
  /// delete or a move took it away.
  bool heldPath(std::string_view path) const;

  /// Creates a folder at `path`; when the name is taken, at "name(1)", "name(2)"...
  /// Returns the path created (empty on failure) and its fs_id.
  std::string createFolderUnique(std::string_view path, std::int64_t mtime,
                                 std::uint64_t* fsId = nullptr);

  enum class MoveResult { Moved, SourceMissing, TargetMissing, Exists, Invalid };
  /// Moves `path` into the folder `destFolder` under `newName` (empty: keep the name).
  MoveResult move(std::string_view path, std::string_view destFolder, std::string_view newName,
                  OnDup onDup, std::string* newPath = nullptr);

  enum class ListResult { Ok, NotFound, NotFolder };
  /// One page (1-based) of a folder: folders first, then by `order` ("name",
  /// "time" or "size"), ascending or descending.
  ListResult list(std::string_view path, std::string_view order, bool desc, std::uint64_t page,
                  std::uint64_t num, std::vector<EntryInfo>& out) const;

  GenerateStats generate(const GenerateOptions& options);

  /// "/"-rooted, no empty, "." or ".." names (one trailing slash allowed).
  static bool validPath(std::string_view path);

  /// Entries below the root.
  std::uint64_t size() const { return alive_; }

 private:
  struct Node {
    std::uint32_t parent = 0;
    bool isdir = false;
    bool blocked = false;
    bool alive = true;
    std::string name;
    std::uint64_t fsId = 0;
    std::uint64_t size = 0;
    std::int64_t mtime = 0;
    std::vector<std::uint32_t> children;
  };

  static bool splitPath(std::string_view path, std::vector<std::string_view>& parts);
  std::int64_t lookup(std::string_view path) const;  // node index or -1
  std::int64_t child(std::uint32_t folder, std::string_view name) const;
  std::uint32_t newNode(std::uint32_t parent, std::string name, bool isdir, std::uint64_t fsId);
  std::uint64_t nextId();
  std::string pathOf(std::uint32_t node) const;
  EntryInfo info(std::uint32_t node) const;
  EntryInfo info(std::uint32_t node, const std::string& parentPath) const;
  void unlink(std::uint32_t node);
  void dropSubtree(std::uint32_t node);
  std::string freeName(std::uint32_t folder, std::string_view name, bool isdir) const;
  void changed() { sortCache_.clear(); }

  std::vector<Node> nodes_;
  std::unordered_map<std::uint64_t, std::uint32_t> byId_;
  std::uint64_t idState_;
  std::uint64_t lastId_;
  std::unordered_set<std::uint64_t> goneIds_;
  std::unordered_set<std::string> gonePaths_;  // entries deleted or moved away, not those below
  std::uint64_t alive_ = 0;
  // Sorted children per (folder, order, desc); cleared on every change.
  mutable std::unordered_map<std::string, std::vector<std::uint32_t>> sortCache_;
};

}  // namespace pansift::sim
