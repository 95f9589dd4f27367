// The login a request to the service carries: one account's user name, cookie string
// and bdstoken, handed as a value to whatever acts for that account.
#pragma once

#include <string>

namespace pansift {

/// An account's login (local text). A running task keeps the record it started
/// with, so its requests go out as that account whichever account operates later.
struct Credentials {
  std::string userName;
  std::string cookies;
  std::string bdstoken;
};

}  // namespace pansift
