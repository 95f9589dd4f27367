// /api/create: a folder in the login's tree, under a free name ("name(1)", ...)
// when the name is taken; errno -9 (logged as rejected) when its parent is a
// folder of another login's tree.
#include "endpoints.h"
#include "query_checks.h"

namespace pansift::sim {

Reply AnswerCreate(Service& service, const Call& call) {
  std::string bad = CheckCreateQuery(call.entry.query);
  if (bad.empty()) bad = CheckFormContentType(call.entry.header("Content-Type"));
  if (bad.empty()) bad = CheckCreateForm(call.entry.body);
  if (!bad.empty()) return service.reject(bad);
  if (std::optional<Reply> refused = service.refuseFileOp(call.query, call.account))
    return *refused;
  Reply r;
  const std::string path = QueryValue(call.form, "path");
  // The folder goes into one of the login's folders (made when missing), never
  // into a folder the client saw in another login's tree.
  const size_t slash = path.rfind('/');
  const std::string parent = slash == std::string::npos || slash == 0 ? "/" : path.substr(0, slash);
  if (std::string whose = service.foreignPath(*call.account, parent); !whose.empty()) {
    r.body = service.errnoReply(-9);
    r.rejection = Service::foreignRejection(*call.account, {whose});
    return r;
  }
  std::int64_t now = NowSeconds();
  std::uint64_t fsId = 0;
  std::string created = call.account->tree.createFolderUnique(path, now, &fsId);
  if (created.empty()) {
    r.body = service.errnoReply(-7);
    return r;
  }
  std::string t = std::to_string(now);
  r.body = "{\"fs_id\":" + std::to_string(fsId) + ",\"path\":" + JsonString(created) +
           ",\"ctime\":" + t + ",\"mtime\":" + t +
           ",\"status\":0,\"errno\":0,\"name\":" + JsonString(created) +
           ",\"category\":6,\"isdir\":1,\"request_id\":" + service.nextRequestId() + "}";
  return r;
}

}  // namespace pansift::sim
