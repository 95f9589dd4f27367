// Where the service lives. The defaults are the real service's https origins;
// environment variables (and command-line options) point the program elsewhere,
// e.g. at the local simulator.
#pragma once

#include <string>

namespace pansift {

struct ServiceOrigins {
  std::string netdisk;   // the Netdisk web origin: scheme and host, no trailing slash
  std::string passport;  // the account passport origin
  std::string portal;    // the portal origin
};

/// The real service's origins, each overridden by PANSIFT_NETDISK_ORIGIN,
/// PANSIFT_PASSPORT_ORIGIN or PANSIFT_PORTAL_ORIGIN when set. A trailing "/" is dropped.
ServiceOrigins OriginsFromEnvironment();

/// `origin` without trailing slashes.
std::string TrimOrigin(std::string origin);

}  // namespace pansift
