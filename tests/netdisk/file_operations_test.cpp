#include "netdisk/file_operations.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "codec.h"
#include "net/http.h"
#include "netdisk/probe.h"
#include "netdisk/sign.h"
#include "support/back_ends.h"
#include "support/sim_app.h"
#include "util/codepage.h"

namespace pansift {
namespace {

class FileOperationsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(env.started);
    cookies = sim.addAccount({.userName = "owner", .bdstoken = "tok"});
    owner = {"owner", cookies, "tok"};
  }
  std::uint64_t requests(const char* endpoint) { return sim.log().count(endpoint); }

  testing::SimApp env;
  sim::Simulator& sim = env.sim;
  AppState& app = env.app;
  std::string cookies;
  Credentials owner;
};

TEST_F(FileOperationsTest, PathsReachTheServiceAsUtf8WithUpperCaseEscapes) {
  sim.addFile("owner", "/x/été.txt", 1);
  DeleteResult deleted =
      DeleteFile(app, owner, u"/x/été.txt", DeleteMode::kSync, DeleteVariant::kMenu);
  EXPECT_EQ(deleted.outcome, DeleteOutcome::kDeleted) << deleted.reply;
  EXPECT_EQ(deleted.httpStatus, 200);
  EXPECT_FALSE(sim.find("owner", "/x/été.txt"));
  auto request = sim.log().last("/api/filemanager");
  ASSERT_TRUE(request);
  EXPECT_EQ(request->method, "POST");
  EXPECT_EQ(request->body, "filelist=%5B%22%2Fx%2F%C3%A9t%C3%A9.txt%22%5D");
  const std::string head =
      "/api/filemanager?async=0&onnest=fail&opera=delete&bdstoken=tok&clienttype=0&app_id=250528"
      "&web=1&dp-logid=479995006038637";
  EXPECT_EQ(request->target.substr(0, head.size()), head);
  EXPECT_EQ(request->target.size(), head.size() + 5);
  EXPECT_EQ(request->header("Content-Type"), "application/x-www-form-urlencoded");
  EXPECT_EQ(DeleteFileList(u"/电影 2023/a&b.mp4"),
            "filelist=%5B%22%2F%E7%94%B5%E5%BD%B1+2023%2Fa%26b.mp4%22%5D");
  EXPECT_EQ(sim.log().rejected(), 0u);
}

// Each awkward name beside a sibling that a careless decoder would take for it: the
// delete and the move touch exactly the named file, and the filelist is one JSON
// array of one item whatever the name holds.
TEST_F(FileOperationsTest, DeletesAndMovesTouchExactlyTheNamedFile) {
  struct Case {
    const char* name;     // UTF-8
    const char* sibling;  // UTF-8
  };
  const Case cases[] = {
      {"Tom &amp; Jerry.mp4", "Tom & Jerry.mp4"},
      {"camp;1.mp4", "c1.mp4"},
      {"movie\\u0031.mp4", "movie1.mp4"},
      {"q\"],[\"victim.mp4", "victim.mp4"},
      {"back\\slash\\", "backslash"},
      {"a%20b.mp4", "a b.mp4"},
      {"&#126;divide;&quot;.mp4", "~\".mp4"},
      {"ctl\x01\x1b[31m\t.mp4", "ctl[31m.mp4"},
      {"😀 emoji.mp4", "? emoji.mp4"},
  };
  sim.addFolder("owner", "/dest");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string file = std::string("/d/") + c.name;
    const std::string sibling = std::string("/d/") + c.sibling;
    sim.addFile("owner", file, 1);
    sim.addFile("owner", sibling, 1);
    sim.addFile("owner", "/x/victim.mp4", 1);

    DeleteResult deleted =
        DeleteFile(app, owner, Utf8ToUnicode(file), DeleteMode::kSync, DeleteVariant::kMenu);
    EXPECT_EQ(deleted.outcome, DeleteOutcome::kDeleted) << deleted.reply;
    EXPECT_FALSE(sim.find("owner", file));
    EXPECT_TRUE(sim.find("owner", sibling));
    EXPECT_TRUE(sim.find("owner", "/x/victim.mp4"));

    sim.addFile("owner", file, 1);
    MoveResult moved = MoveFile(app, owner, Utf8ToUnicode(file), u"/dest", Utf8ToUnicode(c.name));
    EXPECT_EQ(moved.outcome, MoveOutcome::kMoved) << moved.reply;
    EXPECT_TRUE(sim.find("owner", std::string("/dest/") + c.name));
    EXPECT_TRUE(sim.find("owner", sibling));
    EXPECT_TRUE(sim.find("owner", "/x/victim.mp4"));
    EXPECT_FALSE(sim.find("owner", "/dest/victim.mp4"));
  }
  EXPECT_EQ(sim.log().rejected(), 0u);
}

