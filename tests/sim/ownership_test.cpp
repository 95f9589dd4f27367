// Each account has a tree of its own, and the simulated service answers for what
// the login owns: a probe or a file operation that names another login's fs_id or
// path is answered as for a file that is not there, and logged as the client's
// fault, so a program that sends one login's files with another's cookies fails.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "codec.h"
#include "sim_client.h"
#include "simulator.h"

namespace pansift::sim {
namespace {

using testing::HttpReply;
using testing::SimClient;

const char* const kOwner = "甲*用户";
const char* const kOther = "乙 \"用户\"";
// Names that break hand-made requests, so the paths below travel exactly.
const std::string kOwnersFile = "/甲的 &amp; 文件/a \"1\"\\u0031.mp4";
const std::string kOwnersFolder = "/甲的去处";
const std::string kOthersFile = "/乙的/b.mp4";
const std::string kOthersFolder = "/乙的去处";
const std::string kBothHold = "/同名/same.mp4";  // a path in both trees

// errno of a reply, and the errno of each item of its info.
std::pair<std::string, std::vector<std::string>> Answer(const HttpReply& reply) {
  JsonValue v;
  if (!ParseJson(reply.body, v)) return {"unreadable: " + reply.body, {}};
  std::vector<std::string> items;
  if (const JsonValue* info = v.get("info")) {
    for (const JsonValue& item : info->items) items.push_back(item.string("errno"));
  }
  return {v.string("errno"), items};
}

class SimOwnership : public testing::SimTest {
 protected:
  void SetUp() override {
    ASSERT_TRUE(sim.start());
    sim.addAccount({.userName = kOwner});
    otherCookies = sim.addAccount({.userName = kOther});
    otherToken = sim.account(kOther)->bdstoken;
    ownersFileId = sim.addFile(kOwner, kOwnersFile, 10);
    sim.addFolder(kOwner, kOwnersFolder);
    othersFileId = sim.addFile(kOther, kOthersFile, 10);
    sim.addFolder(kOther, kOthersFolder);
    ownersSameId = sim.addFile(kOwner, kBothHold, 10);
    sim.addFile(kOther, kBothHold, 10);
    netdisk = std::make_unique<SimClient>(sim.netdiskOrigin(), sim.caFile());
  }

  // A probe by the other login, with a sign of its own.
  HttpReply probe(const std::vector<std::uint64_t>& ids) {
    JsonValue v;
    EXPECT_TRUE(ParseJson(netdisk->get(testing::TemplateTarget(), otherCookies).body, v));
    const JsonValue* result = v.get("result");
    if (!result) return {};
    std::string list;
    for (std::uint64_t id : ids) list += (list.empty() ? "" : "%2C") + std::to_string(id);
    return netdisk->get(
        testing::DownloadTarget(
            list, PercentEncode(ComputeSign(result->string("sign3"), result->string("sign1"))),
            result->string("timestamp")),
        otherCookies);
  }
  // File operations by the other login, with its own bdstoken.
  HttpReply remove(const std::vector<std::string>& paths) {
    std::string json = "[";
    for (const std::string& p : paths) json += (json.size() > 1 ? "," : "") + JsonString(p);
    return netdisk->post(testing::DeleteTarget(otherToken), "filelist=" + PercentEncode(json + "]"),
                         otherCookies);
  }
  HttpReply move(const std::string& path, const std::string& dest, const std::string& newName) {
    return netdisk->post(
        testing::MoveTarget(otherToken),
        "filelist=" +
            PercentEncode("[{\"path\":" + JsonString(path) + ",\"dest\":" + JsonString(dest) +
                          ",\"ondup\":\"fail\",\"newname\":" + JsonString(newName) + "}]"),
        otherCookies);
  }
  HttpReply create(const std::string& path) {
    return netdisk->post(testing::CreateTarget(otherToken),
                         "path=" + PercentEncode(path) + "&isdir=1&block_list=%5B%5D",
                         otherCookies);
  }
  bool has(const char* user, const std::string& path) const {
    return sim.find(user, path).has_value();
  }

