// /api/list: one page of a folder of the login's tree, in the order asked for,
// each entry in the service's key order.
#include <cstdio>
#include <random>

#include "endpoints.h"
#include "query_checks.h"

namespace pansift::sim {
namespace {

int Category(const std::string& name, bool isdir) {
  if (isdir) return 6;
  std::string ext =
      name.substr(name.rfind('.') == std::string::npos ? name.size() : name.rfind('.') + 1);
  for (char& c : ext) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
  if (ext == "mp4" || ext == "mkv" || ext == "avi") return 1;
  if (ext == "mp3" || ext == "flac") return 2;
  if (ext == "jpg" || ext == "png" || ext == "gif") return 3;
  if (ext == "txt" || ext == "pdf" || ext == "docx" || ext == "xlsx") return 4;
  if (ext == "exe" || ext == "apk") return 5;
  if (ext == "torrent") return 7;
  return 6;
}

}  // namespace

Reply AnswerList(Service& service, const Call& call) {
  const QueryItems& q = call.query;
  // Every key in order, with its value (query_checks.h).
  if (std::string bad = CheckListQuery(call.entry.query); !bad.empty()) return service.reject(bad);
  std::string order = QueryValue(q, "order");
  if (std::optional<Reply> refused = service.refuseDeadLogin(call.account)) return *refused;
  Reply r;
  std::string dir = QueryValue(q, "dir");
  std::uint64_t page = std::strtoull(QueryValue(q, "page").c_str(), nullptr, 10);
  std::uint64_t num = std::strtoull(QueryValue(q, "num").c_str(), nullptr, 10);
  if (num > 1000) num = 1000;
  if (!FileTree::validPath(dir)) {
    r.body = service.errnoReply(-7);
    return r;
  }
  std::vector<EntryInfo> entries;
  FileTree::ListResult result =
      call.account->tree.list(dir, order, QueryValue(q, "desc") == "1", page, num, entries);
  if (result != FileTree::ListResult::Ok) {
    r.body = service.errnoReply(-9);
    return r;
  }
  std::string body = "{\"errno\":0,\"guid_info\":\"\",\"list\":[";
  for (size_t i = 0; i < entries.size(); ++i) {
    const EntryInfo& e = entries[i];
    std::string t = std::to_string(e.mtime);
    if (i) body += ',';
    body += "{\"server_filename\":" + JsonString(e.name) + ",\"isdir\":" + (e.isdir ? "1" : "0") +
            ",\"path\":" + JsonString(e.path) + ",\"size\":" + std::to_string(e.size) +
            ",\"fs_id\":" + std::to_string(e.fsId) +
            ",\"category\":" + std::to_string(Category(e.name, e.isdir)) +
            ",\"server_mtime\":" + t + ",\"server_ctime\":" + t + ",\"local_mtime\":" + t +
            ",\"local_ctime\":" + t + ",\"unlist\":0,\"share\":0,\"oper_id\":0";
    if (!e.isdir) {
      std::mt19937_64 md5(e.fsId);
      char buf[33];
      snprintf(buf, sizeof buf, "%016llx%016llx", static_cast<unsigned long long>(md5()),
               static_cast<unsigned long long>(md5()));
      body += ",\"md5\":\"" + std::string(buf) + "\"";
    } else {
      body += ",\"dir_empty\":0";
    }
    body += '}';
  }
  body += "],\"request_id\":" + service.nextRequestId() + ",\"guid\":0}";
  r.body = std::move(body);
  return r;
}

}  // namespace pansift::sim
