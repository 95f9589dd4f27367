// What every request to the service has in common: the origin, the browser's
// User-Agent line, the log ids and the fixed query values.
#pragma once

#include <string>
#include <string_view>

namespace pansift {

struct AppState;

/// The one header line the identity read passes: a desktop browser's User-Agent.
inline constexpr const char* kBrowserUserAgentLine =
    "User-Agent: Mozilla/5.0 (Windows NT 10.0; WOW64) AppleWebKit/537.36 (KHTML, like Gecko) "
    "Chrome/94.0.4606.71 Safari/537.36";

/// The Netdisk web origin followed by `pathAndQuery` ("/api/list?...").
std::string NetdiskUrl(const AppState& app, std::string_view pathAndQuery);

/// The fixed form of the dp-logid value: "479995006038637" and five random digits.
std::string FixedLogId();

}  // namespace pansift