  std::unique_ptr<SimClient> netdisk;
  std::string otherCookies, otherToken;
  std::uint64_t ownersFileId = 0, othersFileId = 0, ownersSameId = 0;
};

TEST_F(SimOwnership, AProbeOfAnotherLoginsFsIdIsNotFoundAndRejected) {
  expectRejections();  // sends requests the service refuses
  // One of the other login's own files, deleted before it is asked about: still its own.
  const std::uint64_t deletedId = sim.addFile(kOther, "/乙的/gone.mp4", 1);
  sim.withTree(kOther, [](FileTree& tree) { tree.remove("/乙的/gone.mp4"); });
  const std::string owners = "fs_id " + std::to_string(ownersFileId) + " is " + kOwner + "'s";
  struct Case {
    const char* what;
    std::vector<std::uint64_t> ids;
    const char* errnoText;
    std::string rejection;  // "" when none
  } cases[] = {
      {"its own file", {othersFileId}, "0", ""},
      {"its own file, deleted before", {deletedId, othersFileId}, "0", ""},
      {"the owner's file", {ownersFileId}, "-9", owners},
      {"the owner's file among its own", {othersFileId, ownersFileId}, "-9", owners},
      {"the owner's file at a path both trees hold",
       {ownersSameId},
       "-9",
       "fs_id " + std::to_string(ownersSameId) + " is " + kOwner + "'s"},
      {"an id no tree ever held", {123456789012345}, "-9", "fs_id 123456789012345 is no login's"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::uint64_t rejectedBefore = sim.log().rejected();
    HttpReply reply = probe(c.ids);
    EXPECT_EQ(Answer(reply).first, c.errnoText) << reply.body;
    EXPECT_EQ(sim.log().rejected(), rejectedBefore + (c.rejection.empty() ? 0 : 1));
    const std::string logged = sim.log().last("/api/download")->rejection;
    if (c.rejection.empty()) {
      EXPECT_EQ(logged, "");
    } else {
      EXPECT_NE(logged.find(c.rejection), std::string::npos) << logged;
      EXPECT_NE(logged.find(std::string("not ") + kOther + "'s"), std::string::npos) << logged;
    }
  }

  // A reply that stands in for the sign check answers; the request is still the
  // client's fault.
  sim.faults().download.refusedSigns = 1;
  const std::uint64_t rejectedBefore = sim.log().rejected();
  EXPECT_EQ(Answer(probe({ownersFileId})).first, "112");
  EXPECT_EQ(sim.log().rejected(), rejectedBefore + 1);
}

TEST_F(SimOwnership, AFileOperationOnAnotherLoginsPathIsNoSuchFileAndRejected) {
  expectRejections();  // sends requests the service refuses
  struct Case {
    const char* what;
    std::function<HttpReply()> send;
    const char* errnoText;
    std::vector<std::string> items;  // each item's errno
    bool rejected;
    std::vector<std::pair<const char*, std::string>> kept, gone;  // (user, path)
  };
  const Case cases[] = {
      {"delete the owner's file",
       [this] { return remove({kOwnersFile}); },
       "12",
       {"-9"},
       true,
       {{kOwner, kOwnersFile}},
       {}},
      {"delete its own file and the owner's",
       [this] {
         return remove({kOthersFile, kOwnersFolder});
       },
       "12",
       {"0", "-9"},
       true,
       {{kOwner, kOwnersFolder}},
       {{kOther, kOthersFile}}},
      {"move its own file into the owner's folder",
       [this] { return move(kBothHold, kOwnersFolder, "x.mp4"); },
       "12",
       {"-9"},
       true,
       {{kOther, kBothHold}},
       {{kOwner, kOwnersFolder + "/x.mp4"}}},
      {"rename the owner's file",
       [this] { return move(kOwnersFile, "/甲的 &amp; 文件", "renamed.mp4"); },
       "12",
       {"-9"},
       true,
       {{kOwner, kOwnersFile}},
       {{kOwner, "/甲的 &amp; 文件/renamed.mp4"}}},
      {"delete a path no tree holds: missing, not foreign",
       [this] { return remove({"/无处/none.mp4"}); },
       "12",
       {"-9"},
       false,
       {},
       {}},
      {"delete the path both trees hold: its own",
       [this] { return remove({kBothHold}); },
       "0",
       {"0"},
       false,
       {{kOwner, kBothHold}},
       {{kOther, kBothHold}}},
      {"delete it again: held before, still its own",
       [this] { return remove({kBothHold}); },
       "12",
       {"-9"},
       false,
       {{kOwner, kBothHold}},
       {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::uint64_t rejectedBefore = sim.log().rejected();
    HttpReply reply = c.send();
    auto [code, items] = Answer(reply);
    EXPECT_EQ(code, c.errnoText) << reply.body;
    EXPECT_EQ(items, c.items) << reply.body;
    EXPECT_EQ(sim.log().rejected(), rejectedBefore + (c.rejected ? 1 : 0));
    const std::string logged = sim.log().last("/api/filemanager")->rejection;
    EXPECT_EQ(logged.find(std::string(" is ") + kOwner + "'s") != std::string::npos, c.rejected)
        << logged;
    for (const auto& [user, path] : c.kept) EXPECT_TRUE(has(user, path)) << user << " " << path;
    for (const auto& [user, path] : c.gone) EXPECT_FALSE(has(user, path)) << user << " " << path;
  }
  // The log names the foreign path exactly as sent.
  remove({kOwnersFile});
  EXPECT_NE(sim.log().last()->rejection.find("path " + kOwnersFile + " is "), std::string::npos)
      << sim.log().last()->rejection;

  // A folder made in a folder of the owner's tree: refused, nothing made anywhere.
  const std::uint64_t rejectedBefore = sim.log().rejected();
  EXPECT_EQ(Answer(create(kOwnersFolder + "/新")).first, "-9");
  EXPECT_EQ(sim.log().rejected(), rejectedBefore + 1);
  EXPECT_FALSE(has(kOther, kOwnersFolder + "/新"));
  EXPECT_FALSE(has(kOwner, kOwnersFolder + "/新"));
  // In its own folders, or in a new one, it is made.
  EXPECT_EQ(Answer(create(kOthersFolder + "/新")).first, "0");
  EXPECT_EQ(Answer(create("/新的/新")).first, "0");
  EXPECT_EQ(sim.log().rejected(), rejectedBefore + 1);
  EXPECT_TRUE(has(kOther, kOthersFolder + "/新"));
}

// Every fs_id below `folder`, folders included.
void CollectIds(const FileTree& tree, const std::string& folder, std::vector<std::uint64_t>& ids) {
  std::vector<EntryInfo> entries;
  tree.list(folder, "name", false, 1, 1u << 30, entries);
  for (const EntryInfo& e : entries) {
    ids.push_back(e.fsId);
    if (e.isdir) CollectIds(tree, e.path, ids);
  }
}

// The same generated tree in two accounts: the same paths, but no fs_id of one
// stands for a file of the other.
TEST(SimOwnershipIds, EachAccountDrawsItsFsIdsFromARangeOfItsOwn) {
  Simulator sim;
  GenerateOptions generate;
  generate.files = 2000;
  generate.depth = 2;
  generate.fanout = 3;
  generate.seed = 9;
  std::vector<std::uint64_t> ids[2];
  for (int a = 0; a < 2; ++a) {
    const std::string user = "用户" + std::to_string(a);
    sim.addAccount({.userName = user});
    sim.generate(user, generate);
    sim.withTree(user, [&](FileTree& tree) { CollectIds(tree, "/", ids[a]); });
  }
  ASSERT_EQ(ids[0].size(), ids[1].size());
  ASSERT_GT(ids[0].size(), 2000u);
  const auto [min0, max0] = std::minmax_element(ids[0].begin(), ids[0].end());
  const auto [min1, max1] = std::minmax_element(ids[1].begin(), ids[1].end());
  EXPECT_LT(*max0, *min1);
  for (std::uint64_t id : {*min0, *max1}) EXPECT_EQ(std::to_string(id).size(), 15u) << id;
}

}  // namespace
}  // namespace pansift::sim