// Each delete outcome of both variants, with its requests and waits.
TEST_F(FileOperationsTest, DeleteOutcomesRequestsAndWaits) {
  struct Case {
    const char* what;
    DeleteVariant variant;
    DeleteMode mode;
    bool fileExists;
    std::function<void(sim::FileManagerFaults&)> fault;
    DeleteOutcome outcome;
    std::uint64_t requests;
    long long waitedMs;
  };
  using V = DeleteVariant;
  using O = DeleteOutcome;
  using M = DeleteMode;
  auto none = [](sim::FileManagerFaults&) {};
  const Case cases[] = {
      {"deleted on detection", V::kOnDetection, M::kAuto, true, none, O::kDeleted, 1, 0},
      {"deleted from the menu", V::kMenu, M::kSync, true, none, O::kDeleted, 1, 0},
      {"deleted asynchronously", V::kMenu, M::kAsync, true, none, O::kDeleted, 1, 0},
      {"busy twice, then deleted", V::kOnDetection, M::kSync, true,
       [](sim::FileManagerFaults& f) { f.busyDeletes = 2; }, O::kDeleted, 3, 4000},
      {"busy (31034) once", V::kMenu, M::kSync, true,
       [](sim::FileManagerFaults& f) {
         f.busyDeletes = 1;
         f.busyCode = 31034;
       },
       O::kDeleted, 2, 2000},
      {"busy throughout on detection", V::kOnDetection, M::kSync, true,
       [](sim::FileManagerFaults& f) { f.busyDeletes = 1000; }, O::kFailed, 90, 180000},
      {"busy throughout from the menu", V::kMenu, M::kSync, true,
       [](sim::FileManagerFaults& f) { f.busyDeletes = 1000; }, O::kFailed, 5, 10000},
      {"identity check", V::kMenu, M::kSync, true,
       [](sim::FileManagerFaults& f) { f.identityCheck = true; }, O::kIdentityCheck, 1, 0},
      {"identity check on detection", V::kOnDetection, M::kSync, true,
       [](sim::FileManagerFaults& f) { f.identityCheck = true; }, O::kIdentityCheck, 1, 0},
      {"missing from the menu", V::kMenu, M::kSync, false, none, O::kFileMissing, 1, 0},
      {"missing on detection", V::kOnDetection, M::kSync, false, none, O::kFailed, 1, 0},
      {"no answer from the menu", V::kMenu, M::kSync, true,
       [](sim::FileManagerFaults& f) { f.emptyReplies = 1000; }, O::kFailed, 5, 0},
      // After an attempt without an answer, the next one's "no such file" cannot tell
      // a delete whose reply was lost (cut off after the file was deleted) from a
      // path that never existed (the request dropped before it arrived): both are
      // the missing file the service said, never "deleted".
      {"answer lost after the delete, on detection", V::kOnDetection, M::kSync, true,
       [](sim::FileManagerFaults& f) { f.cutReplies = 1; }, O::kFileMissing, 2, 0},
      {"answer lost after the delete, from the menu", V::kMenu, M::kSync, true,
       [](sim::FileManagerFaults& f) { f.cutReplies = 1; }, O::kFileMissing, 2, 0},
      {"no such file after a dropped request, on detection", V::kOnDetection, M::kSync, false,
       [](sim::FileManagerFaults& f) { f.dropConnections = 1; }, O::kFileMissing, 2, 0},
      {"no such file after a dropped request, from the menu", V::kMenu, M::kSync, false,
       [](sim::FileManagerFaults& f) { f.dropConnections = 1; }, O::kFileMissing, 2, 0},
      {"no answer, then busy, then deleted", V::kOnDetection, M::kSync, true,
       [](sim::FileManagerFaults& f) {
         f.emptyReplies = 1;
         f.busyDeletes = 1;
       },
       O::kDeleted, 3, 2000},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    sim.faults().reset();
    sim.log().clear();
    if (c.fileExists) sim.addFile("owner", "/f.txt", 1);
    c.fault(sim.faults().fileManager);
    const long long before = env.clock.sleptMs();
    DeleteResult r = DeleteFile(app, owner, u"/f.txt", c.mode, c.variant);
    EXPECT_EQ(r.outcome, c.outcome) << r.reply;
    EXPECT_EQ(requests("/api/filemanager"), c.requests);
    EXPECT_EQ(env.clock.sleptMs() - before, c.waitedMs);
    EXPECT_EQ(
        sim.log()
            .last("/api/filemanager")
            ->query.rfind(
                "async=" + std::to_string(c.variant == V::kMenu ? static_cast<int>(c.mode) : 0) +
                    "&",
                0),
        0u);
    EXPECT_EQ(sim.log().rejected(), 0u);
    if (c.outcome == O::kDeleted) {
      EXPECT_FALSE(sim.find("owner", "/f.txt"));
    }
    sim.withTree("owner", [](sim::FileTree& t) { t.remove("/f.txt"); });
  }
}

