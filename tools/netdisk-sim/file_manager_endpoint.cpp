// /api/filemanager: deletes and moves (a rename is a move with a new name) on
// the login's tree. The body is a strictly encoded form with the form's
// Content-Type; its filelist value is read as strict JSON; each path
// names only the entry whose own path it is, and each gets its errno in the
// reply's info: -9 also for a path of another login's tree (logged as
// rejected). The faults of deletes (busy, identity check) answer first.
#include "endpoints.h"
#include "query_checks.h"

namespace pansift::sim {
namespace {

// The shape of a filelist: a delete names paths, a move names objects with
// exactly a path, a dest, an ondup mode and a newname, all strings. "" when it fits.
std::string CheckFileList(const JsonValue& list, bool isDelete) {
  for (const JsonValue& item : list.items) {
    if (isDelete) {
      if (item.type != JsonValue::Type::String) return "filelist of a delete is not of paths";
      continue;
    }
    auto isString = [&](std::string_view key) {
      const JsonValue* v = item.get(key);
      return v && v->type == JsonValue::Type::String;
    };
    // Four distinct members, so nothing else and nothing twice.
    if (!item.isObject() || item.members.size() != 4 || !isString("path") || !isString("dest") ||
        !isString("ondup") || !isString("newname"))
      return "filelist of a move is not of {path,dest,ondup,newname}";
    const std::string ondup = item.string("ondup");
    if (ondup != "newcopy" && ondup != "fail" && ondup != "overwrite")
      return "ondup '" + ondup + "' is none of newcopy, fail, overwrite";
  }
  return {};
}

// A file operation touches the entry whose own path the value is, byte for byte:
// no trailing slash or other form of the path stands for it.
bool IsExactPath(const FileTree& tree, const std::string& path) {
  std::optional<EntryInfo> entry = tree.find(path);
  return entry && entry->path == path;
}

// The reply of a delete that the busy or identity faults answer; nullopt otherwise.
std::optional<Reply> DeleteFault(Service& service, const std::string& requestId,
                                 const std::string& firstPath) {
  FileManagerFaults& f = service.faults.fileManager;
  if (f.identityCheck.load()) {
    return Reply{.body = "{\"errno\":132,\"request_id\":" + requestId +
                         ",\"show_msg\":" + JsonString("为了你的帐号安全，请完成身份验证") + "}"};
  }
  if (!TakeOne(f.busyDeletes)) return std::nullopt;
  if (f.busyCode.load() == 31034)
    return Reply{.body = "{\"errno\":31034,\"request_id\":" + requestId + "}"};
  return Reply{.body = "{\"errno\":12,\"info\":[{\"errno\":111,\"path\":" + JsonString(firstPath) +
                       "}],\"request_id\":" + requestId + ",\"taskid\":0}"};
}

int MoveErrno(FileTree::MoveResult moved) {
  switch (moved) {
    case FileTree::MoveResult::Moved:
      return 0;
    case FileTree::MoveResult::SourceMissing:
      return -9;
    case FileTree::MoveResult::Exists:
      return -8;
    case FileTree::MoveResult::TargetMissing:
    case FileTree::MoveResult::Invalid:
      break;
  }
  return -7;
}

// The delete or move of a well-formed request: the delete faults first, then
// each item on its own; an item in `foreignItem` names another login's path (or
// dest) and is answered -9 untouched.
Reply Operate(Service& service, const Call& call, const JsonValue& list,
              const std::vector<bool>& foreignItem) {
  const std::string opera = QueryValue(call.query, "opera");
  FileTree& tree = call.account->tree;
  Reply r;
  std::string rid = service.nextRequestId();
  std::string info;
  bool allOk = true;
  auto addInfo = [&](int code, const std::string& path) {
    if (code != 0) allOk = false;
    info += (info.empty() ? "" : ",") + std::string("{\"errno\":") + std::to_string(code) +
            ",\"path\":" + JsonString(path) + "}";
  };
  if (opera == "delete") {
    std::string first =
        list.items[0].type == JsonValue::Type::String ? list.items[0].text : std::string();
    if (std::optional<Reply> fault = DeleteFault(service, rid, first)) return *fault;
    for (size_t i = 0; i < list.items.size(); ++i) {
      const std::string& path = list.items[i].text;
      const bool removed = !foreignItem[i] && IsExactPath(tree, path) && tree.remove(path);
      addInfo(removed ? 0 : -9, path);
    }
  } else {
    for (size_t i = 0; i < list.items.size(); ++i) {
      const JsonValue& item = list.items[i];
      std::string path = item.string("path");
      std::string dest = item.string("dest");
      std::string ondup = item.string("ondup");
      OnDup mode = ondup == "newcopy"     ? OnDup::NewCopy
                   : ondup == "overwrite" ? OnDup::Overwrite
                                          : OnDup::Fail;
      if (foreignItem[i]) {
        addInfo(-9, path);
        continue;
      }
      FileTree::MoveResult moved = !IsExactPath(tree, path) ? FileTree::MoveResult::SourceMissing
                                   : !IsExactPath(tree, dest)
                                       ? FileTree::MoveResult::TargetMissing
                                       : tree.move(path, dest, item.string("newname"), mode);
      addInfo(MoveErrno(moved), path);
    }
  }
  if (allOk && QueryValue(call.query, "async") != "0") {
    r.body = "{\"errno\":0,\"info\":[],\"request_id\":" + rid +
             ",\"taskid\":" + service.drawDigits(15) + "}";
    return r;
  }
  r.body = "{\"errno\":" + std::string(allOk ? "0" : "12") + ",\"info\":[" + info +
           "],\"request_id\":" + rid + ",\"taskid\":0}";
  return r;
}

}  // namespace

Reply AnswerFileManager(Service& service, const Call& call) {
  const QueryItems& q = call.query;
  std::string bad = CheckFileManagerQuery(call.entry.query);
  if (bad.empty()) bad = CheckFormContentType(call.entry.header("Content-Type"));
  if (bad.empty()) bad = CheckFileManagerForm(call.entry.body);
  const bool isDelete = QueryValue(q, "opera") == "delete";
  JsonValue list;
  bool hasList = false;
  std::string listText = QueryValue(call.form, "filelist", &hasList);
  if (bad.empty() &&
      (!hasList || !ParseJson(listText, list) || !list.isArray() || list.items.empty()))
    bad = "filelist is not a JSON array";
  if (bad.empty()) bad = CheckFileList(list, isDelete);
  if (!bad.empty()) return service.reject(bad);
  if (std::optional<Reply> refused = service.refuseFileOp(q, call.account)) return *refused;
  const Account& account = *call.account;
  // An item that names another login's path (or dest) is answered -9 on its own,
  // and the request is the client's fault whatever answers it.
  std::vector<std::string> foreign;
  auto isForeign = [&](const std::string& path) {
    std::string whose = service.foreignPath(account, path);
    if (whose.empty()) return false;
    foreign.push_back(std::move(whose));
    return true;
  };
  std::vector<bool> foreignItem;
  for (const JsonValue& item : list.items) {
    if (isDelete) {
      foreignItem.push_back(isForeign(item.text));
    } else {
      // Both, so that the log names every foreign path.
      const bool source = isForeign(item.string("path"));
      const bool dest = isForeign(item.string("dest"));
      foreignItem.push_back(source || dest);
    }
  }
  Reply r = Operate(service, call, list, foreignItem);
  r.rejection = Service::foreignRejection(account, foreign);
  return r;
}

}  // namespace pansift::sim
