// /api/gettemplatevariable: the sign material, a new sign with a timestamp of
// its own at every fetch (sign_book.h), only the fields asked for.
#include "endpoints.h"
#include "query_checks.h"

namespace pansift::sim {
namespace {

// JavaScript the web page would run to sign; the service sends it as sign2.
const char* const kSign2 =
    "function s(j,r){var a=[];var p=[];var o=\"\";var v=j.length;for(var "
    "q=0;q<256;q++){a[q]=j.substr((q%v),1)."
    "charCodeAt(0);p[q]=q}for(var u=q=0;q<256;q++){u=(u+p[q]+a[q])%256;var "
    "t=p[q];p[q]=p[u];p[u]=t}for(var i=u=q=0;"
    "q<r.length;q++){i=(i+1)%256;u=(u+p[i])%256;var "
    "t=p[i];p[i]=p[u];p[u]=t;k=p[((p[i]+p[u])%256)];o+=String."
    "fromCharCode(r.charCodeAt(q)^k)}return o};";

}  // namespace

Reply AnswerTemplateVariable(Service& service, const Call& call) {
  std::string bad = CheckTemplateVariableQuery(call.entry.query);
  JsonValue fields;
  if (bad.empty() && (!ParseJson(QueryValue(call.query, "fields"), fields) || !fields.isArray()))
    bad = "fields is not a JSON array";
  if (!bad.empty()) return service.reject(bad);
  if (std::optional<Reply> refused = service.refuseDeadLogin(call.account)) return *refused;
  Reply r;
  SignBook::Material m = call.account->signs.issue(service.rng, NowSeconds());
  auto wanted = [&](std::string_view name) {
    for (const JsonValue& f : fields.items) {
      if (f.text == name) return true;
    }
    return false;
  };
  std::string result;
  auto add = [&](std::string_view name, const std::string& value) {
    if (!wanted(name)) return;
    result += (result.empty() ? "" : ",") + std::string("\"") + std::string(name) + "\":" + value;
  };
  add("sign1", JsonString(m.sign1));
  add("sign2", JsonString(kSign2));
  add("sign3", JsonString(m.sign3));
  add("timestamp", std::to_string(m.timestamp));
  r.body =
      "{\"errno\":0,\"request_id\":" + service.nextRequestId() + ",\"result\":{" + result + "}}";
  return r;
}

}  // namespace pansift::sim
