#include "login_pages.h"

namespace pansift::sim {
namespace {

std::string HtmlEscape(std::string_view s) {
  std::string out;
  for (char c : s) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      case '\'':
        out += "&#39;";
        break;
      default:
        out += c;
    }
  }
  return out;
}

}  // namespace

Reply LoginPage(const Service& service, const std::string& action, const std::string& target,
                const std::string& message) {
  Reply r;
  r.contentType = kHtml;
  std::string u = HtmlEscape(target);
  std::string act = HtmlEscape(action);
  std::string body =
      "<!DOCTYPE html><html><head><meta "
      "charset=\"utf-8\"><title>百度帐号登录</title></head><body>\n"
      "<h1>登录百度帐号</h1>\n";
  if (!message.empty()) body += "<p id=\"error\">" + HtmlEscape(message) + "</p>\n";
  body += "<form id=\"login\" method=\"post\" action=\"" + act +
          "\">\n<input type=\"hidden\" name=\"u\" value=\"" + u +
          "\">\n<label>用户名 <input type=\"text\" id=\"username\" name=\"username\"></label>\n"
          "<label>密码 <input type=\"password\" id=\"password\" name=\"password\"></label>\n"
          "<button type=\"submit\" id=\"submit\">登录</button>\n</form>\n<ul id=\"accounts\">\n";
  for (const auto& a : service.accounts) {
    std::string name = HtmlEscape(a->spec.userName);
    body += "<li><form method=\"post\" action=\"" + act +
            "\"><input type=\"hidden\" name=\"u\" value=\"" + u +
            "\"><input type=\"hidden\" name=\"username\" value=\"" + name +
            "\"><button type=\"submit\" class=\"account\" id=\"login-" + a->spec.uk + "\">" + name +
            "</button></form></li>\n";
  }
  body += "</ul>\n</body></html>\n";
  r.body = std::move(body);
  return r;
}

Reply DoLogin(Service& service, const QueryItems& form, const std::string& redirectUrl) {
  std::string target = QueryValue(form, "u");
  if (target.empty()) target = redirectUrl;
  if (target.empty()) target = service.originOf(Origin::Netdisk) + "/disk/main";
  std::string action =
      redirectUrl.empty() ? "/v2/api/?login" : "/login?redirecturl=" + PercentEncode(redirectUrl);
  Account* account = service.findAccount(QueryValue(form, "username"));
  if (!account) return LoginPage(service, action, target, "用户名或密码有误，请重新输入");
  account->spec.login = LoginState::Live;
  Reply r;
  r.status = 302;
  r.contentType = kHtml;
  r.headers.emplace_back("Location", target);
  std::string attributes = "; expires=Fri, 01 Jan 2100 00:00:00 GMT; path=/";
  if (service.options.hostNames) attributes += "; domain=.sim.localhost";
  attributes += "; secure";
  r.headers.emplace_back("Set-Cookie", "BAIDUID=" + account->spec.baiduid + attributes);
  r.headers.emplace_back("Set-Cookie", "BDUSS=" + account->spec.bduss + attributes + "; httponly");
  r.headers.emplace_back("Set-Cookie",
                         "STOKEN=" + account->spec.stoken + attributes + "; httponly");
  r.body = "<html><body>Found</body></html>";
  return r;
}

Reply PortalPage(const Service& service, const Account* account) {
  Reply r;
  r.contentType = kHtml;
  std::string portalOrigin = service.originOf(Origin::Portal);
  std::string login = service.originOf(Origin::Passport) +
                      "/v2/?login&tpl=mn&u=" + PercentEncode(portalOrigin + "/");
  r.body =
      "<!DOCTYPE html><html><head><meta "
      "charset=\"utf-8\"><title>百度一下，你就知道</title></head><body>\n"
      "<div id=\"top\"><a id=\"netdisk\" target=\"_blank\" href=\"" +
      HtmlEscape(service.originOf(Origin::Netdisk) + "/disk/main") +
      "\">网盘</a></div>\n<div id=\"right\">" +
      (account ? "<span id=\"user\">" + HtmlEscape(account->spec.userName) + "</span>"
               : "<a id=\"login\" href=\"" + HtmlEscape(login) + "\">登录</a>") +
      "</div>\n</body></html>\n";
  return r;
}

}  // namespace pansift::sim
