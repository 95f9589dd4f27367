#include "netdisk/conventions.h"

#include "core/app_state.h"
#include "util/random.h"

namespace pansift {

std::string NetdiskUrl(const AppState& app, std::string_view pathAndQuery) {
  std::string url = app.origins.netdisk;
  url += pathAndQuery;
  return url;
}

std::string FixedLogId() {
  return "479995006038637" + RandomDigits(5, kAnyDigit);
}

}  // namespace pansift