TEST_F(FileOperationsTest, TheGateRunsBeforeEveryDetectionAttempt) {
  sim.addFile("owner", "/f.txt", 1);
  sim.faults().fileManager.busyDeletes = 1000;
  int calls = 0;
  auto gate = [&] { return ++calls < 3; };
  DeleteResult r =
      DeleteFile(app, owner, u"/f.txt", DeleteMode::kSync, DeleteVariant::kOnDetection, gate);
  EXPECT_EQ(r.outcome, DeleteOutcome::kFailed);
  EXPECT_EQ(calls, 3);
  EXPECT_EQ(requests("/api/filemanager"), 2u);
  EXPECT_NE(r.reply.find("{\"errno\":111,"), std::string::npos);  // the reply so far
  // The menu variant has no gate.
  sim.faults().reset();
  calls = 0;
  EXPECT_EQ(
      DeleteFile(app, owner, u"/f.txt", DeleteMode::kSync, DeleteVariant::kMenu, gate).outcome,
      DeleteOutcome::kDeleted);
  EXPECT_EQ(calls, 0);
}

TEST_F(FileOperationsTest, FolderTestCreateAndMoveLandTheFileInTheNewFolder) {
  sim.addFile("owner", "/电影/a.mp4", 5);
  FolderCheck check = CheckTargetFolder(app, owner, "/abc");
  EXPECT_TRUE(check.missing) << check.reply;
  auto listing = sim.log().last("/api/list");
  ASSERT_TRUE(listing);
  EXPECT_EQ(listing->query.substr(listing->query.find("&order=")),
            "&order=time&desc=1&dir=%2Fabc&num=100&page=1");
  EXPECT_EQ(listing->query.rfind("clienttype=0&app_id=250528&web=1&dp-logid=", 0), 0u);

  CreatedFolder created = CreateFolder(app, owner, "/abc");
  // The service writes the slash as "\/": the folder is "/abc", not "\/abc".
  EXPECT_NE(created.reply.find("\"path\":\"\\/abc\""), std::string::npos) << created.reply;
  EXPECT_EQ(created.path, u"/abc");
  auto create = sim.log().last("/api/create");
  ASSERT_TRUE(create);
  EXPECT_EQ(create->body, "path=%2Fabc&isdir=1&block_list=%5B%5D");
  EXPECT_EQ(
      create->query.rfind("a=commit&bdstoken=tok&clienttype=0&app_id=250528&web=1&dp-logid=", 0),
      0u);
  EXPECT_FALSE(CheckTargetFolder(app, owner, "/abc").missing);

  MoveResult moved = MoveFile(app, owner, u"/电影/a.mp4", created.path, u"新.mp4");
  EXPECT_EQ(moved.outcome, MoveOutcome::kMoved) << moved.reply;
  EXPECT_EQ(moved.errnoText, "0");
  EXPECT_EQ(moved.httpStatus, 200);
  EXPECT_TRUE(sim.find("owner", "/abc/新.mp4"));
  EXPECT_FALSE(sim.find("owner", "/电影/a.mp4"));
  auto move = sim.log().last("/api/filemanager");
  ASSERT_TRUE(move);
  EXPECT_EQ(
      move->body,
      "filelist=%5B%7B%22path%22%3A%22%2F%E7%94%B5%E5%BD%B1%2Fa.mp4%22%2C%22dest%22%3A%22%2Fabc"
      "%22%2C%22ondup%22%3A%22newcopy%22%2C%22newname%22%3A%22%E6%96%B0.mp4%22%7D%5D");
  EXPECT_EQ(move->query.rfind("async=0&onnest=fail&opera=move&bdstoken=tok&clienttype=0", 0), 0u);

  // Asked again for "/abc", the service makes another folder and reports its name,
  // which is the one to move into.
  sim.addFile("owner", "/b.txt", 1);
  CreatedFolder second = CreateFolder(app, owner, "/abc");
  ASSERT_FALSE(second.path.empty()) << second.reply;
  EXPECT_NE(second.path, u"/abc");
  EXPECT_EQ(MoveFile(app, owner, u"/b.txt", second.path, u"b.txt").outcome, MoveOutcome::kMoved);
  EXPECT_TRUE(sim.find("owner", UnicodeToUtf8(second.path) + "/b.txt"));

  // A file that is no longer there.
  MoveResult missing = MoveFile(app, owner, u"/gone.txt", u"/abc", u"gone.txt");
  EXPECT_EQ(missing.outcome, MoveOutcome::kFileMissing) << missing.reply;
  EXPECT_EQ(missing.errnoText, "12");
  EXPECT_EQ(sim.log().rejected(), 0u);
}

