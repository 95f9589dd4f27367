// The login pages: the passport's form (and the Netdisk origin's /login, which
// leads back to its redirecturl), the login that sets BAIDUID, BDUSS and STOKEN
// and redirects, and the portal page with its "网盘" and "登录" links. A login
// needs only a user name: the page lists every account as a button.
#pragma once

#include <string>

#include "service.h"

namespace pansift::sim {

/// The form, posting to `action`, that comes back to `target` after the login;
/// `message` (when not empty) says why the last try failed.
Reply LoginPage(const Service& service, const std::string& action, const std::string& target,
                const std::string& message);
/// Logs in the account the form names (making its login live again) and sends
/// the browser on to the form's "u", else `redirectUrl`, else the web page.
Reply DoLogin(Service& service, const QueryItems& form, const std::string& redirectUrl);
Reply PortalPage(const Service& service, const Account* account);

}  // namespace pansift::sim
