// The fixture format:
//
// {"accounts": [{
//    "userName": "网盘*用户", "uk": "...", "bdstoken": "...",        (optional but userName)
//    "BDUSS": "...", "STOKEN": "...", "BAIDUID": "...",              (optional: drawn)
//    "login": "live" | "expired",                                    (optional: live)
//    "tree": [ {"name": "电影", "children": [ ... ]},                 (a folder)
//              {"name": "a.mp4", "size": 1024, "mtime": 1690000000,
//               "blocked": true, "fs_id": 123} ],                    (a file; all but name
//               optional)
//    "generate": {"files": 100000, "depth": 3, "fanout": 6,
//                 "blocked": 0.01, "seed": 7, "under": "/",
//                 "siblingPairs": true}                             (optional)
// }]}
#include <fstream>
#include <sstream>

#include "codec.h"
#include "simulator.h"

namespace pansift::sim {
namespace {

bool AddEntries(FileTree& tree, const std::string& folder, const JsonValue& entries,
                std::string* error) {
  for (const JsonValue& e : entries.items) {
    std::string name = e.string("name");
    if (name.empty() || name.find('/') != std::string::npos) {
      if (error) *error = "entry without a valid name in " + folder;
      return false;
    }
    std::string path = (folder == "/" ? "" : folder) + "/" + name;
    const JsonValue* children = e.get("children");
    std::int64_t mtime = e.integer("mtime", 1600000000);
    if (children || e.boolean("isdir")) {
      if (!tree.addFolder(path, mtime)) {
        if (error) *error = "cannot add folder " + path;
        return false;
      }
      if (children && !AddEntries(tree, path, *children, error)) return false;
    } else if (!tree.addFile(path, static_cast<std::uint64_t>(e.integer("size")),
                             e.boolean("blocked"), mtime,
                             static_cast<std::uint64_t>(e.integer("fs_id")))) {
      if (error) *error = "cannot add file " + path;
      return false;
    }
  }
  return true;
}

}  // namespace

bool Simulator::loadFixtureText(std::string_view json, std::string* error) {
  JsonValue root;
  if (!ParseJson(json, root, error)) return false;
  const JsonValue* list = root.get("accounts");
  if (!list || !list->isArray()) {
    if (error) *error = "no accounts array";
    return false;
  }
  for (const JsonValue& a : list->items) {
    AccountSpec spec;
    spec.userName = a.string("userName");
    if (spec.userName.empty()) {
      if (error) *error = "account without userName";
      return false;
    }
    spec.uk = a.string("uk");
    spec.bdstoken = a.string("bdstoken");
    spec.bduss = a.string("BDUSS");
    spec.stoken = a.string("STOKEN");
    spec.baiduid = a.string("BAIDUID");
    spec.login = a.string("login") == "expired" ? LoginState::Expired : LoginState::Live;
    addAccount(spec);
    bool ok = true;
    withTree(spec.userName, [&](FileTree& tree) {
      if (const JsonValue* entries = a.get("tree")) ok = AddEntries(tree, "/", *entries, error);
      if (const JsonValue* g = a.get("generate"); ok && g) {
        GenerateOptions options;
        options.files = static_cast<std::uint64_t>(g->integer("files", 1000));
        options.depth = static_cast<int>(g->integer("depth", 2));
        options.fanout = static_cast<int>(g->integer("fanout", 4));
        options.blocked = g->number("blocked", 0.01);
        options.seed = static_cast<std::uint64_t>(g->integer("seed", 1));
        options.under = g->string("under", "/");
        options.siblingPairs = g->boolean("siblingPairs", true);
        tree.generate(options);
      }
    });
    if (!ok) return false;
  }
  return true;
}

bool Simulator::loadFixture(const std::string& file, std::string* error) {
  std::ifstream in(file, std::ios::binary);
  if (!in) {
    if (error) *error = "cannot read " + file;
    return false;
  }
  std::stringstream text;
  text << in.rdbuf();
  return loadFixtureText(text.str(), error);
}

}  // namespace pansift::sim
