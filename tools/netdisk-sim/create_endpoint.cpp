// /api/create: a folder in the login's tree, under a free name ("name(1)", ...)
// when the name is taken.
#include "endpoints.h"
#include "query_checks.h"

namespace pansift::sim {

Reply AnswerCreate(Service& service, const Call& call) {
  std::string bad = CheckCreateQuery(call.entry.query);
  if (bad.empty()) bad = CheckCreateForm(call.entry.body);
  if (!bad.empty()) return service.reject(bad);
  if (std::optional<Reply> refused = service.refuseFileOp(call.query, call.account))
    return *refused;
  Reply r;
  std::int64_t now = NowSeconds();
  std::uint64_t fsId = 0;
  std::string created =
      call.account->tree.createFolderUnique(QueryValue(call.form, "path"), now, &fsId);
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