TEST_F(FileOperationsTest, UnreachableOrRefusingServiceFailsWithoutWaits) {
  sim.faults().list.emptyReplies = 3;
  EXPECT_FALSE(CheckTargetFolder(app, owner, "/abc").missing);  // counts as present
  EXPECT_EQ(requests("/api/list"), 3u);
  sim.faults().create.emptyReplies = 3;
  CreatedFolder created = CreateFolder(app, owner, "/abc");
  EXPECT_TRUE(created.path.empty());
  EXPECT_EQ(requests("/api/create"), 3u);
  sim.faults().fileManager.emptyReplies = 3;
  MoveResult moved = MoveFile(app, owner, u"/x.txt", u"/abc", u"x.txt");
  EXPECT_EQ(moved.outcome, MoveOutcome::kFailed);
  EXPECT_EQ(moved.errnoText, "");
  EXPECT_EQ(requests("/api/filemanager"), 3u);
  // A wrong token is refused by the service, not retried.
  env.service.rejectionsExpected = true;
  sim.addFile("owner", "/x.txt", 1);
  EXPECT_EQ(MoveFile(app, {"owner", cookies, "other"}, u"/x.txt", u"/", u"x.txt").outcome,
            MoveOutcome::kFailed);
  EXPECT_EQ(requests("/api/filemanager"), 4u);
  EXPECT_EQ(env.clock.sleptMs(), 0);
}

