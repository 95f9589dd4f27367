// /api/download: the probe's request for download links. The sign must be one
// this login fetched, with the timestamp of that fetch (sign_book.h); a batch
// that names a file that is not the login's gets errno -9 (and is logged as
// rejected), one with a blocked file errno -1, any other the links of its files.
#include <charconv>

#include "endpoints.h"
#include "query_checks.h"

namespace pansift::sim {
namespace {

// The download's replies that stand in for the sign check (DownloadFaults).
std::optional<Reply> DownloadFault(Service& service, LoggedRequest& entry) {
  DownloadFaults& f = service.faults.download;
  if (TakeOne(f.rateLimitReplies)) {
    entry.fault = "rate limit";
    return Reply{.body = service.rateLimitReply()};
  }
  if (TakeOne(f.unknownReplies)) {
    entry.fault = "unknown reply";
    return Reply{.body = "{\"errno\":31045,\"request_id\":" + service.nextRequestId() +
                         ",\"show_msg\":" + JsonString("未知错误") + "}"};
  }
  if (TakeOne(f.refusedSigns)) {
    entry.fault = "sign refused";
    return Reply{.body = service.errnoReply(112)};
  }
  return std::nullopt;
}

// The answer to a well-formed download of a live login: a fault in place of the
// sign check, the sign check, then errno -9 when it names a file that is not the
// login's, -1 when a file is blocked, else the links of its files.
Reply Links(Service& service, Call& call, Account& account, const std::vector<std::uint64_t>& ids,
            bool namesForeignFiles) {
  if (std::optional<Reply> fault = DownloadFault(service, call.entry)) return *fault;
  const QueryItems& q = call.query;
  Reply r;
  std::int64_t timestamp = std::strtoll(QueryValue(q, "timestamp").c_str(), nullptr, 10);
  switch (account.signs.check(QueryValue(q, "sign"), timestamp, NowSeconds(),
                              service.faults.download.signUses.load(),
                              service.faults.download.signMaxAgeSeconds.load())) {
    case SignBook::Verdict::kAccepted:
      break;
    case SignBook::Verdict::kExpired:
      r.body = service.errnoReply(112);
      return r;
    case SignBook::Verdict::kUnknown:
      r.body = service.errnoReply(113);
      return r;
    case SignBook::Verdict::kForeignTimestamp:
      // The client paired a sign with the timestamp of another fetch: its fault.
      r.body = service.errnoReply(113);
      r.rejection = "sign sent with the timestamp of another fetch";
      return r;
  }
  // No such file among the login's: the whole request fails.
  if (namesForeignFiles) {
    r.body = service.errnoReply(-9);
    return r;
  }
  for (std::uint64_t id : ids) {
    auto e = account.tree.findById(id);
    if (e && e->blocked) {
      r.body = service.errnoReply(-1);
      return r;
    }
  }
  std::string links;
  for (std::uint64_t id : ids) {
    auto e = account.tree.findById(id);
    if (!e || e->isdir) continue;
    std::string fid = std::to_string(id);
    links +=
        (links.empty() ? "" : ",") + std::string("{\"fs_id\":\"") + fid + "\",\"dlink\":" +
        JsonString(service.originOf(Origin::Netdisk) + "/file/" + fid + "?fid=" + account.spec.uk +
                   "-250528-" + fid + "&dstime=" + std::to_string(timestamp)) +
        "}";
  }
  r.body = "{\"errno\":0,\"request_id\":" + service.nextRequestId() + ",\"dlink\":[" + links + "]}";
  return r;
}

}  // namespace

Reply AnswerDownload(Service& service, Call& call) {
  const QueryItems& q = call.query;
  std::string bad = CheckDownloadQuery(call.entry.query);
  // Every id of the list is a number the service could have handed out.
  JsonValue fidlist;
  std::vector<std::uint64_t> ids;
  if (bad.empty() && (!ParseJson(QueryValue(q, "fidlist"), fidlist) || !fidlist.isArray() ||
                      fidlist.items.empty()))
    bad = "fidlist is not a JSON array of ids";
  for (size_t i = 0; bad.empty() && i < fidlist.items.size(); ++i) {
    const JsonValue& v = fidlist.items[i];
    std::uint64_t id = 0;
    const char* end = v.text.data() + v.text.size();
    auto [stop, error] = std::from_chars(v.text.data(), end, id);
    if (v.type != JsonValue::Type::Number || error != std::errc() || stop != end)
      bad = "fidlist item " + std::to_string(i + 1) + " '" + v.text + "' is no fs_id";
    ids.push_back(id);
  }
  if (!bad.empty()) return service.reject(bad);
  if (std::optional<Reply> refused = service.refuseDeadLogin(call.account)) return *refused;
  Account& account = *call.account;
  std::vector<std::string> foreign;
  for (std::uint64_t id : ids) {
    if (std::string whose = service.foreignId(account, id); !whose.empty())
      foreign.push_back(std::move(whose));
  }
  // Asking about another login's files is the client's fault, whatever answers it.
  const std::string rejection = Service::foreignRejection(account, foreign);
  Reply r = Links(service, call, account, ids, !foreign.empty());
  if (!rejection.empty()) r.rejection += (r.rejection.empty() ? "" : "; ") + rejection;
  return r;
}

}  // namespace pansift::sim