// Every request of the file operations and the probe, through each back end, with
// names that a form must encode: the service takes each one as sent (the check at
// the end of the test names any it rejected), and each does its work.
class RequestsPerBackEnd : public ::testing::TestWithParam<Transport> {
 protected:
  void SetUp() override {
    ASSERT_TRUE(env.started);
    before = SelectedTransport();
    SelectTransport(GetParam() == Transport::Curl);
    owner = {"owner", env.sim.addAccount({.userName = "owner", .bdstoken = "tok"}), "tok"};
    env.app.currentCookies.set(owner.cookies);
  }
  void TearDown() override { SelectTransport(before == Transport::Curl); }

  testing::SimApp env;
  Credentials owner;
  Transport before = Transport::Platform;
};

TEST_P(RequestsPerBackEnd, TheServiceTakesEveryRequestAsSent) {
  sim::Simulator& sim = env.sim;
  const std::string name = "a&b=c+d%41 \"q\" \\u0031 (1)*'~!,;:@#$[].mp4";
  const std::u16string name16 = Utf8ToUnicode(name) + u"😀";
  const std::string nameUtf8 = name + "😀";
  const std::string folder = "/新 & \"目录\" =+%41\\u0031";

  for (DeleteMode mode : {DeleteMode::kSync, DeleteMode::kAsync, DeleteMode::kAuto}) {
    for (DeleteVariant variant : {DeleteVariant::kMenu, DeleteVariant::kOnDetection}) {
      sim.addFile("owner", "/d/" + nameUtf8, 1);
      EXPECT_EQ(DeleteFile(env.app, owner, u"/d/" + name16, mode, variant).outcome,
                DeleteOutcome::kDeleted);
      EXPECT_FALSE(sim.find("owner", "/d/" + nameUtf8));
    }
  }

  EXPECT_TRUE(CheckTargetFolder(env.app, owner, Utf8ToLocal(folder)).missing);
  CreatedFolder created = CreateFolder(env.app, owner, Utf8ToLocal(folder));
  EXPECT_EQ(created.path, Utf8ToUnicode(folder)) << created.reply;
  EXPECT_TRUE(sim.find("owner", folder));
  sim.addFile("owner", "/d/" + nameUtf8, 1);
  MoveResult moved = MoveFile(env.app, owner, u"/d/" + name16, created.path, name16 + u"(2)");
  EXPECT_EQ(moved.outcome, MoveOutcome::kMoved) << moved.reply;
  EXPECT_TRUE(sim.find("owner", folder + "/" + nameUtf8 + "(2)"));

  // Probes with signs until one held each of "+", "/" and "=".
  const std::string ids = std::to_string(sim.addFile("owner", "/p/1.txt", 1)) + "," +
                          std::to_string(sim.addFile("owner", "/p/2.txt", 1));
  bool plus = false, slash = false, equals = false;
  for (int probe = 0; probe < 50 && !(plus && slash && equals); ++probe) {
    ClearSignCache(env.app);
    EXPECT_EQ(ProbeDownload(env.app, owner, ids, [] { return std::string("0"); }),
              ProbeOutcome::kNotBlocked);
    const std::string sign = GetSign(env.app, owner, false).sign;
    plus = plus || sign.find('+') != std::string::npos;
    slash = slash || sign.find('/') != std::string::npos;
    equals = equals || sign.find('=') != std::string::npos;
  }
  EXPECT_TRUE(plus && slash && equals);
  EXPECT_EQ(sim.log().rejections(), std::vector<std::string>{});
}

INSTANTIATE_TEST_SUITE_P(BackEnds, RequestsPerBackEnd, testing::kBothBackEnds,
                         testing::BackEndName);

}  // namespace
}  // namespace pansift
